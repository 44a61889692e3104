#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Comma-separated values as plan files and reports use them: fields
// separated by commas, records by CRLF or LF; a field in double quotes may
// hold commas, line breaks and doubled quotes. The first record is the
// header.

struct CsvRecord {
    size_t line = 0;  // the file line the record starts on, from 1
    std::vector<std::string> fields;
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
