// Settings of the converter: construction, the key store, profiles and the connection section.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "converter_test_support.h"
#include "dao/dao_database.h"
#include "dao/dao_engine.h"
#include "dao/dao_exception.h"
#include "pgs/pgs_converter_impl.h"
#include "tk/tk_exception.h"
#include "udb/udb_profile.h"

using namespace conv_test;

namespace {

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string key_file(const temp_dir& dir) { return dir.file("config") + "/Hollowmere/Tamarind.conf"; }

bool folder_is_empty(const std::string& path) {
  return std::filesystem::is_empty(path);
}

class settings_test : public converter_fixture {};

}  // namespace

TEST_F(settings_test, construction_values_and_the_single_instance) {
  tamarind_convertor& c = conv();
  EXPECT_EQ(c.get_mode(), 0);
  EXPECT_TRUE(c.get_from_xls());
  EXPECT_FALSE(c.get_x_fnames());  // the agent's converter
  EXPECT_TRUE(c.get_refine_types());
  EXPECT_TRUE(c.get_case_sens());
  EXPECT_EQ(c.get_n_comma(), 1);
  EXPECT_EQ(c.get_schema(), L"public");
  EXPECT_EQ(c.get_port(), 0);
  EXPECT_FALSE(c.is_finished());
  EXPECT_EQ(c.get_progress(), 0);  // no worksheets
  EXPECT_EQ(&tamarind_convertor::instance(), &c);
  EXPECT_TRUE(c.test_connection());
  try {
    tamarind_convertor second;
    FAIL() << "a second converter was built";
  } catch (const tk_mail_assertion& e) {
    EXPECT_EQ(std::string(e.what()), tk_mail_assertion::make_message("..\\TK/tk_singl", 35));
  }
  EXPECT_EQ(&tamarind_convertor::instance(), &c);  // the first one stays registered
}

TEST_F(settings_test, the_agent_never_touches_the_key_store) {
  {
    tamarind_convertor& c = conv(tmd_front_end::agent);
    c.set_dest(L"mydb");
    c.set_connection_params("h", "u", "secret", 5433);
    drop_converter();
  }
  EXPECT_TRUE(folder_is_empty(dir.file("config")));
  EXPECT_TRUE(folder_is_empty(dir.file("home")));
}

TEST_F(settings_test, the_wizard_loads_defaults_and_stores_everything_on_exit) {
  {
    tamarind_convertor& c = conv(tmd_front_end::wizard);
    // A first start: defaults, empty texts.
    EXPECT_TRUE(c.get_x_fnames());
    EXPECT_TRUE(c.get_from_xls());
    EXPECT_TRUE(c.get_refine_types());
    EXPECT_TRUE(c.get_case_sens());
    EXPECT_EQ(c.get_n_comma(), 1);
    EXPECT_EQ(c.get_port(), 0);
    EXPECT_TRUE(c.get_src().empty());
    EXPECT_TRUE(c.get_host().empty());
    c.set_src(L"/data/B\u00fccher.xlsx");
    c.set_dest(L"Sales");
    c.set_tab_name(L"t1");
    c.set_x_fnames(false);
    c.set_refine_types(false);
    c.set_n_comma(7);
    c.set_connection_params("db.example", "anna", "p\xc3\xa4ss word", 5433);
    drop_converter();
  }
  const std::string file = key_file(dir);
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // The password is kept as it was typed, as the wizard always did.
  EXPECT_NE(read_text(file).find("pswd=sz:p\xc3\xa4ss word"), std::string::npos);

  tamarind_convertor& again = conv(tmd_front_end::wizard);
  EXPECT_EQ(again.get_src(), L"/data/B\u00fccher.xlsx");
  EXPECT_EQ(again.get_dest(), L"Sales");
  EXPECT_EQ(again.get_tab_name(), L"t1");
  EXPECT_FALSE(again.get_x_fnames());
  EXPECT_FALSE(again.get_refine_types());
  EXPECT_EQ(again.get_n_comma(), 7);
  EXPECT_EQ(again.get_host(), "db.example");
  EXPECT_EQ(again.get_user(), "anna");
  EXPECT_EQ(again.get_password(), "p\xc3\xa4ss word");
  EXPECT_EQ(again.get_port(), 5433);
}

TEST_F(settings_test, serialize_fails_without_a_usable_key_and_changes_nothing) {
  // A damaged key file is refused, never written over; the settings stay as they are.
  std::filesystem::create_directories(dir.file("config") + "/Hollowmere");
  write_bytes(key_file(dir), std::string("x_fnames=dword:0\n\0\xff", 20));
  tamarind_convertor& c = conv(tmd_front_end::agent);
  c.set_x_fnames(false);
  c.set_n_comma(5);
  EXPECT_FALSE(c.serialize(false));
  EXPECT_FALSE(c.get_x_fnames());  // no default applied
  EXPECT_EQ(c.get_n_comma(), 5);
  EXPECT_FALSE(c.serialize(true));
  EXPECT_EQ(read_text(key_file(dir)), std::string("x_fnames=dword:0\n\0\xff", 20));
}

TEST_F(settings_test, a_profile_round_trip_keeps_every_setting) {
  const std::wstring path = wide(dir.file("p.tmd"));
  {
    tamarind_convertor& c = conv();
    c.set_src(L"/data/book.xlsx");
    c.set_dest(L"Target");
    c.set_mode(3);
    c.set_x_fnames(true);
    c.set_refine_types(false);
    c.set_from_xls(true);
    c.set_connection_params("host1", "user\xc3\xa9", "pw with blank", 6543);
    ASSERT_TRUE(c.save_profile_file(path));
    drop_converter();
  }
  const std::string text = read_text(narrow(path));
  EXPECT_NE(text.find("[MS Excel settings]\r\n"), std::string::npos);
  EXPECT_NE(text.find("extract field names=1\r\n"), std::string::npos);
  EXPECT_NE(text.find("refine types=0\r\n"), std::string::npos);
  EXPECT_NE(text.find("password=pw with blank\r\n"), std::string::npos);
  EXPECT_NE(text.find("port=6543\r\n"), std::string::npos);

  tamarind_convertor& c = conv();
  ASSERT_TRUE(c.load_profile_file(path, false));
  EXPECT_EQ(c.get_src(), L"/data/book.xlsx");
  EXPECT_EQ(c.get_dest(), L"Target");
  EXPECT_EQ(c.get_mode(), 3);
  EXPECT_TRUE(c.get_x_fnames());
  EXPECT_FALSE(c.get_refine_types());
  EXPECT_EQ(c.get_host(), "host1");
  EXPECT_EQ(c.get_user(), "user\xc3\xa9");
  EXPECT_EQ(c.get_password(), "pw with blank");
  EXPECT_EQ(c.get_port(), 6543);
}

TEST_F(settings_test, excel_flags_are_true_only_for_exactly_one_and_missing_keys_keep_them) {
  tamarind_convertor& c = conv();
  const std::string path = dir.file("flags.tmd");
  write_bytes(path,
              "[Generic settings]\nmode=2\n[MS Excel settings]\nextract field names=yes\nconvert from xls=1\n");
  c.set_x_fnames(true);
  c.set_refine_types(false);
  ASSERT_TRUE(c.load_profile_file(wide(path), false));
  EXPECT_FALSE(c.get_x_fnames());
  EXPECT_FALSE(c.get_refine_types());  // no key: unchanged
  EXPECT_TRUE(c.get_from_xls());
  EXPECT_EQ(c.get_mode(), 2);
}

TEST_F(settings_test, an_invalid_mode_or_port_is_refused) {
  tamarind_convertor& c = conv();
  c.set_mode(2);
  for (const char* bad_mode : {"9", "x", "12", "-1"}) {
    const std::string path = dir.file("mode.tmd");
    write_bytes(path, std::string("[Generic settings]\nmode=") + bad_mode + "\ndest=other\n");
    try {
      c.load_profile_file(wide(path), false);
      ADD_FAILURE() << bad_mode;
    } catch (const tk_exception& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid merge/overwrite mode");
      EXPECT_EQ(e.level(), 1);
    }
    EXPECT_EQ(c.get_mode(), 2) << bad_mode;
    EXPECT_TRUE(c.get_dest().empty()) << bad_mode;
  }
  c.set_connection_params("h1", "", "", 0);
  for (const char* bad_port : {"abc", "0", "70000", "-5", "99999999999999"}) {
    const std::string path = dir.file("port.tmd");
    write_bytes(path, std::string("[pgs settings]\nhost=h2\nport=") + bad_port + "\n");
    try {
      c.load_profile_file(wide(path), false);
      ADD_FAILURE() << bad_port;
    } catch (const tk_exception& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid port number");
      EXPECT_EQ(e.level(), 1);
    }
    EXPECT_EQ(c.get_host(), "h1");  // read before the port, then put back
    EXPECT_EQ(c.get_port(), 0);
  }
  // A key before any section is no profile.
  const std::string broken = dir.file("broken.tmd");
  write_bytes(broken, "mode=1\n[Generic settings]\n");
  EXPECT_FALSE(c.load_profile_file(wide(broken), false));
  EXPECT_EQ(c.get_mode(), 2);
}

TEST_F(settings_test, a_profile_that_fails_to_load_leaves_every_setting_as_it_was) {
  const std::string fixtures = std::string(TAMARIND_SOURCE_DIR) + "/tests/fixtures/xls/";
  tamarind_convertor& c = conv(tmd_front_end::wizard);
  const std::string first = dir.file("first.tmd");
  write_bytes(first, "[Generic settings]\nsrc=" + fixtures + "basic.xls\ndest=kept\nmode=2\n"
                     "[Selected Tables]\nData=\nbig=SELECT 1\n[Available Queries]\nstored=SELECT 2\n"
                     "[pgs settings]\nhost=kept.example\nuser=keeper\npassword=pw1\nport=5433\n"
                     "[MS Excel settings]\nextract field names=1\nrefine types=1\n");
  ASSERT_TRUE(c.load_profile_file(wide(first)));
  ASSERT_EQ(c.get_worksheets().size(), 1u);

  const auto expect_first = [&](const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(c.get_src(), wide(fixtures + "basic.xls"));
    EXPECT_EQ(c.get_dest(), L"kept");
    EXPECT_EQ(c.get_mode(), 2);
    EXPECT_EQ(c.get_host(), "kept.example");
    EXPECT_EQ(c.get_user(), "keeper");
    EXPECT_EQ(c.get_password(), "pw1");
    EXPECT_EQ(c.get_port(), 5433);
    EXPECT_TRUE(c.get_x_fnames());
    EXPECT_TRUE(c.get_refine_types());
    EXPECT_EQ(c.get_sel_tables(), std::vector<std::wstring>{L"Data"});
    EXPECT_EQ(c.get_selected().size(), 2u);
    EXPECT_EQ(c.get_available_queries().size(), 1u);
    ASSERT_EQ(c.get_worksheets().size(), 1u);
    EXPECT_EQ(c.get_worksheets().count(L"Data"), 1u);
    EXPECT_TRUE(c.selection_requested());
  };
  const std::string rest = "\ndest=other\nmode=1\n[Selected Tables]\nOther=\n"
                           "[pgs settings]\nhost=other.example\nuser=intruder\npassword=pw2\nport=6000\n"
                           "[MS Excel settings]\nextract field names=0\nrefine types=0\n";
  // A source of a kind no engine reads: the load gives false.
  const std::string notes = dir.file("notes.xls");
  write_bytes(notes, "just some text, not a workbook");
  const std::string no_workbook = dir.file("no_workbook.tmd");
  write_bytes(no_workbook, "[Generic settings]\nsrc=" + notes + rest);
  EXPECT_FALSE(c.load_profile_file(wide(no_workbook)));
  expect_first("no workbook");
  // No source at all (and none before would be the same): false, nothing opened.
  c.set_src(L"");
  const std::string no_source = dir.file("no_source.tmd");
  write_bytes(no_source, "[Generic settings]" + rest);
  EXPECT_FALSE(c.load_profile_file(wide(no_source)));
  EXPECT_EQ(c.get_host(), "kept.example");
  EXPECT_EQ(c.get_dest(), L"kept");
  c.set_src(wide(fixtures + "basic.xls"));
  // A workbook with none of the named worksheets: the load throws.
  const std::string none_found = dir.file("none_found.tmd");
  write_bytes(none_found, "[Generic settings]\nsrc=" + fixtures + "basic.xls" + rest);
  EXPECT_THROW(c.load_profile_file(wide(none_found)), tk_exception);
  expect_first("none found");
  // A file the engine takes for a workbook but cannot read: the engine's error passes out.
  const std::string unreadable = dir.file("unreadable.tmd");
  write_bytes(unreadable, "[Generic settings]\nsrc=" + fixtures + "no_workbook.xls" + rest);
  EXPECT_THROW(c.load_profile_file(wide(unreadable)), tk_exception);
  expect_first("unreadable");
}

TEST(pgs_converter_impl_test, the_connection_section) {
  pgs_converter_impl settings;
  udb_profile empty;
  ASSERT_TRUE(settings.load_profile(empty));  // no section: nothing changes
  EXPECT_EQ(settings.get_port(), 0);
  EXPECT_EQ(settings.get_schema(), L"public");

  udb_profile stored;
  ASSERT_TRUE(settings.store_profile(stored));  // empty host, user, password and port 0
  EXPECT_EQ(stored.get_value(L"pgs settings", L"host"), L"");
  EXPECT_EQ(stored.get_value(L"pgs settings", L"port"), L"");
  EXPECT_EQ(stored.get_value(L"pgs settings", L"schema"), L"public");

  EXPECT_EQ(pgs_converter_impl::parse_port(L"5433x"), 5433);
  EXPECT_EQ(pgs_converter_impl::parse_port(L"  5433"), 5433);
  EXPECT_EQ(pgs_converter_impl::parse_port(L"+12"), 12);
  EXPECT_EQ(pgs_converter_impl::parse_port(L"abc"), 0);

  udb_profile p;
  p.set_value(L"pgs settings", L"host", L"srv");
  p.set_value(L"pgs settings", L"password", L"\u00e4\u20ac");
  // A port key is digits alone: "5433x" names no port (blanks around the digits are kept from a
  // hand-written "port = 5433").
  udb_profile bad_port;
  bad_port.set_value(L"pgs settings", L"port", L"5433x");
  EXPECT_THROW(settings.load_profile(bad_port), tk_exception);
  p.set_value(L"pgs settings", L"port", L" 5433");
  settings.set_connection_params("old", "keep", "x", 1);
  ASSERT_TRUE(settings.load_profile(p));
  EXPECT_EQ(settings.get_host(), "srv");
  EXPECT_EQ(settings.get_user(), "keep");
  EXPECT_EQ(settings.get_password(), "\xc3\xa4\xe2\x82\xac");
  EXPECT_EQ(settings.get_port(), 5433);

  udb_profile again;
  settings.store_profile(again);
  EXPECT_EQ(again.get_value(L"pgs settings", L"password"), L"\u00e4\u20ac");
  EXPECT_EQ(again.get_value(L"pgs settings", L"port"), L"5433");
}

TEST_F(settings_test, a_sources_foreign_key_errors_reach_the_error_handler_while_the_converter_lives) {
  const auto installed = [] {
    dao_fkey_error_reporter current = dao_set_fkey_error_reporter(nullptr);
    dao_set_fkey_error_reporter(current);
    return current;
  };
  ASSERT_FALSE(installed());
  conv();
  const dao_fkey_error_reporter reporter = installed();
  ASSERT_TRUE(reporter);

  // A real engine error to hand over: a source that does not exist.
  dao_engine engine(0);
  ASSERT_TRUE(engine.set_version_if(3));
  try {
    engine.open_dao_src(wide(dir.file("missing.xlsx")), L"Excel 12.0 Xml;HDR=Yes;", 0);
    FAIL() << "a missing source opened";
  } catch (const dao_exception& e) {
    ASSERT_EQ(e.level(), 0);
    EXPECT_NO_THROW(reporter(e, L"data.mdb"));  // level 0: told, and the open goes on
    ASSERT_EQ(presenter.reports().size(), 1u);
    EXPECT_EQ(presenter.reports()[0].rfind("data.mdb: ", 0), 0u) << presenter.reports()[0];
    EXPECT_EQ(handler->reported().level0, 1u);
    EXPECT_EQ(handler->context(), "") << "a later report must not carry the source's name";
  }
  drop_converter();
  EXPECT_FALSE(installed()) << "the converter takes its reporter with it";
}
