#include "udb/udb_relationships.h"

#include <array>

#include "tk/tk_logger.h"
#include "tk/tk_string.h"

udb_relationship::udb_relationship(std::wstring table, std::wstring ref_table, std::vector<std::wstring> columns,
                                   std::vector<std::wstring> ref_columns, std::wstring rule)
    : table(std::move(table)),
      ref_table(std::move(ref_table)),
      rule(std::move(rule)),
      columns(std::move(columns)),
      ref_columns(std::move(ref_columns))
{
}

udb_relationship::udb_relationship(std::wstring name, std::wstring second_text, std::wstring table,
                                   std::wstring ref_table, std::vector<std::wstring> columns,
                                   std::vector<std::wstring> ref_columns, std::wstring rule)
    : name(std::move(name)),
      second_text(std::move(second_text)),
      table(std::move(table)),
      ref_table(std::move(ref_table)),
      rule(std::move(rule)),
      columns(std::move(columns)),
      ref_columns(std::move(ref_columns))
{
}

bool udb_relationships::is_acceptable_name(const std::wstring& name) const
{
    tk_log(1, "udb_relationships::is_acceptable_name(%s)", name);
    for (const auto& relationship : *this)
        if (tk_compare_no_case(relationship.name, name) == 0)
            return false;
    return true;
}

std::wstring udb_relationships::gen_relship_name(const udb_relationship& relationship) const
{
    tk_log(1, "udb_relationships::gen_relship_name");
    // Suffixes accumulate: FK_B_A, FK_B_A_, FK_B_A_1, FK_B_A_1_, FK_B_A_1_2, ...
    static const std::array<const wchar_t*, 6> suffixes = {L"_", L"1", L"_", L"2", L"_", L"3"};
    std::wstring candidate = L"FK_" + relationship.ref_table + L"_" + relationship.table;
    // Each attempt makes the candidate longer than every earlier one, so at most size() + 1 tries.
    for (std::size_t attempt = 0; !is_acceptable_name(candidate); ++attempt) {
        tk_log(2, "%s is not acceptable as a FK name", candidate);
        candidate += suffixes[attempt % suffixes.size()];
    }
    return candidate;
}
