#include "udb/udb_names_map.h"

#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

bool same_name(const std::wstring& a, const std::wstring& b, bool case_sensitive)
{
    return case_sensitive ? a == b : tk_compare_no_case(a, b) == 0;
}

}  // namespace

std::wstring udb_names_map::get_tn_mapped_name(const std::wstring& table, bool case_sensitive) const
{
    tk_log(1, "udb_names_map::get_tn_mapped_name(%s)", table);
    for (const auto& [source, generated] : tables) {
        tk_log(1, "Comparing with (%s,%s)", source, generated);
        if (same_name(source, table, case_sensitive)) {
            tk_log(1, "Got mapped name: %s", generated);
            return generated;
        }
    }
    return table;
}

std::wstring udb_names_map::get_fn_mapped_name(const std::wstring& table, const std::wstring& column,
                                               bool case_sensitive) const
{
    tk_log(1, "udb_names_map::get_fn_mapped_name(%s,%s)", table, column);
    const auto found = fields.find(table);
    if (found == fields.end()) {
        tk_log(1, "Table '%s' not found", table);
        return column;
    }
    for (const auto& [source, generated] : found->second) {
        if (same_name(source, column, case_sensitive)) {
            tk_log(1, "Got mapped name: %s", generated);
            return generated;
        }
    }
    return column;
}

void udb_names_map::add_fn_map(const std::wstring& table, const column_map& columns)
{
    tk_log(2, "udb_names_map::add_fn_map(%s)", table);
    fields.emplace(table, columns);
}
