#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Comma-separated values as plan files and reports use them, and as
// spreadsheets write them: fields separated by commas, records by CRLF, LF
// or a lone CR, a UTF-8 byte-order mark at the start ignored; a field in
// double quotes may hold commas, line breaks and doubled quotes. The first
// record is the header.

// Where a field starts: its line, and its column counted in characters from 1
// (a UTF-8 character is one column, as editors count), the opening quote of
// a quoted field included.
struct CsvPlace {
    size_t line = 0;
    size_t column = 0;
};

struct CsvRecord {
    size_t line = 0;  // the file line the record starts on, from 1
    std::vector<std::string> fields;
    std::vector<CsvPlace> places;  // one per field
};

// Reads every record of `text`. A blank line (no characters at all) is no
// record. False, with `error` saying what and where ("line 3: ..."), when
// the text is not well formed: a quote inside an unquoted field, characters
// after a closing quote, a quoted field that never ends, or a zero byte.
bool ReadCsv(std::string_view text, std::vector<CsvRecord>* records, std::string* error);

// One field as it must be written: quoted when it holds a comma, a quote or
// a line break, with its quotes doubled.
std::string CsvField(const std::string& text);

// A whole record, its fields joined by commas and ended by a line feed.
std::string CsvLine(const std::vector<std::string>& fields);
