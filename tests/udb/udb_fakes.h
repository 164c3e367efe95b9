#pragma once
// Small in-test sides of the database model: enough behaviour to drive the base classes.

#include <memory>
#include <string>
#include <vector>

#include "udb/udb_database.h"
#include "udb/udb_engine.h"
#include "udb/udb_recordset.h"

namespace udb_test {

/// A record set over rows held in memory; appended rows are kept.
class memory_recordset : public udb_recordset {
public:
    std::vector<std::vector<ole_variant>> rows;
    std::vector<std::vector<std::wstring>> appended;  ///< appended rows as text

    using udb_recordset::udb_recordset;

    void append_record(udb_record& record) override
    {
        std::vector<std::wstring> texts;
        for (const auto& field : record)
            texts.push_back(field->to_wstring());
        appended.push_back(std::move(texts));
    }
    void reset() override { position = 0; }
    bool is_eof() override { return position >= rows.size(); }
    void next() override { ++position; }
    udb_record* get_item() override;

private:
    std::size_t position = 0;
    std::unique_ptr<udb_record> current;
};

/// A database whose tables are names only; it records the indexes it is asked to create.
class memory_database : public udb_database {
public:
    std::vector<std::wstring> created_indexes;  ///< "table:index" in call order

    explicit memory_database(bool case_sensitive = false) : udb_database(L"memory", 0, case_sensitive) {}

    std::unique_ptr<udb_recordset> create_table(const std::wstring& table_name, const udb_schema&,
                                                const udb_indexes&) override
    {
        tables.push_back(table_name);
        return std::make_unique<memory_recordset>(table_name, true);
    }
    std::unique_ptr<udb_recordset> get_query(const std::wstring& query_name, const std::wstring& sql, int) override
    {
        return std::make_unique<memory_recordset>(query_name, sql, true);
    }
    std::unique_ptr<udb_recordset> get_table(const std::wstring& table_name, int) override
    {
        return std::make_unique<memory_recordset>(table_name, true);
    }
    bool test_query(const std::wstring&) override { return true; }
    void create_index(const std::wstring& table_name, const udb_index& index) override
    {
        created_indexes.push_back(table_name + L":" + index.name);
    }
};

/// An engine of files: only the base operations are real.
class file_engine : public udb_engine {
public:
    std::unique_ptr<udb_database> create_db(const std::wstring&) override { return std::make_unique<memory_database>(); }
    std::unique_ptr<udb_database> open_db(const std::wstring&, int, const std::wstring&) override
    {
        return std::make_unique<memory_database>();
    }
};

/// A field whose type is the column's, not the value's, as the workbook side reports for empty cells.
class typed_field : public udb_field {
public:
    VARTYPE column_type;
    typed_field(std::wstring name, VARTYPE column_type) : column_type(column_type) { this->name = std::move(name); }
    VARTYPE get_type() const override { return column_type; }
};

/// A record built from values, one field per value, named c0, c1, ...
udb_record make_record(const std::vector<ole_variant>& values);

/// A field that counts its destructions, to check who owns it.
class counted_field : public udb_field {
public:
    int* destroyed;
    explicit counted_field(int* destroyed) : destroyed(destroyed) {}
    ~counted_field() override { ++*destroyed; }
};

}  // namespace udb_test
