#include "tk/tk_reg_key.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/key_store.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

// The value types as the settings code knows them.
constexpr int reg_sz = 1;
constexpr int reg_dword = 4;

std::string error_text(long code) { return key_store::error_text(static_cast<int>(code)); }

long report_write(long rc, const std::string& name) {
  // A settings value that was not written must not pass unnoticed.
  if (rc != 0) tk_log(3, "Cannot store the setting '%s': %s", name, error_text(rc));
  return rc;
}

}  // namespace

tk_reg_key::tk_reg_key(std::string path) : m_path(std::move(path)) {}

tk_reg_key::~tk_reg_key() = default;

long tk_reg_key::create(tk_hkey root, const std::string& sub_key, unsigned long* disposition) {
  if (root == tk_hkey_null) TK_ASSERT_SITE("tk_regk", 64);
  auto store = std::make_unique<key_store>();
  bool created = false;
  const int rc = store->open(sub_key, &created);
  if (rc != 0) {
    tk_log(3, "Cannot open the settings file %s: %s", key_store::file_for_key(sub_key).string(), error_text(rc));
    return rc;
  }
  if (disposition != nullptr) *disposition = created ? tk_reg_created_new_key : tk_reg_opened_existing_key;
  m_store = std::move(store);
  return 0;
}

void tk_reg_key::close() { m_store.reset(); }

namespace {

// Reads one value of an open key, with the type and size line every reader logs.
long lookup(key_store* store, const std::string& name, key_store::value& stored) {
  if (store == nullptr) return EBADF;
  if (const int rc = store->get(name, stored)) return rc;
  tk_log(1, "type=%d, size=%d", stored.type == key_store::kind::dword ? reg_dword : reg_sz,
         stored.type == key_store::kind::dword ? 4 : static_cast<int>(stored.text.size() + 1));
  return 0;
}

}  // namespace

long tk_reg_key::get_value(std::uint32_t& value, const char* name) {
  if (name == nullptr) TK_ASSERT_SITE("tk_regk", 98);
  tk_log(2, "tk_reg_key::get_value(ulong, %s)", name);
  key_store::value stored;
  if (const long rc = lookup(m_store.get(), name, stored)) return rc;
  // The store is typed: a text never loads as a number.
  if (stored.type != key_store::kind::dword) return EINVAL;
  value = stored.number;
  return 0;
}

namespace {

// Copies `text` and its NUL into a caller's buffer of *size bytes.
template <class Char>
long copy_out(const std::basic_string<Char>& text, Char* buffer, std::uint32_t* size) {
  const std::uint64_t needed = (text.size() + 1) * sizeof(Char);
  if (needed > UINT32_MAX) return E2BIG;
  const bool fits = buffer != nullptr && *size >= needed;
  const bool asked_size_only = buffer == nullptr;
  *size = static_cast<std::uint32_t>(needed);
  if (asked_size_only) return 0;
  if (!fits) return ERANGE;
  std::memcpy(buffer, text.c_str(), static_cast<std::size_t>(needed));
  return 0;
}

}  // namespace

long tk_reg_key::get_value(char* buffer, const char* name, std::uint32_t* size) {
  if (size == nullptr) TK_ASSERT_SITE("tk_regk", 115);
  if (name == nullptr) TK_ASSERT_SITE("tk_regk", 116);
  tk_log(2, "tk_reg_key::get_value(LPSTR, %s)", name);
  key_store::value stored;
  if (const long rc = lookup(m_store.get(), name, stored)) return rc;
  if (stored.type != key_store::kind::text) return EINVAL;
  return copy_out(stored.text, buffer, size);
}

long tk_reg_key::get_value(wchar_t* buffer, const wchar_t* name, std::uint32_t* size) {
  if (size == nullptr) TK_ASSERT_SITE("tk_regk", 132);
  if (name == nullptr) TK_ASSERT_SITE("tk_regk", 133);
  tk_wlog(2, L"tk_reg_key::get_value(LPWSTR, %s)", name);
  key_store::value stored;
  if (const long rc = lookup(m_store.get(), tk_to_utf8(name), stored)) return rc;
  if (stored.type != key_store::kind::text) return EINVAL;
  return copy_out(tk_utf8_to_unicode(stored.text), buffer, size);
}

long tk_reg_key::set_value(std::uint32_t value, const char* name) {
  if (!m_store) TK_ASSERT_SITE("tk_regk", 149);
  if (name == nullptr) return EINVAL;
  return report_write(m_store->set(name, key_store::value::of_number(value)), name);
}

long tk_reg_key::set_value(const char* text, const char* name) {
  if (text == nullptr) TK_ASSERT_SITE("tk_regk", 156);
  if (!m_store) TK_ASSERT_SITE("tk_regk", 157);
  if (name == nullptr) return EINVAL;
  return report_write(m_store->set(name, key_store::value::of_text(text)), name);
}

long tk_reg_key::set_value(const wchar_t* text, const wchar_t* name) {
  if (text == nullptr) TK_ASSERT_SITE("tk_regk", 164);
  if (!m_store) TK_ASSERT_SITE("tk_regk", 165);
  if (name == nullptr) return EINVAL;
  const std::string narrow_name = tk_to_utf8(name);
  return report_write(m_store->set(narrow_name, key_store::value::of_text(tk_to_utf8(text))), narrow_name);
}

bool tk_reg_key::serialize(const char* name, int& value, bool store) {
  if (!m_store) return false;
  if (store) return set_value(static_cast<std::uint32_t>(value), name) == 0;
  std::uint32_t read = 0;
  if (get_value(read, name) != 0) return false;
  value = static_cast<int>(read);
  return true;
}

bool tk_reg_key::serialize(const char* name, bool& value, bool store) {
  if (!m_store) return false;
  if (store) return set_value(value ? 1u : 0u, name) == 0;
  std::uint32_t read = 0;
  if (get_value(read, name) != 0) return false;
  value = read != 0;
  return true;
}

bool tk_reg_key::serialize(const char* name, std::string& value, bool store) {
  if (!m_store) return false;
  if (store) return set_value(value.c_str(), name) == 0;
  std::uint32_t size = 0;
  if (get_value(static_cast<char*>(nullptr), name, &size) != 0 || size == 0) return false;
  std::vector<char> buffer(size);
  if (get_value(buffer.data(), name, &size) != 0) return false;
  value.assign(buffer.data());
  return true;
}

bool tk_reg_key::serialize(const wchar_t* name, std::wstring& value, bool store) {
  if (!m_store) return false;
  if (store) return set_value(value.c_str(), name) == 0;
  std::uint32_t size = 0;
  if (get_value(static_cast<wchar_t*>(nullptr), name, &size) != 0 || size == 0) return false;
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
  if (get_value(buffer.data(), name, &size) != 0) return false;
  value.assign(buffer.data());
  return true;
}
