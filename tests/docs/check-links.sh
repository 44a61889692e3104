#!/usr/bin/env bash
# Checks the relative links of README.md and docs/*.md (`make check-docs`):
#
#   check-links.sh [SOURCE_DIR]
#
# Every link that names no scheme (http:, mailto:, ...) must point at a file
# or folder of the tree, and a link with a #fragment into a Markdown file at a
# heading that file has, by the anchor rule of GitHub's web view: the
# heading's text lower-cased, inline code marks and link syntax removed,
# punctuation dropped but for hyphens and underscores, each space a hyphen;
# the second heading with the same anchor gets -1, the third -2, ...
#
# Links are the inline ones, [text](target) and ![alt](target), and reference
# definitions, [name]: target; those inside code (fenced blocks, `spans`)
# are text, not links. Headings are ATX headings (# to ######).
#
# Exit status: 0 when every link resolves, 1 otherwise, each broken link
# named with its file and line.
set -euo pipefail

source_dir=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
cd "$source_dir"

files=(README.md)
while IFS= read -r file; do
    files+=("$file")
done < <(find docs -name '*.md' | LC_ALL=C sort)

# One line per heading ("H", file, anchor) and per link ("L", file, line,
# target), tab-separated.
scan() {
    # The typographic quotes in the program are data, not shell quoting.
    # shellcheck disable=SC1112
    awk '
        BEGIN {
            for (i = 1; i < 128; i++) ascii = ascii sprintf("%c", i)
            # Punctuation outside ASCII that a heading may hold: dropped too.
            split("— – → ← … “ ” ‘ ’ « » × · °", wide, " ")
            # Capitals of Latin-1 (À to Þ but ×) and their small letters: the
            # tolower of awk knows only those of ASCII.
            for (i = 128; i <= 158; i++)
                if (i != 151) small[sprintf("%c%c", 195, i)] = sprintf("%c%c", 195, i + 32)
        }
        FNR == 1 { fence = ""; delete seen }
        # Fenced code: a fence ends only with the character that opened it.
        match($0, /^ ? ? ?(```|~~~)/) {
            mark = substr($0, RSTART + RLENGTH - 3, 3)
            if (fence == "") fence = mark
            else if (mark == fence) fence = ""
            next
        }
        fence != "" { next }
        /^ ? ? ?#+( |$)/ {
            text = $0
            sub(/^ *#+ */, "", text)
            sub(/ +#+ *$/, "", text)
            sub(/ +$/, "", text)
            print "H\t" FILENAME "\t" unique(slug(plain(text)))
        }
        {
            line = $0
            gsub(/`[^`]*`/, "", line)
            if (match(line, /^ ? ? ?\[[^]]+\]: *[^ ]+/)) {
                target = substr(line, RSTART, RLENGTH)
                sub(/^[^]]*\]: */, "", target)
                print "L\t" FILENAME "\t" FNR "\t" target
            }
            while (match(line, /\]\([^)]*\)/)) {
                target = substr(line, RSTART + 2, RLENGTH - 3)
                line = substr(line, RSTART + RLENGTH)
                sub(/^ +/, "", target)
                sub(/ .*$/, "", target)  # a title after the target
                gsub(/^<|>$/, "", target)
                print "L\t" FILENAME "\t" FNR "\t" target
            }
        }
        # The text a heading shows: no code marks, emphasis or link syntax.
        function plain(text) {
            while (match(text, /!?\[[^]]*\]\([^)]*\)/)) {
                shown = substr(text, RSTART, RLENGTH)
                sub(/^!?\[/, "", shown)
                sub(/\]\(.*$/, "", shown)
                text = substr(text, 1, RSTART - 1) shown substr(text, RSTART + RLENGTH)
            }
            gsub(/<[^>]*>|[`*]/, "", text)
            return text
        }
        function slug(text,    i, c, out) {
            text = tolower(text)
            for (i in small) gsub(i, small[i], text)
            for (i in wide) gsub(wide[i], "", text)
            out = ""
            for (i = 1; i <= length(text); i++) {
                c = substr(text, i, 1)
                if (c == " ") out = out "-"
                else if (c ~ /[a-z0-9_-]/ || index(ascii, c) == 0) out = out c
            }
            return out
        }
        function unique(anchor,    n) {
            if (!(anchor in seen)) {
                seen[anchor] = 1
                return anchor
            }
            for (n = 1; (anchor "-" n) in seen; n++) {}
            seen[anchor "-" n] = 1
            return anchor "-" n
        }
    ' "$@"
}

declare -A anchors=()
links=()
while IFS=$'\t' read -r kind file rest; do
    if [ "$kind" = H ]; then
        anchors["$file#$rest"]=1
    else
        links+=("$file"$'\t'"$rest")
    fi
done < <(scan "${files[@]}")

broken=0
for entry in "${links[@]}"; do
    IFS=$'\t' read -r file line target <<<"$entry"
    # Another site (a scheme such as https: or mailto:, or //host): not ours.
    if [[ "$target" =~ ^[a-zA-Z][a-zA-Z0-9+.-]*: || "$target" == //* ]]; then
        continue
    fi
    path=${target%%#*}
    anchor=
    [ "$path" != "$target" ] && anchor=${target#*#}
    if [ -z "$path" ]; then
        resolved=$file
    else
        resolved=$(realpath -m --relative-to=. "$(dirname "$file")/$path")
        if [ ! -e "$resolved" ]; then
            echo "$file:$line: $target: no such file ($resolved)" >&2
            broken=$((broken + 1))
            continue
        fi
    fi
    if [ -n "$anchor" ] && [[ "$resolved" == *.md ]] && [ -z "${anchors["$resolved#$anchor"]+set}" ]; then
        if [[ " ${files[*]} " != *" $resolved "* ]]; then
            echo "$file:$line: $target: $resolved is not among the checked documents" >&2
        else
            echo "$file:$line: $target: $resolved has no heading with the anchor #$anchor" >&2
        fi
        broken=$((broken + 1))
    fi
done

if [ "$broken" -gt 0 ]; then
    echo "check-links: $broken broken link(s) in ${#files[@]} documents" >&2
    exit 1
fi
echo "check-links: ${#links[@]} links in ${#files[@]} documents, all resolve"
