#pragma once
// One open settings key with typed values in both directions, so a settings
// class loads and stores each value with one call whose direction is a flag.
// The keys live in the key store (platform/key_store.h): one private text file
// per key, written atomically. Error codes are errno values: 0 success,
// ENOENT no such value, EINVAL a value of another type, ERANGE a buffer too
// small (the size then holds what is needed), or a file operation's errno.

#include <cstdint>
#include <memory>
#include <string>

class key_store;

/// Root keys. Only the current user's keys exist here.
enum tk_hkey : int { tk_hkey_null = 0, tk_hkey_current_user = 1 };

/// Dispositions returned by create.
constexpr unsigned long tk_reg_created_new_key = 1;
constexpr unsigned long tk_reg_opened_existing_key = 2;

class tk_reg_key {
 public:
  explicit tk_reg_key(std::string path = {});
  ~tk_reg_key();
  tk_reg_key(const tk_reg_key&) = delete;
  tk_reg_key& operator=(const tk_reg_key&) = delete;

  /// Opens the key, creating it when missing. A null root is an internal
  /// error. On success a key held before is closed and the new one kept. A
  /// damaged key file is refused (EILSEQ) and logged, never written over.
  long create(tk_hkey root, const std::string& sub_key, unsigned long* disposition = nullptr);
  void close();
  bool is_open() const noexcept { return static_cast<bool>(m_store); }
  const std::string& path() const noexcept { return m_path; }

  long get_value(std::uint32_t& value, const char* name);
  /// Text into a buffer of *size bytes (including the NUL); a null buffer asks
  /// for the size only.
  long get_value(char* buffer, const char* name, std::uint32_t* size);
  /// Wide text; sizes count bytes, sizeof(wchar_t) per character and the NUL.
  long get_value(wchar_t* buffer, const wchar_t* name, std::uint32_t* size);

  long set_value(std::uint32_t value, const char* name);
  long set_value(const char* text, const char* name);
  long set_value(const wchar_t* text, const wchar_t* name);

  /// Serialisation: store = true writes the value, false reads it into `value`
  /// (unchanged when the read fails). False at once when no key is open.
  bool serialize(const char* name, int& value, bool store);
  bool serialize(const char* name, bool& value, bool store);
  bool serialize(const char* name, std::string& value, bool store);
  bool serialize(const wchar_t* name, std::wstring& value, bool store);

 private:
  std::unique_ptr<key_store> m_store;
  std::string m_path;
};
