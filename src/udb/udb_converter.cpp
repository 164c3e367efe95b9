#include "udb/udb_converter.h"

#include <utility>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"
#include "udb/udb_profile.h"

namespace {

const std::wstring generic = udb_profile::generic_section;

// A flag is true for any text but "0".
bool flag_value(const std::wstring& text) { return text != L"0"; }

/// A query as one profile line: each line break (CR LF, CR or LF) becomes a blank, which SQL
/// reads alike, since a line break inside a value cannot be written.
std::wstring one_line(const std::wstring& sql) {
  std::wstring line;
  line.reserve(sql.size());
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const wchar_t c = sql[i];
    if (c == L'\r' && i + 1 < sql.size() && sql[i + 1] == L'\n') continue;
    line += c == L'\r' || c == L'\n' ? L' ' : c;
  }
  return line;
}

}  // namespace

udb_converter::udb_converter() { tk_log(2, "udb_converter::ctor"); }

udb_converter::~udb_converter() = default;

void udb_converter::set_mode(int value) {
  tk_log(2, "udb_converter::set_mode(%d)", value);
  mode = value;
}

std::wstring udb_converter::get_cur_sheet() const {
  std::lock_guard lock(m_cur_sheet_mutex);
  return m_cur_sheet;
}

void udb_converter::set_cur_sheet(const std::wstring& sheet) {
  std::lock_guard lock(m_cur_sheet_mutex);
  m_cur_sheet = sheet;
}

bool udb_converter::store_profile(udb_profile& profile) {
  tk_log(2, "udb_converter::store_profile");
  for (const auto& [name, sql] : available_queries) {
    tk_log(1, "Available Query: (%s,%s)", name, sql);
    profile.set_value(udb_profile::available_queries_section, name, one_line(sql));
  }
  for (const auto& [name, sql] : selected) {
    tk_log(1, "Selected Query: (%s,%s)", name, sql);
    profile.set_value(udb_profile::selected_tables_section, name, one_line(sql));
  }
  profile.set_value(generic, L"src", src);
  profile.set_value(generic, L"dest", dest);
  profile.set_value(generic, L"logfile", tk_utf8_to_unicode(logfile));
  profile.set_value(generic, L"skip indexes", skip_indexes ? L"1" : L"0");
  profile.set_value(generic, L"only definitions", only_definitions ? L"1" : L"0");
  profile.set_value(generic, L"mode", std::to_wstring(mode));
  return true;
}

bool udb_converter::load_profile(udb_profile& profile) {
  tk_log(1, "udb_converter::load_profile");
  const udb_profile::key_values& sel = profile.get_sel_tables();
  const udb_profile::key_values& queries = profile.get_queries();
  const std::wstring new_src = profile.get_value(generic, L"src");
  const std::wstring new_dest = profile.get_value(generic, L"dest");
  const std::wstring new_logfile = profile.get_value(generic, L"logfile");
  const std::wstring new_only_definitions = profile.get_value(generic, L"only definitions");
  const std::wstring new_mode = profile.get_value(generic, L"mode");
  const std::wstring new_skip_indexes = profile.get_value(generic, L"skip indexes");

  // Checked before anything changes: a profile that is refused leaves the
  // settings as they were. An unknown mode never falls back to mode 0, which
  // would drop the whole destination database.
  if (!new_mode.empty() && (new_mode.size() != 1 || new_mode[0] < L'0' || new_mode[0] > L'3'))
    throw tk_exception("Invalid merge/overwrite mode", tk_level_error);
  if (!new_logfile.empty()) {
    const std::string narrow = tk_to_utf8(new_logfile);
    tk_log(1, "Logfile=%s", narrow);
    set_logfile(narrow);
  }

  // The profile's selection replaces the one before: a profile loaded earlier must not add
  // worksheets the user never chose in this one.
  sel_tables.clear();
  selected.clear();
  available_queries.clear();
  for (const auto& [name, sql] : sel) {
    selected.try_emplace(name, sql);
    if (sql.empty()) {
      tk_log(1, "Push back table '%s'", name);
      sel_tables.push_back(name);
    }
  }
  for (const auto& [name, sql] : queries) available_queries.try_emplace(name, sql);
  if (!new_src.empty()) src = new_src;
  if (!new_dest.empty()) dest = new_dest;
  if (!new_only_definitions.empty()) only_definitions = flag_value(new_only_definitions);
  if (!new_mode.empty()) mode = new_mode[0] - L'0';
  if (!new_skip_indexes.empty()) skip_indexes = flag_value(new_skip_indexes);
  return true;
}

void udb_converter::store_query_entries(const name_map& selected_queries, name_map stored_queries) {
  // The page's queries replace the selected ones (a query moved back is no longer selected); the
  // worksheet entries stay.
  std::erase_if(selected, [](const auto& entry) { return !entry.second.empty(); });
  for (const auto& [name, text] : selected_queries) selected[name] = text;
  available_queries = std::move(stored_queries);
}
