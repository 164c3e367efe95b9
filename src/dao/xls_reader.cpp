#include "dao/xls_reader.h"

#include <algorithm>
#include <set>

#include "dao/dao_database.h"
#include "dao/dao_engine.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"
#include "workbook/wb_source_probe.h"

xls_reader::xls_reader() = default;
xls_reader::~xls_reader() = default;

std::unique_ptr<dao_database> xls_reader::open_xls(dao_engine& engine, const std::wstring& path, bool field_names) {
  tk_log(2, "xls_reader::open_xls(%s)", path);
  std::wstring connect = L"Excel 5.0;";
  if (!field_names) connect += L" HDR=No;";
  connect += L" IMEX=1;";
  return engine.open_dao_src(path, connect, 1);
}

std::wstring xls_reader::simplify_name(const std::wstring& engine_name) {
  tk_log(1, "xls_reader::simplify_name(%s)", engine_name);
  std::wstring name = engine_name;
  if (name.size() > 2 && name.front() == L'\'' && name.back() == L'\'') name = name.substr(1, name.size() - 2);
  if (name.size() > 1 && name.back() == L'$') name.pop_back();
  // Only U+0020 counts as a blank here.
  const auto last = name.find_last_not_of(L' ');
  name.erase(last == std::wstring::npos ? 0 : last + 1);
  name.erase(0, std::min(name.size(), name.find_first_not_of(L' ')));
  tk_log(1, "Simplified name: %s", name);
  return name;
}

std::string xls_reader::source_refusal(const std::wstring& path) { return wb_probe_source(tk_to_utf8(path)).reason; }

bool xls_reader::get_all_sheets(std::vector<std::wstring>& sheets) {
  tk_log(1, "xls_reader::get_all_sheets");
  sheets.clear();
  // No source (a profile without one, a first start): nothing to list, and no file to open.
  if (src.empty()) return false;
  dao_engine engine(0);
  const int key = xls_dao_version(src).get_version();
  if (key == dao_version_none || !engine.set_version_if(key)) return false;
  // The database goes before its engine on every path.
  std::unique_ptr<dao_database> database = open_xls(engine, src, false);
  get_all_sheets(*database, sheets);
  return true;
}

void xls_reader::get_all_sheets(dao_database& database, std::vector<std::wstring>& sheets) {
  tk_log(1, "xls_reader::get_all_sheets(2)");
  worksheets.clear();
  std::vector<std::pair<std::wstring, sheet_ref>> listed;
  for (const auto& table : database.get_listed_tables()) {
    tk_log(1, "non_system (%s)", table.name);
    // "$" is the engine's name of a worksheet whose own name is empty.
    if (table.name == L"$") {
      listed.push_back({std::wstring(), {table.name, table.position}});
      continue;
    }
    if (table.name.size() < 2) continue;
    const std::wstring& t = table.name;
    const bool sheet = t.back() == L'$' || (t[t.size() - 2] == L'$' && t.back() == L'\'');
    if (sheet) listed.push_back({simplify_name(t), {t, table.position}});
  }
  // A name made unique takes no worksheet's name, not even one listed later or differing in case
  // alone (the table names would meet): every worksheet keeps its own name and each is reachable
  // under one name.
  const auto no_case = [](const std::wstring& a, const std::wstring& b) { return tk_compare_no_case(a, b) < 0; };
  std::set<std::wstring, decltype(no_case)> taken(no_case);
  for (const auto& entry : listed) taken.insert(entry.first);
  for (auto& [name, ref] : listed) {
    if (worksheets.count(name)) {
      std::wstring unique;
      for (int n = 2;; ++n) {
        unique = name + L" (" + std::to_wstring(n) + L")";
        if (!taken.count(unique)) break;
      }
      tk_log(2, "Worksheet %s listed as %s", ref.table, unique);
      taken.insert(unique);
      name = unique;
    }
    sheets.push_back(name);
    worksheets.emplace(name, ref);
  }
}

std::vector<std::wstring> xls_reader::set_sel_sheets(const std::vector<std::wstring>& names) {
  tk_log(1, "xls_reader::set_sel_sheets");
  tk_log(1, "Total worksheets: %d", static_cast<int>(worksheets.size()));
  // Query entries (those with a text) are no worksheets: they stay selected.
  std::erase_if(selected, [](const auto& entry) { return entry.second.empty(); });
  sheet_map chosen;
  std::vector<std::wstring> missing;
  for (const std::wstring& name : names) {
    const auto found = worksheets.find(name);
    if (found == worksheets.end()) {
      tk_log(3, "Worksheet %s not found", name);
      missing.push_back(name);
      continue;
    }
    tk_log(1, "Worksheet %s is selected", found->second.table);
    chosen.emplace(name, found->second);
    selected[name] = std::wstring();
  }
  worksheets = std::move(chosen);
  return missing;
}
