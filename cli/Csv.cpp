#include "cli/Csv.h"

namespace {

constexpr char kQuote = '"';
constexpr char kComma = ',';
constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';

}  // namespace

bool ReadCsv(std::string_view text, std::vector<CsvRecord>* records, std::string* error) {
    records->clear();
    size_t line = 1;
    size_t at = 0;
    const auto fail = [&](const std::string& what) {
        *error = "line " + std::to_string(line) + ": " + what;
        return false;
    };
    while (at < text.size()) {
        CsvRecord record;
        record.line = line;
        // A line with no characters at all holds no record.
        if (text[at] == kLineFeed ||
            (text[at] == kCarriageReturn && at + 1 < text.size() && text[at + 1] == kLineFeed)) {
            at += text[at] == kLineFeed ? 1 : 2;
            ++line;
            continue;
        }
        bool recordEnds = false;
        while (!recordEnds) {
            std::string field;
            if (at < text.size() && text[at] == kQuote) {
                const size_t opened = line;
                ++at;
                for (;;) {
                    if (at >= text.size()) {
                        line = opened;
                        return fail("a quoted field does not end");
                    }
                    const char c = text[at++];
                    if (c == kQuote) {
                        if (at < text.size() && text[at] == kQuote) {
                            field += kQuote;
                            ++at;
                            continue;
                        }
                        break;
                    }
                    if (c == '\0') {
                        return fail("a zero byte");
                    }
                    if (c == kLineFeed) {
                        ++line;
                    }
                    field += c;
                }
            } else {
                while (at < text.size() && text[at] != kComma && text[at] != kLineFeed &&
                       !(text[at] == kCarriageReturn && at + 1 < text.size() &&
                         text[at + 1] == kLineFeed)) {
                    if (text[at] == kQuote) {
                        return fail("a quote inside a field that does not start with one");
                    }
                    if (text[at] == '\0') {
                        return fail("a zero byte");
                    }
                    field += text[at++];
                }
            }
            record.fields.push_back(std::move(field));
            if (at >= text.size()) {
                recordEnds = true;
            } else if (text[at] == kComma) {
                ++at;
            } else if (text[at] == kLineFeed) {
                ++at;
                ++line;
                recordEnds = true;
            } else if (text[at] == kCarriageReturn && at + 1 < text.size() &&
                       text[at + 1] == kLineFeed) {
                at += 2;
                ++line;
                recordEnds = true;
            } else {
                return fail("characters after the closing quote of a field");
            }
        }
        records->push_back(std::move(record));
    }
    return true;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted(1, kQuote);
    for (const char c : text) {
        if (c == kQuote) {
            quoted += kQuote;
        }
        quoted += c;
    }
    quoted += kQuote;
    return quoted;
}

std::string CsvLine(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            line += kComma;
        }
        line += CsvField(fields[i]);
    }
    line += kLineFeed;
    return line;
}
