#include "cli/Csv.h"

#include <algorithm>
#include <optional>

#include "common/Utf8.h"

namespace {

constexpr char kQuote = '"';
constexpr char kComma = ',';
constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Walks the text, knowing the line and column it stands on.
class CsvCursor {
public:
    explicit CsvCursor(std::string_view text) : text_(text) {}

    bool AtEnd() const { return at_ >= text_.size(); }
    char Peek() const { return text_[at_]; }
    CsvPlace Place() const { return {line_, column_}; }
    size_t Line() const { return line_; }

    // A line end here: CRLF, LF or a lone CR.
    bool AtLineEnd() const {
        return !AtEnd() && (Peek() == kLineFeed || Peek() == kCarriageReturn);
    }

    bool AtCrlf() const {
        return !AtEnd() && Peek() == kCarriageReturn && at_ + 1 < text_.size() &&
               text_[at_ + 1] == kLineFeed;
    }

    void SkipLineEnd() {
        at_ += AtCrlf() ? 2 : 1;
        ++line_;
        column_ = 1;
    }

    char Take() {
        const char c = text_[at_++];
        if (!ContinuesUtf8Character(c)) {
            ++column_;
        }
        return c;
    }

    // The bytes from here up to the first of `stops` (or the end), walked
    // over in one step; `stops` holds both line-end bytes, so the run stays
    // on one line.
    std::string_view TakeUntil(std::string_view stops) {
        const std::string_view run =
            text_.substr(at_, std::min(text_.find_first_of(stops, at_), text_.size()) - at_);
        column_ += static_cast<size_t>(std::count_if(
            run.begin(), run.end(), [](char c) { return !ContinuesUtf8Character(c); }));
        at_ += run.size();
        return run;
    }

private:
    std::string_view text_;
    size_t at_ = 0;
    size_t line_ = 1;
    size_t column_ = 1;
};

// Why a text is no CSV: the line and what is wrong there.
struct CsvError {
    size_t line;
    std::string what;
};

// A field in double quotes, the cursor on its opening quote. Bytes up to the
// next quote, line end or zero byte are taken a run at a time.
std::optional<CsvError> ReadQuotedField(CsvCursor& cursor, std::string* field) {
    constexpr std::string_view kStops("\"\r\n\0", 4);
    const size_t opened = cursor.Line();
    cursor.Take();
    for (;;) {
        field->append(cursor.TakeUntil(kStops));
        if (cursor.AtEnd()) {
            return CsvError{opened, "a quoted field does not end"};
        }
        if (cursor.AtLineEnd()) {
            // Kept as written, whichever line end it is.
            if (cursor.AtCrlf()) {
                *field += "\r\n";
            } else {
                *field += cursor.Peek();
            }
            cursor.SkipLineEnd();
            continue;
        }
        if (cursor.Take() == '\0') {
            return CsvError{cursor.Line(), "a zero byte"};
        }
        // A quote: the field's end, or a doubled quote that stands for one.
        if (cursor.AtEnd() || cursor.Peek() != kQuote) {
            return std::nullopt;
        }
        *field += kQuote;
        cursor.Take();
    }
}

// A field without quotes: everything up to the next comma or line end, in
// one piece.
std::optional<CsvError> ReadPlainField(CsvCursor& cursor, std::string* field) {
    constexpr std::string_view kStops(",\r\n\"\0", 5);
    field->assign(cursor.TakeUntil(kStops));
    if (!cursor.AtEnd() && cursor.Peek() == kQuote) {
        return CsvError{cursor.Line(), "a quote inside a field that does not start with one"};
    }
    if (!cursor.AtEnd() && cursor.Peek() == '\0') {
        return CsvError{cursor.Line(), "a zero byte"};
    }
    return std::nullopt;
}

// One record, the cursor at its first field; the cursor ends behind its line
// end.
std::optional<CsvError> ReadRecord(CsvCursor& cursor, CsvRecord* record) {
    record->line = cursor.Line();
    for (;;) {
        record->places.push_back(cursor.Place());
        std::string field;
        const std::optional<CsvError> error = !cursor.AtEnd() && cursor.Peek() == kQuote
                                                  ? ReadQuotedField(cursor, &field)
                                                  : ReadPlainField(cursor, &field);
        if (error) {
            return error;
        }
        record->fields.push_back(std::move(field));
        if (cursor.AtEnd()) {
            return std::nullopt;
        }
        if (cursor.AtLineEnd()) {
            cursor.SkipLineEnd();
            return std::nullopt;
        }
        if (cursor.Peek() != kComma) {
            return CsvError{cursor.Line(), "characters after the closing quote of a field"};
        }
        cursor.Take();
    }
}

}  // namespace

bool ReadCsv(std::string_view text, std::vector<CsvRecord>* records, std::string* error) {
    records->clear();
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    CsvCursor cursor(text);
    while (!cursor.AtEnd()) {
        // A line with no characters at all holds no record.
        if (cursor.AtLineEnd()) {
            cursor.SkipLineEnd();
            continue;
        }
        CsvRecord record;
        // Records are mostly as wide as the one before: room for that many
        // fields at once.
        if (!records->empty()) {
            record.fields.reserve(records->back().fields.size());
            record.places.reserve(records->back().fields.size());
        }
        if (const std::optional<CsvError> failed = ReadRecord(cursor, &record)) {
            *error = "line " + std::to_string(failed->line) + ": " + failed->what;
            return false;
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
