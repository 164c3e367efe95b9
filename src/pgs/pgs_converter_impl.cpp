#include "pgs/pgs_converter_impl.h"

#include <climits>
#include <cwctype>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"
#include "udb/udb_profile.h"

namespace {

constexpr int max_port = 65535;

std::string text_or_empty(const char* text) { return text ? std::string(text) : std::string(); }

}  // namespace

pgs_converter_impl::pgs_converter_impl() { tk_log(2, "pgs_converter_impl::ctor"); }

pgs_converter_impl::~pgs_converter_impl() = default;

void pgs_converter_impl::set_connection_params(const char* host_, const char* user_, const char* password_,
                                               int port_) {
  tk_log(1, "pgs_converter_impl::set_connection_params");
  host = text_or_empty(host_);
  user = text_or_empty(user_);
  password = text_or_empty(password_);
  port = port_;
}

void pgs_converter_impl::connect_pgs_server() {
  tk_log(1, "pgs_converter_impl::connect_pgs_server");
  engine.connect(host, user, password, std::string(), port);
}

void pgs_converter_impl::connect_pgs_server(const pgs_engine::opener& open) {
  tk_log(1, "pgs_converter_impl::connect_pgs_server");
  engine.connect_with(connect_params(), open);
}

pgs_connect_params pgs_converter_impl::connect_params() const {
  return pgs_connect_params{host, user, password, std::string(), port};
}

bool pgs_converter_impl::test_query(const std::wstring&) {
  tk_log(2, "pgs_converter_impl::test_query");
  return true;
}

bool pgs_converter_impl::store_profile(udb_profile& profile) {
  tk_log(2, "pgs_converter_impl::store_profile");
  if (!host.empty()) profile.set_value(profile_section, L"host", tk_ansi_to_unicode(host));
  if (!user.empty()) profile.set_value(profile_section, L"user", tk_ansi_to_unicode(user));
  if (!password.empty()) profile.set_value(profile_section, L"password", tk_ansi_to_unicode(password));
  if (!schema.empty()) profile.set_value(profile_section, L"schema", schema);
  if (port != 0) profile.set_value(profile_section, L"port", tk_wformat(L"%d", port));
  return true;
}

long pgs_converter_impl::parse_port(const std::wstring& text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  long long value = 0;
  bool any = false;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    any = true;
    value = value * 10 + (text[i] - L'0');
    if (value > INT_MAX) return 0;  // no port; also keeps the sum from overflowing
  }
  if (!any) return 0;
  return static_cast<long>(negative ? -value : value);
}

int pgs_converter_impl::port_from_text(const std::wstring& text) noexcept {
  const std::wstring digits = tk_trim(text);
  if (digits.empty()) return 0;
  long value = 0;
  for (const wchar_t c : digits) {
    if (c < L'0' || c > L'9') return 0;
    value = value * 10 + (c - L'0');
    if (value > max_port) return 0;
  }
  return static_cast<int>(value);
}

bool pgs_converter_impl::load_profile(udb_profile& profile) {
  tk_log(2, "pgs_converter_impl::load_profile");
  const auto read = [&](const wchar_t* key) { return profile.get_value(profile_section, key); };
  if (const std::wstring v = read(L"host"); !v.empty()) host = tk_to_utf8(v);
  if (const std::wstring v = read(L"user"); !v.empty()) user = tk_to_utf8(v);
  if (const std::wstring v = read(L"password"); !v.empty()) password = tk_to_utf8(v);
  if (const std::wstring v = read(L"schema"); !v.empty()) schema = v;
  if (const std::wstring v = read(L"port"); !v.empty()) {
    // A port the connection could never use is refused here, as the command line refuses it;
    // "5432x" is no port either.
    const int value = port_from_text(v);
    if (value == 0) throw tk_exception("Invalid port number", tk_level_error);
    port = value;
  }
  return true;
}
