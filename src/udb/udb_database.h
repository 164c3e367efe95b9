#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "udb/udb_indexes.h"
#include "udb/udb_names_map.h"
#include "udb/udb_recordset.h"
#include "udb/udb_relationships.h"
#include "udb/udb_schema.h"

/// One database of a side: its tables, stored queries and DDL operations.
/** Record sets it hands out belong to the caller and must be destroyed before the database. */
class udb_database {
public:
    int flags;                                 ///< open mode the side was given; its bits are the side's
    std::wstring name;                         ///< database name or file name
    bool case_sensitive;                       ///< table names compare exactly when set
    std::map<std::wstring, std::wstring> views;  ///< stored queries: name -> SQL text
    std::vector<std::wstring> tables;          ///< table names in the order the side listed them
    udb_names_map names_map;                   ///< generated table and column names
    udb_relationships relationships;           ///< foreign keys read from the source

    udb_database(std::wstring name, int flags, bool case_sensitive);
    udb_database(const udb_database&) = delete;
    udb_database& operator=(const udb_database&) = delete;
    virtual ~udb_database();

    virtual void create_schema(const std::wstring& schema_name);
    /// Creates (or opens) a table with those columns and indexes; the caller owns the record set.
    virtual std::unique_ptr<udb_recordset> create_table(const std::wstring& table_name, const udb_schema& fields,
                                                        const udb_indexes& index_list) = 0;
    virtual void create_index(const std::wstring& table_name, const udb_index& index);
    /// Calls create_index once per index, in list order.
    virtual void create_indexes(const std::wstring& table_name, const udb_indexes& index_list);
    /// Removes the first equal name from `tables`; false when it is not listed. A side drops the
    /// real table first and then calls this.
    virtual bool delete_tab(const std::wstring& table_name);
    virtual std::unique_ptr<udb_recordset> get_query(const std::wstring& query_name, const std::wstring& sql,
                                                     int mode) = 0;
    /// Fills the list with the database's schema names; the base has none and empties it.
    virtual void get_schema_info(std::vector<std::wstring>& schema_names);
    virtual std::unique_ptr<udb_recordset> get_table(const std::wstring& table_name, int mode) = 0;
    /// Runs a statement; a side without statements keeps the base, which is an internal error.
    virtual void query(const std::wstring& sql);
    virtual bool test_query(const std::wstring& sql) = 0;
    virtual void create_relationships(const udb_relationships& list);
    virtual bool is_table_exist(const std::wstring& table_name);

    /// The table list. Copy it before a loop that may call delete_tab.
    std::vector<std::wstring>& get_tables() { return tables; }

protected:
    /// Table-name equality: exact when case_sensitive, else case-insensitive.
    bool same_table_name(const std::wstring& a, const std::wstring& b) const;
};
