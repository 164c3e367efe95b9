#include "pgs/pgs_validator.h"

#include "pgs/pgs_engine.h"
#include "pgs/pgs_sql_text.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

bool is_name_char(wchar_t c) {
  return tk_is_alnum(static_cast<char32_t>(c)) || c == L' ' || c == L'$' || c == L'.' || c == L'_';
}

}  // namespace

pgs_validator::pgs_validator() : udb_validator(static_cast<int>(pgs_max_name_bytes), udb_name_measure::utf8_bytes) {
  tk_log(2, "pgs_validator::ctor");
}

bool pgs_validator::is_acceptable(const std::wstring& name) {
  tk_log(2, "pgs_validator::is_acceptable(%s)", name);
  if (name.empty() || name_length(name) > max_len) return false;
  if (!tk_is_alnum(static_cast<char32_t>(name[0]))) return false;
  for (wchar_t c : name) {
    if (!is_name_char(c)) {
      tk_log(2, "Name contains invalid symbol: '%c'", std::wstring(1, c));
      return false;
    }
  }
  for (const auto& word : restricted)
    if (tk_compare_no_case(word, name) == 0) return false;
  return true;
}

std::wstring pgs_validator::get_safe_name(const std::wstring& name) {
  tk_log(2, "pgs_validator::get_safe_name(%s)", name);
  std::wstring s = name;
  if (s.empty() || !tk_is_alnum(static_cast<char32_t>(s[0]))) s = L"A" + s;
  if (name_length(s) > max_len) s = cut_to_length(s, max_len - 1);
  for (wchar_t& c : s)
    if (!is_name_char(c)) c = L'_';
  return udb_validator::get_safe_name(s);
}

pgs_fn_validator::pgs_fn_validator(const udb_schema& columns) {
  tk_log(2, "pgs_fn_validator::ctor1");
  for (const auto& column : columns) add_existing_name(column->name);
}

pgs_fn_validator::pgs_fn_validator(const udb_record& fields) {
  tk_log(2, "pgs_fn_validator::ctor1");
  for (const auto& field : fields) add_existing_name(field->name);
}

bool pgs_is_system_column_name(const std::string& server_name) {
  static const char* const system_columns[] = {"tableoid", "xmin", "cmin", "xmax", "cmax", "ctid"};
  for (const char* column : system_columns)
    if (server_name == column) return true;
  return false;
}

bool pgs_fn_validator::is_acceptable(const std::wstring& name) {
  if (!pgs_validator::is_acceptable(name)) return false;
  // Compared as the column will be created: folded as the engine folds, exactly as the server
  // compares quoted names ("XMIN" stays apart from xmin only where names keep their case).
  const pgs_engine* engine = pgs_engine::instance_ptr();
  if (pgs_is_system_column_name(pgs_object_name(name, engine && engine->is_case_sensitive()))) {
    tk_log(2, "The name is a system column's: '%s'", name);
    return false;
  }
  return true;
}

pgs_tn_validator::pgs_tn_validator(const std::vector<std::wstring>& first, const std::vector<std::wstring>& second) {
  tk_log(2, "pgs_tn_validator::ctor");
  for (const auto& name : first) add_existing_name(name);
  for (const auto& name : second) add_existing_name(name);
}

void pgs_in_validator::seed(const udb_indexes& indexes) {
  tk_log(2, "pgs_in_validator::ctor");
  for (const auto& index : indexes) add_existing_name(index.name);
}
