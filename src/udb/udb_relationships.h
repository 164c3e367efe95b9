#pragma once

#include <string>
#include <vector>

/// One foreign key: `table`'s `columns` reference `ref_table`'s `ref_columns`.
struct udb_relationship {
    std::wstring name;         ///< constraint name
    std::wstring second_text;  ///< carried along from the PostgreSQL reader; empty from the workbook side
    std::wstring table;
    std::wstring ref_table;
    std::wstring rule;         ///< text placed after the REFERENCES clause; may be empty
    std::vector<std::wstring> columns;
    std::vector<std::wstring> ref_columns;

    /// Unnamed; the name comes later from udb_relationships::gen_relship_name.
    udb_relationship(std::wstring table, std::wstring ref_table, std::vector<std::wstring> columns,
                     std::vector<std::wstring> ref_columns, std::wstring rule);
    udb_relationship(std::wstring name, std::wstring second_text, std::wstring table, std::wstring ref_table,
                     std::vector<std::wstring> columns, std::vector<std::wstring> ref_columns, std::wstring rule);
};

/// The foreign keys of a database, each with a name unique in the list (case-insensitive).
class udb_relationships : public std::vector<udb_relationship> {
public:
    /// True when no relationship of the list has that name.
    bool is_acceptable_name(const std::wstring& name) const;
    /// A name for the relationship that no entry has yet. It does not add the relationship.
    std::wstring gen_relship_name(const udb_relationship& relationship) const;
};
