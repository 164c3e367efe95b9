#include "dao/dao_engine.h"

#include <cstdio>

#include "dao/dao_database.h"
#include "dao/dao_exception.h"
#include "platform/com_object.h"
#include "tk/tk_file.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"
#include "workbook/wb_source_probe.h"

namespace {

// Storage order matters: set_version_if takes the first entry of a key.
const dao_version_entry versions[] = {
    {2, "{00025E15-0000-0000-C000-000000000046}", "{00025E17-0000-0000-C000-000000000046}"},
    {1, "{00000010-0000-0010-8000-00AA006D2EA4}", "{00000021-0000-0010-8000-00AA006D2EA4}"},
    {0, "{00000100-0000-0010-8000-00AA006D2EA4}", "{00000021-0000-0010-8000-00AA006D2EA4}"},
    {3, "{CD7791B9-43FD-42C5-AE42-8DD2811F0419}", "{00000021-0000-0010-8000-00AA006D2EA4}"},
};

// The engine's answer when its support library is missing.
constexpr unsigned long support_library_missing = 0x800A0E31ul;

ole_com_ptr<wb_database> checked_database(ole_com_ptr<wb_database> db) { return dao_non_null(std::move(db)); }

}  // namespace

const dao_version_entry* dao_engine_versions(std::size_t& count) {
  count = sizeof versions / sizeof versions[0];
  return versions;
}

dao_generator::dao_generator() { tk_log(2, "dao_generator::ctor"); }

dao_generator::~dao_generator() {
  tk_log(2, "dao_generator::dtor");
  if (remove_on_exit && !name.empty()) {
    std::remove((name + ".ldb").c_str());
    std::remove(name.c_str());
  }
}

dao_engine::dao_engine(int com_by_caller) : com_by_caller(com_by_caller) {
  tk_log(2, "dao_engine::ctor");
  if (com_by_caller == 0 && platform::com_initialize() < 0) throw dao_exception();
}

dao_engine::~dao_engine() {
  tk_log(2, "dao_engine::dtor");
  // The engine goes with its owner: a run that ends must not keep it alive.
  engine.release();
  if (com_by_caller == 0) platform::com_uninitialize();
}

bool dao_engine::set_version_if(int key) {
  tk_log(2, "dao_engine::set_version_if(%d)", key);
  if (version_key != dao_version_none) {
    tk_log(2, "dao_engine::uninitialize");
    engine.release();
    version_key = dao_version_none;
  }
  const dao_version_entry* entry = nullptr;
  for (const auto& v : versions)
    if (v.key == key) {
      entry = &v;
      break;
    }
  if (!entry) TK_ASSERT_SITE("dao_engi", 425);
  ole_com_ptr<wb_engine> created = wb_create_engine(entry->key);
  if (!created) {
    tk_log(1, "CoCreateInstance failed: hr=%08X\n", 0x80040154u);
    return false;
  }
  engine = std::move(created);
  version_key = entry->key;
  return true;
}

std::unique_ptr<dao_database> dao_engine::open_dao_src(const std::wstring& path, const std::wstring& connect,
                                                       int mode) {
  tk_log(2, "dao_engine::open_dao_src(%s, %s)", path, connect);
  if (version_key == dao_version_none) TK_ASSERT_SITE("dao_engi", 294);
  if (!engine) TK_ASSERT_SITE("dao_engi", 297);
  const bool exclusive = ((mode >> 4) & 1) != 0;
  const bool read_only = (mode & 1) != 0;
  auto db = checked_database(dao_call([&] { return engine->open_database(path, exclusive, read_only, connect); }));
  return std::make_unique<dao_database>(path, std::move(db), mode | 0x20);
}

std::unique_ptr<udb_database> dao_engine::open_db(const std::wstring& name, int mode, const std::wstring& password) {
  tk_log(2, "dao_engine::open_db(%s, mode=%d)", name, mode);
  tk_log(3, "Opening MS Access database '%s'", name);
  if (version_key == dao_version_none) TK_ASSERT_SITE("dao_engi", 242);
  if (!engine) TK_ASSERT_SITE("dao_engi", 245);
  const std::wstring connect = password.empty() ? std::wstring() : L";pwd=" + password;
  tk_log(1, "Open database using DAO engine");
  const bool exclusive = ((mode >> 4) & 1) != 0;
  const bool read_only = (mode & 1) != 0;
  auto db = checked_database(dao_call([&] { return engine->open_database(name, exclusive, read_only, connect); }));
  tk_log(1, "Right after OpenDatabase call");
  return std::make_unique<dao_database>(name, std::move(db), mode);
}

std::unique_ptr<udb_database> dao_engine::create_db(const std::wstring& name) {
  tk_log(2, "dao_engine::create_db (%s)", name);
  tk_log(3, "Creating MS Access database '%s'", name);
  if (version_key == dao_version_none) TK_ASSERT_SITE("dao_engi", 166);
  if (!engine) TK_ASSERT_SITE("dao_engi", 169);
  ole_com_ptr<wb_database> db;
  try {
    db = engine->create_database(name, L";LANGID=0x0409;CP=1252;COUNTRY=0", 0);
    tk_log(2, "CreateDatabase returns %08X", 0u);
  } catch (const wb_error& e) {
    const auto result = static_cast<unsigned long>(e.number()) & 0xFFFFFFFFul;
    tk_log(2, "CreateDatabase returns %08X", static_cast<unsigned>(result));
    if (result == support_library_missing)
      throw tk_exception(
          "Failed to load Data Access Objects (DAO) support library.\n%s installation is required to proceed\n"
          "with the application.\n",
          std::string(version_key == 0 ? "Microsoft Access 2000" : "Microsoft Access 95/97"), tk_level_error);
    throw dao_exception();
  }
  return std::make_unique<dao_database>(name, checked_database(std::move(db)), 0x72);
}

xls_dao_version::xls_dao_version(std::wstring path) : path(std::move(path)) {
  tk_log(2, "xls_dao_version::ctor(%s)", this->path);
}

int xls_dao_version::get_version() {
  tk_log(2, "xls_dao_version::get_version");
  const std::string narrow = tk_to_utf8(path);
  // What the path holds, told before the fixed texts below, which do not say it.
  const wb_source_probe probe = wb_probe_source(narrow);
  const auto with_reason = [&](tk_exception refusal) {
    refusal.set_reason(probe.reason);
    return refusal;
  };
  // A pipe would keep the open waiting for a writer.
  if (probe.kind == wb_source_kind::not_a_file) throw with_reason(tk_exception("Error opening file", tk_level_error));
  unsigned char head[8];
  try {
    tk_stdio_file file(narrow, 0);  // closed by its destructor on every path
    if (file.get_length() <= 7)
      throw tk_exception("File '%s' does not comply with MS Access format.", narrow, tk_level_error);
    file.get_at(0, head, sizeof head);
  } catch (const tk_exception& e) {
    throw with_reason(e);
  }
  static const unsigned char compound[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (std::equal(head, head + 8, compound)) {
    tk_log(2, "This is MS Excel 2000 file");
    return 0;
  }
  if (head[0] == 0x50 && head[1] == 0x4B &&
      ((head[2] == 0x03 && head[3] == 0x04) || (head[2] == 0x07 && head[3] == 0x08))) {
    tk_log(2, "This is MS Excel 2007+ file");
    return 3;
  }
  tk_log(2, "Unknown version of MS Excel");
  return dao_version_none;
}

dao_bstr::dao_bstr() = default;

dao_bstr::dao_bstr(const std::string& text) : text(tk_utf8_to_unicode(text)) {
  tk_log(1, "dao_bstr::ctor( string=%s )", text);
}

dao_bstr::dao_bstr(const std::wstring& text) : text(text) { tk_log(1, "dao_bstr::ctor( wstring=%s )", text); }

dao_bstr::operator const std::wstring&() const {
  tk_log(1, "dao_bstr::operator BSTR");
  return text;
}
