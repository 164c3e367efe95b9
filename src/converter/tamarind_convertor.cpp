// The converter object: construction, the key store, profiles and the worksheet selection.
#include "converter/tamarind_convertor.h"

#include <cstdio>

#include "converter/error_handler.h"
#include "converter/frame_services.h"
#include "dao/dao_exception.h"
#include "platform/key_store.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "udb/udb_profile.h"

namespace {

/// A source's foreign keys that cannot be read: told to the user at level 0, with the source's
/// name as context; opening the source goes on.
void report_fkey_error(const dao_exception& error, const std::wstring& source_name) {
  error_handler* handler = error_handler::instance_ptr();
  if (!handler) return;
  handler->set_context(source_name);
  handler->handle(error, false);
  // Later reports of the run must not carry the source's name.
  handler->set_context(std::wstring());
}

}  // namespace

tamarind_convertor::tamarind_convertor(tmd_front_end front_end)
    : reg_key(registry_path), m_front_end(front_end) {
  tab_name.clear();
  tk_log(2, "tamarind_convertor::ctor");
  m_previous_fkey_reporter = dao_set_fkey_error_reporter(report_fkey_error);
  if (m_front_end == tmd_front_end::wizard) {
    serialize(false);
  } else {
    x_fnames = false;
  }
}

tamarind_convertor::~tamarind_convertor() {
  tk_log(2, "tamarind_convertor::dtor");
  if (m_stop_watch.joinable()) m_stop_watch.join();
  if (m_front_end == tmd_front_end::wizard) {
    bool stored = false;
    try {
      stored = serialize(true);
    } catch (...) {
      stored = false;
    }
    // The program is ending: stderr is the one place left where a lost setting can be told.
    if (!stored) {
      std::string file;
      try {
        file = key_store::file_for_key(registry_path).string();
      } catch (...) {
      }
      std::fprintf(stderr, "The settings could not be saved to %s\n", file.c_str());
      std::fflush(stderr);
    }
  }
  reg_key.close();
  dao_set_fkey_error_reporter(std::move(m_previous_fkey_reporter));
}

bool tamarind_convertor::test_connection() { return test_query(); }

// ---- key store ---------------------------------------------------------------------------

bool tamarind_convertor::serialize(bool store) {
  tk_log(1, "serialize( %d )", store ? 1 : 0);
  if (reg_key.create(tk_hkey_current_user, registry_path) != 0) return false;
  const bool load = !store;
  bool ok = true;
  bool from = from_xls.load();
  if (load) case_sens = true;
  ok = reg_key.serialize("case_sens", case_sens, store) && ok;
  ok = reg_key.serialize(L"dest", dest, store) && ok;
  if (load) from = true;
  ok = reg_key.serialize("from_xls", from, store) && ok;
  ok = reg_key.serialize("host", host, store) && ok;
  if (load) n_comma = 1;
  ok = reg_key.serialize("n_comma", n_comma, store) && ok;
  if (load) port = 0;
  ok = reg_key.serialize("port", port, store) && ok;
  ok = reg_key.serialize("pswd", password, store) && ok;
  if (load) refine_types = true;
  ok = reg_key.serialize("refine_types", refine_types, store) && ok;
  ok = reg_key.serialize(L"src", src, store) && ok;
  ok = reg_key.serialize(L"tab_name", tab_name, store) && ok;
  ok = reg_key.serialize("user", user, store) && ok;
  if (load) x_fnames = true;
  ok = reg_key.serialize("x_fnames", x_fnames, store) && ok;
  if (load) from_xls.store(from);
  reg_key.close();
  return ok;
}

// ---- profiles ----------------------------------------------------------------------------

bool tamarind_convertor::store_options(udb_profile& profile) {
  tk_log(2, "tamarind_convertor::store_options");
  if (!udb_converter::store_profile(profile)) return false;
  if (!pgs_converter_impl::store_profile(profile)) return false;
  const auto flag = [](bool value) { return std::wstring(value ? L"1" : L"0"); };
  profile.set_value(excel_section, L"extract field names", flag(x_fnames));
  profile.set_value(excel_section, L"refine types", flag(refine_types));
  profile.set_value(excel_section, L"convert from xls", flag(from_xls.load()));
  return true;
}

bool tamarind_convertor::load_options(udb_profile& profile, bool list_sheets) {
  tk_log(2, "tamarind_convertor::load_options");
  if (!udb_converter::load_profile(profile)) return false;
  if (!pgs_converter_impl::load_profile(profile)) return false;
  // Exactly "1" is true; any other text is false; no text leaves the setting.
  const auto read_flag = [&](const wchar_t* key, auto&& assign) {
    const std::wstring text = profile.get_value(excel_section, key);
    if (!text.empty()) assign(text == L"1");
  };
  read_flag(L"extract field names", [&](bool v) { x_fnames = v; });
  read_flag(L"refine types", [&](bool v) { refine_types = v; });
  read_flag(L"convert from xls", [&](bool v) { from_xls.store(v); });
  tk_log(1, "Duplicate selected tables in 'worksheets' array");
  // A profile naming no worksheet means every worksheet, whichever program runs it.
  m_every_worksheet = sel_tables.empty();
  m_nothing_chosen = false;
  if (!list_sheets) return true;
  return select_worksheets(sel_tables);
}

bool tamarind_convertor::save_profile_file(const std::wstring& path) {
  tk_log(2, "tamarind_convertor::save_profile_file(%s)", path);
  udb_profile profile;
  if (!store_options(profile)) return false;
  return profile.store(path);
}

bool tamarind_convertor::load_profile_file(const std::wstring& path, bool list_sheets) {
  tk_log(2, "tamarind_convertor::load_profile_file(%s)", path);
  udb_profile profile;
  if (!profile.load(path)) return false;
  // A profile that does not load leaves every setting as it was: half-loaded values would reach the
  // key store, or the next run.
  const auto saved = std::apply([](const auto&... field) { return std::tuple(field...); }, settings());
  const bool saved_from_xls = from_xls.load();
  const auto restore = [&] {
    tk_log(2, "tamarind_convertor: the profile did not load, the settings are restored");
    settings() = saved;
    from_xls.store(saved_from_xls);
  };
  bool loaded = false;
  try {
    loaded = load_options(profile, list_sheets);
  } catch (...) {
    restore();
    throw;
  }
  if (!loaded)
    restore();
  else
    ++m_profile_loads;
  return loaded;
}

// ---- worksheet selection -------------------------------------------------------------------

std::vector<std::wstring> tamarind_convertor::set_sel_sheets(const std::vector<std::wstring>& names) {
  m_selection_requested = !names.empty();
  m_nothing_chosen = false;
  if (m_selection_requested) m_every_worksheet = false;
  return xls_reader::set_sel_sheets(names);
}

void tamarind_convertor::choose_no_worksheet() {
  set_sel_sheets({});
  m_every_worksheet = false;
  m_nothing_chosen = true;
}

void tamarind_convertor::report_missing(const std::vector<std::wstring>& names) {
  if (names.empty()) return;
  if (error_handler* handler = error_handler::instance_ptr())
    for (std::size_t i = 0; i < names.size(); ++i) handler->count_reported_error(tk_level_recoverable);
  if (frame_services* frame = m_frame.load(); frame && shows_progress()) frame->worksheets_not_found(names);
}

bool tamarind_convertor::select_worksheets(const std::vector<std::wstring>& names) {
  tk_log(2, "tamarind_convertor::select_worksheets");
  std::vector<std::wstring> listed;
  if (!get_all_sheets(listed)) {
    worksheets.clear();
    return false;
  }
  report_missing(set_sel_sheets(names));
  if (m_selection_requested && worksheets.empty())
    throw tk_exception("None of the selected worksheets exists in the workbook.", tk_level_recoverable);
  return true;
}
