#pragma once
// The source side's engine: chooses an engine version, creates the workbook engine through its
// factory and opens workbooks (and database files) as dao_database objects. One per process at a
// time; it is a stack object of whatever needs the workbook, and it starts the component library
// on its thread unless the caller already did.
#include <memory>
#include <string>

#include "ole/ole_com_ptr.h"
#include "tk/tk_singleton.h"
#include "udb/udb_engine.h"
#include "workbook/wb_engine.h"

class dao_database;

/// Version keys; key 4 means no engine.
inline constexpr int dao_version_none = 4;

/// One engine version: the key callers use and the class and interface identifiers it names.
struct dao_version_entry {
  int key;
  const char* clsid;
  const char* iid;
};

/// The known versions, in storage order.
const dao_version_entry* dao_engine_versions(std::size_t& count);

/// Holds the name of a temporary database and removes it (with its lock file) when asked to.
class dao_generator {
 public:
  dao_generator();
  ~dao_generator();
  dao_generator(const dao_generator&) = delete;
  dao_generator& operator=(const dao_generator&) = delete;

  std::string name;
  bool remove_on_exit = false;
};

class dao_engine : public udb_engine, public tk_singleton<dao_engine> {
 public:
  /// `com_by_caller` non-zero: the caller has started the component library on this thread.
  explicit dao_engine(int com_by_caller);
  ~dao_engine() override;

  /// Creates the engine of this version, releasing any engine created before; false when none
  /// could be created (the key then stays 4).
  bool set_version_if(int key);
  int get_version_key() const noexcept { return version_key; }
  /// The engine object, null while no version is chosen.
  wb_engine* get_engine() const noexcept { return engine.get(); }

  /// Opens a workbook: exclusive = bit 4 of `mode`, read-only = bit 0; the database gets mode | 0x20.
  std::unique_ptr<dao_database> open_dao_src(const std::wstring& path, const std::wstring& connect, int mode);

  std::unique_ptr<udb_database> create_db(const std::wstring& name) override;
  std::unique_ptr<udb_database> open_db(const std::wstring& name, int mode, const std::wstring& password) override;

 private:
  ole_com_ptr<wb_engine> engine;
  int version_key = dao_version_none;
  dao_generator generator;
  int com_by_caller;
};

/// Chooses a version key for a source.
class extract_dao_version {
 public:
  virtual ~extract_dao_version() = default;
  virtual int get_version() = 0;
};

/// The version for a workbook file, told by its first bytes: a compound document gives 0, a ZIP
/// container 3, anything else 4. A missing or unreadable path and a file of 7 bytes or fewer are
/// level-1 errors whose reason says what the path holds.
class xls_dao_version : public extract_dao_version {
 public:
  explicit xls_dao_version(std::wstring path);
  int get_version() override;

 private:
  std::wstring path;
};

/// An owned engine text.
class dao_bstr {
 public:
  dao_bstr();
  explicit dao_bstr(const std::string& text);
  explicit dao_bstr(const std::wstring& text);
  operator const std::wstring&() const;

 private:
  std::wstring text;
};
