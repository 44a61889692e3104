# Copies a manual page template, putting a program's --help text in place of
# the line `.\" velquint-docs: help`, as roff:
#
#   awk -v help=HELPFILE -f help2roff.awk TEMPLATE > PAGE
#
# The help text is read as the programs of this project write it: paragraphs
# at the left margin; a short line ending in ':' after a blank line heads a
# section; indented lines are a list of terms, each description starting at
# the same column as the first one's and continued further down at that
# column; an indented block without such a column (a command line) is an
# example. The "Usage:" line is left out: the page's SYNOPSIS says it.

function roff(text) {
    gsub(/\\/, "\\e", text)
    gsub(/-/, "\\-", text)
    sub(/^[.']/, "\\\\&&", text)
    return text
}

# "--device SETTINGS" -> bold option, italic argument.
function term(text,    space) {
    space = index(text, " ")
    if (space == 0) {
        return "\\fB" roff(text) "\\fR"
    }
    return "\\fB" roff(substr(text, 1, space - 1)) "\\fR \\fI" roff(substr(text, space + 1)) "\\fR"
}

function indented(line) {
    return line ~ /^  /
}

function blank(line) {
    return line ~ /^[ \t]*$/
}

function convert(    lines, n, i, line, state, column, gap, after, head) {
    n = 0
    while ((getline line < help) > 0) {
        lines[++n] = line
    }
    close(help)
    if (n == 0) {
        print "help2roff.awk: no help text in " help > "/dev/stderr"
        exit 1
    }
    # state: "" (between blocks), "para", "list", "example"
    state = ""
    for (i = 1; i <= n; i++) {
        line = lines[i]
        if (line ~ /^Usage:/) {
            continue
        }
        if (blank(line)) {
            if (state == "example") {
                print ".EE"
            }
            state = ""
            continue
        }
        if (!indented(line)) {
            if (state == "example") {
                print ".EE"
            }
            if (state == "" && line ~ /:$/ && length(line) <= 50 && i < n && indented(lines[i + 1])) {
                head = line
                sub(/:$/, "", head)
                print ".SS \"" roff(head) "\""
                state = "heading"
                continue
            }
            if (state != "para") {
                print ".PP"
            }
            print roff(line)
            state = "para"
            continue
        }
        # An indented line: a list item, a description going on, or an example.
        if (state == "list") {
            after = substr(line, column)
            if (substr(line, 1, column - 1) ~ /^ *$/) {
                print roff(after)
                continue
            }
            if (substr(line, column - 1, 1) == " " && after !~ /^ /) {
                head = substr(line, 3, column - 3)
                sub(/ +$/, "", head)
                print ".TP"
                print term(head)
                print roff(after)
                continue
            }
        }
        if (state == "example") {
            print roff(substr(line, 3))
            continue
        }
        # The first line of a block: a term, a gap of two blanks or more, and
        # its description.
        if (match(substr(line, 3), /[^ ]  +[^ ]/)) {
            gap = RSTART + 2
            column = RSTART + RLENGTH + 1
            print ".TP"
            print term(substr(line, 3, gap - 2))
            print roff(substr(line, column))
            state = "list"
            continue
        }
        print ".EX"
        print roff(substr(line, 3))
        state = "example"
    }
    if (state == "example") {
        print ".EE"
    }
}

$0 == ".\\\" velquint-docs: help" {
    convert()
    next
}

{ print }
