#include "dao/dao_validator.h"

#include "tk/tk_logger.h"
#include "tk/tk_string.h"

dao_validator::dao_validator() : udb_validator(0) {
  illegal = {L'`', L'!', L'[', L']', L'.', L'/', L'\''};
}

bool dao_validator::is_acceptable(const std::wstring& name) {
  tk_log(2, "dao_validator::is_acceptable(%s)", name);
  if (name.empty() || name.front() == L' ' || name.back() == L' ') return false;
  return udb_validator::is_acceptable(name);
}

std::wstring dao_validator::get_safe_name(const std::wstring& name) {
  tk_log(2, "dao_validator::get_safe_name(%s)", name);
  return udb_validator::get_safe_name(tk_trim(name));
}

dao_fn_validator::dao_fn_validator(const udb_schema& fields) {
  tk_log(2, "dao_fn_validator::ctor");
  for (const auto& d : fields) add_existing_name(d->name);
}

dao_in_validator::dao_in_validator(const udb_indexes& indexes) {
  tk_log(2, "dao_in_validator::ctor");
  for (const auto& index : indexes) add_existing_name(index.name);
}
