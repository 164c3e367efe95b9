#include "udb/udb_database.h"

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

udb_database::udb_database(std::wstring name, int flags, bool case_sensitive)
    : flags(flags), name(std::move(name)), case_sensitive(case_sensitive)
{
    tk_log(2, "udb_database::ctor(%s)", this->name);
}

udb_database::~udb_database()
{
    tk_log(2, "udb_database::dtor");
}

bool udb_database::same_table_name(const std::wstring& a, const std::wstring& b) const
{
    return case_sensitive ? a == b : tk_compare_no_case(a, b) == 0;
}

void udb_database::create_schema(const std::wstring&) {}

void udb_database::create_index(const std::wstring&, const udb_index&) {}

void udb_database::create_indexes(const std::wstring& table_name, const udb_indexes& index_list)
{
    tk_log(2, "udb_database::create_indexes(%s)", table_name);
    for (const auto& index : index_list)
        create_index(table_name, index);
}

bool udb_database::delete_tab(const std::wstring& table_name)
{
    tk_log(2, "udb_database::delete_tab(%s)", table_name);
    for (auto it = tables.begin(); it != tables.end(); ++it) {
        if (same_table_name(*it, table_name)) {
            tables.erase(it);
            return true;
        }
    }
    tk_log(2, "Table not found!");
    return false;
}

void udb_database::get_schema_info(std::vector<std::wstring>& schema_names)
{
    schema_names.clear();
}

void udb_database::query(const std::wstring&)
{
    TK_ASSERT_SITE("udb_db", 86);
}

void udb_database::create_relationships(const udb_relationships&) {}

bool udb_database::is_table_exist(const std::wstring& table_name)
{
    tk_log(2, "udb_database::is_table_exist(%s,case_sensitive=%d)", table_name, case_sensitive ? 1 : 0);
    for (const auto& listed : tables) {
        tk_log(1, "Compare with %s", listed);
        if (same_table_name(listed, table_name)) {
            tk_log(1, "table exists");
            return true;
        }
    }
    tk_log(1, "table not found");
    return false;
}
