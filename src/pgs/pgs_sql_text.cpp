#include "pgs/pgs_sql_text.h"

#include "tk/tk_string.h"

namespace {

constexpr std::size_t fitted_prefix_bytes = 54;  // + "_" + 8 hex digits = 63

std::uint32_t fnv1a32(const std::string& bytes) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

// Longest prefix of at most `limit` bytes that does not end inside a UTF-8 sequence.
std::size_t whole_char_prefix(const std::string& utf8, std::size_t limit) {
  if (utf8.size() <= limit) return utf8.size();
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

}  // namespace

std::wstring pgs_fold_name(const std::wstring& name, bool case_sensitive) {
  if (case_sensitive) return name;
  std::wstring folded = name;
  return tk_wstring::to_lower(folded);
}

std::string pgs_fit_name(const std::string& utf8) {
  if (utf8.size() <= pgs_max_name_bytes) return utf8;
  static constexpr char hex[] = "0123456789abcdef";
  std::string fitted = utf8.substr(0, whole_char_prefix(utf8, fitted_prefix_bytes));
  fitted += '_';
  const std::uint32_t hash = fnv1a32(utf8);
  for (int shift = 28; shift >= 0; shift -= 4) fitted += hex[(hash >> shift) & 0xF];
  return fitted;
}

std::string pgs_object_name(const std::wstring& name, bool case_sensitive) {
  return pgs_fit_name(tk_to_utf8(pgs_fold_name(name, case_sensitive)));
}

bool pgs_is_system_schema(const std::string& server_name) {
  return server_name == "information_schema" || server_name.rfind("pg_", 0) == 0;
}

std::string pgs_quote_raw(const std::string& utf8_name) {
  std::string quoted;
  quoted.reserve(utf8_name.size() + 2);
  quoted += '"';
  for (char c : utf8_name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string pgs_quote_ident(const std::wstring& name, bool case_sensitive) {
  return pgs_quote_raw(pgs_object_name(name, case_sensitive));
}

std::string pgs_quote_table(const std::wstring& name, bool case_sensitive) {
  const auto dot = name.find(L'.');
  if (dot == std::wstring::npos) return pgs_quote_ident(name, case_sensitive);
  return pgs_quote_ident(name.substr(0, dot), case_sensitive) + "." +
         pgs_quote_ident(name.substr(dot + 1), case_sensitive);
}

std::string pgs_sql_literal(const std::string& utf8) {
  std::string literal;
  literal.reserve(utf8.size() + 2);
  literal += '\'';
  for (char c : utf8) {
    if (c == '\'') literal += '\'';
    literal += c;
  }
  literal += '\'';
  return literal;
}

std::wstring pgs_sql_literal(const std::wstring& text) {
  std::wstring literal;
  literal.reserve(text.size() + 2);
  literal += L'\'';
  for (wchar_t c : text) {
    if (c == L'\'') literal += L'\'';
    literal += c;
  }
  literal += L'\'';
  return literal;
}

std::string pgs_conninfo_value(const std::string& value) {
  std::string quoted = "'";
  for (char c : value) {
    if (c == '\\' || c == '\'') quoted += '\\';
    quoted += c;
  }
  quoted += '\'';
  return quoted;
}

pgs_conninfo pgs_build_conninfo(const std::string& host, const std::string& user,
                                const std::string& password, const std::string& dbname, int port) {
  std::string common;
  const auto add = [](std::string& to, const char* key, const std::string& value) {
    if (!to.empty()) to += ' ';
    to += key;
    to += '=';
    to += pgs_conninfo_value(value);
  };
  if (!user.empty()) add(common, "user", user);
  if (!password.empty()) add(common, "password", password);
  if (!host.empty()) add(common, "host", host);

  pgs_conninfo info{common, common};
  add(info.primary, "dbname", dbname);
  std::string tail;
  if (port != 0) add(tail, "port", std::to_string(port));
  add(tail, "connect_timeout", "10");
  for (std::string* s : {&info.primary, &info.fallback}) {
    if (!s->empty()) *s += ' ';
    *s += tail;
  }
  return info;
}

std::string pgs_mask_secret(std::string text, const std::string& secret) {
  if (secret.empty()) return text;
  for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
    text.replace(at, secret.size(), "***");
  return text;
}
