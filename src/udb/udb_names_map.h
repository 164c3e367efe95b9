#pragma once

#include <map>
#include <string>

/// The table and column names a database generated for source names.
class udb_names_map {
public:
    using column_map = std::map<std::wstring, std::wstring>;  ///< source column name -> generated name

    std::map<std::wstring, std::wstring> tables;  ///< source table name -> generated table name
    std::map<std::wstring, column_map> fields;    ///< table name -> its column map

    /// The generated name of a source table; an unknown name comes back unchanged.
    std::wstring get_tn_mapped_name(const std::wstring& table, bool case_sensitive) const;
    /// The generated name of a column of a table (the table is looked up by exact key); an unknown
    /// table or column comes back unchanged.
    std::wstring get_fn_mapped_name(const std::wstring& table, const std::wstring& column, bool case_sensitive) const;
    /// Registers a table's column map; a table already present keeps its former map.
    void add_fn_map(const std::wstring& table, const column_map& columns);
};
