#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A row of a result is built once, one call per field, and each format
// decides how the field shows: a table for people ("-" for what is not
// known), CSV (an empty cell) or JSON (null). A field may show in some
// formats only.

enum FieldFormats : unsigned {
    kInTable = 1u << 0,
    kInCsv = 1u << 1,
    kInJson = 1u << 2,
    kInEveryFormat = kInTable | kInCsv | kInJson,
    // An empty text is a text all the same: "" in JSON, not null.
    kKeepEmpty = 1u << 3,
};

// A field's name: its JSON key and CSV column, and its table heading (the
// key in capitals unless given).
struct Column {
    Column(const char* key, const char* heading = nullptr) : key(key), heading(heading) {}
    const char* key;
    const char* heading;
};

class RowWriter {
public:
    virtual ~RowWriter() = default;

    // Text; empty for no value.
    virtual void Text(Column column, const std::string& text,
                      unsigned formats = kInEveryFormat) = 0;
    virtual void Number(Column column, std::optional<int64_t> number,
                        unsigned formats = kInEveryFormat) = 0;
    // True or false: in JSON as such, elsewhere "yes" or "no".
    virtual void Flag(Column column, bool flag, unsigned formats = kInEveryFormat) = 0;
    // A JSON array of texts; in a table and in CSV joined by commas.
    virtual void Names(Column column, const std::vector<std::string>& names,
                       unsigned formats = kInEveryFormat) = 0;
    // The fields until End form a group: in JSON an object under `key` (null
    // when not `present`; a field without a value is left out when `sparse`),
    // in CSV columns whose names end in `csvSuffix`, in a table the fields as
    // they are.
    virtual void Begin(const char* key, bool present, const char* csvSuffix = "",
                       bool sparse = false) = 0;
    virtual void End() = 0;

    void Address(Column column, const std::optional<uint32_t>& address,
                 unsigned formats = kInEveryFormat);
};

// A row in one format.
class FormatRow : public RowWriter {
public:
    void Text(Column column, const std::string& text, unsigned formats = kInEveryFormat) override;
    void Number(Column column, std::optional<int64_t> number,
                unsigned formats = kInEveryFormat) override;
    void Flag(Column column, bool flag, unsigned formats = kInEveryFormat) override;
    void Names(Column column, const std::vector<std::string>& names,
               unsigned formats = kInEveryFormat) override;
    void Begin(const char* key, bool present, const char* csvSuffix = "",
               bool sparse = false) override;
    void End() override;

    enum class Kind { Table, Csv, Json };
    explicit FormatRow(Kind kind);
    ~FormatRow() override;
    FormatRow(FormatRow&&) noexcept;
    FormatRow& operator=(FormatRow&&) noexcept;

    // The table's headings or the CSV's column names, and the cells.
    const std::vector<std::string>& Names() const { return names_; }
    const std::vector<std::string>& Cells() const { return cells_; }
    const nlohmann::ordered_json& Json() const;

private:
    struct Group;
    bool Shows(unsigned formats) const;
    void Put(Column column, const std::string& cell, const nlohmann::ordered_json& value);

    Kind kind_;
    std::vector<std::string> names_;
    std::vector<std::string> cells_;
    std::unique_ptr<nlohmann::ordered_json> json_;
    std::vector<Group> groups_;
};

// Rows of one kind of item, each put by `put`, written in each format: a
// table (nothing for no rows), CSV (its header always; `prototype`'s row
// names the columns) or JSON (JsonRows of PutRows, an array of objects).
template <typename Item, typename Put>
void WriteTable(std::ostream& out, const std::vector<Item>& items, const Put& put);
template <typename Item, typename Put>
void WriteCsv(std::ostream& out, const std::vector<Item>& items, const Item& prototype,
              const Put& put);

// The table of rows already put, as PrintTable lays it out, one line a row.
void PrintRows(std::ostream& out, const std::vector<FormatRow>& rows);
std::vector<std::string> TableLines(const std::vector<FormatRow>& rows);
void PrintCsvRows(std::ostream& out, const FormatRow& header, const std::vector<FormatRow>& rows);
nlohmann::ordered_json JsonRows(const std::vector<FormatRow>& rows);

template <typename Item, typename Put>
std::vector<FormatRow> PutRows(FormatRow::Kind kind, const std::vector<Item>& items,
                               const Put& put) {
    std::vector<FormatRow> rows;
    for (const Item& item : items) {
        rows.emplace_back(kind);
        put(rows.back(), item);
    }
    return rows;
}

template <typename Item, typename Put>
void WriteTable(std::ostream& out, const std::vector<Item>& items, const Put& put) {
    PrintRows(out, PutRows(FormatRow::Kind::Table, items, put));
}

template <typename Item, typename Put>
void WriteCsv(std::ostream& out, const std::vector<Item>& items, const Item& prototype,
              const Put& put) {
    FormatRow header(FormatRow::Kind::Csv);
    put(header, prototype);
    PrintCsvRows(out, header, PutRows(FormatRow::Kind::Csv, items, put));
}
