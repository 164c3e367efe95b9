#include "tk/tk_reg_key.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "platform/key_store.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

namespace fs = std::filesystem;

namespace {

const std::string settings_key = "Software\\Hollowmere\\Tamarind";

class reg_key_test : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/tk_reg_key_test.XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    root_ = templ;
    const char* old = std::getenv("XDG_CONFIG_HOME");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    ::setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
  }
  void TearDown() override {
    if (had_old_) ::setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(root_);
  }
  void open(tk_reg_key& key) { ASSERT_EQ(key.create(tk_hkey_current_user, settings_key), 0); }

  fs::path root_;
  bool had_old_ = false;
  std::string old_;
};

template <class F>
std::string assertion_of(F&& f) {
  try {
    f();
  } catch (const tk_mail_assertion& e) {
    return e.message();
  }
  return "(nothing thrown)";
}

TEST_F(reg_key_test, CreateReportsNewThenExisting) {
  tk_reg_key key(settings_key);
  unsigned long disposition = 0;
  ASSERT_EQ(key.create(tk_hkey_current_user, settings_key, &disposition), 0);
  EXPECT_EQ(disposition, tk_reg_created_new_key);
  int port = 5432;
  ASSERT_TRUE(key.serialize("port", port, true));
  tk_reg_key again;
  ASSERT_EQ(again.create(tk_hkey_current_user, settings_key, &disposition), 0);
  EXPECT_EQ(disposition, tk_reg_opened_existing_key);
  EXPECT_EQ(assertion_of([&] { again.create(tk_hkey_null, settings_key); }),
            tk_mail_assertion::make_message("tk_regk", 64));
}

TEST_F(reg_key_test, MissingValuesKeepDefaults) {
  tk_reg_key key;
  open(key);
  int port = 7;
  bool flag = true;
  std::string host = "default";
  std::wstring src = L"default";
  EXPECT_FALSE(key.serialize("port", port, false));
  EXPECT_FALSE(key.serialize("flag", flag, false));
  EXPECT_FALSE(key.serialize("host", host, false));
  EXPECT_FALSE(key.serialize(L"src", src, false));
  EXPECT_EQ(port, 7);
  EXPECT_TRUE(flag);
  EXPECT_EQ(host, "default");
  EXPECT_EQ(src, L"default");
}

TEST_F(reg_key_test, ValuesRoundTripThroughTheFile) {
  int port = -1;
  bool flag = false;
  std::string pswd = "p=w;\"d\" \xC3\xA4";
  std::string empty;
  std::wstring src = L"/tmp/\u00e4\u20ac\U0001F600 a=b\n\\c.xlsx";
  {
    tk_reg_key key;
    open(key);
    ASSERT_TRUE(key.serialize("port", port, true));
    ASSERT_TRUE(key.serialize("flag", flag, true));
    ASSERT_TRUE(key.serialize("pswd", pswd, true));
    ASSERT_TRUE(key.serialize("empty", empty, true));
    ASSERT_TRUE(key.serialize(L"src \u00e4", src, true));
  }
  tk_reg_key key;
  open(key);
  int port2 = 0;
  bool flag2 = true;
  std::string pswd2, empty2 = "not empty";
  std::wstring src2;
  EXPECT_TRUE(key.serialize("port", port2, false));
  EXPECT_TRUE(key.serialize("flag", flag2, false));
  EXPECT_TRUE(key.serialize("pswd", pswd2, false));
  EXPECT_TRUE(key.serialize("empty", empty2, false));
  EXPECT_TRUE(key.serialize(L"src \u00e4", src2, false));
  EXPECT_EQ(port2, -1);
  EXPECT_FALSE(flag2);
  EXPECT_EQ(pswd2, pswd);
  EXPECT_EQ(empty2, "");
  EXPECT_EQ(src2, src);
}

TEST_F(reg_key_test, TypesAreCheckedOnLoad) {
  tk_reg_key key;
  open(key);
  ASSERT_EQ(key.set_value(5u, "case_sens"), 0);
  ASSERT_EQ(key.set_value("text", "port"), 0);
  bool flag = false;
  EXPECT_TRUE(key.serialize("case_sens", flag, false));
  EXPECT_TRUE(flag);  // any non-zero number loads as true
  int port = 9;
  EXPECT_FALSE(key.serialize("port", port, false));
  EXPECT_EQ(port, 9);
  std::string text = "keep";
  EXPECT_FALSE(key.serialize("case_sens", text, false));
  EXPECT_EQ(text, "keep");
}

TEST_F(reg_key_test, NarrowAndWideAddressTheSameValues) {
  tk_reg_key key;
  open(key);
  ASSERT_EQ(key.set_value("h\xC3\xA4st", "host"), 0);
  std::wstring wide;
  EXPECT_TRUE(key.serialize(L"host", wide, false));
  EXPECT_EQ(wide, L"h\u00e4st");
  ASSERT_EQ(key.set_value(L"\u20ac", L"dest"), 0);
  std::string narrow;
  EXPECT_TRUE(key.serialize("dest", narrow, false));
  EXPECT_EQ(narrow, "\xE2\x82\xAC");
}

TEST_F(reg_key_test, BufferSizesAreReported) {
  tk_reg_key key;
  open(key);
  ASSERT_EQ(key.set_value("abcdef", "v"), 0);
  std::uint32_t size = 0;
  EXPECT_EQ(key.get_value(static_cast<char*>(nullptr), "v", &size), 0);
  EXPECT_EQ(size, 7u);
  char small[4];
  size = sizeof small;
  EXPECT_EQ(key.get_value(small, "v", &size), ERANGE);
  EXPECT_EQ(size, 7u);
  wchar_t wide[7];
  size = sizeof wide;
  EXPECT_EQ(key.get_value(wide, L"v", &size), 0);
  EXPECT_EQ(std::wstring(wide), L"abcdef");
  EXPECT_EQ(size, 7 * sizeof(wchar_t));
}

TEST_F(reg_key_test, MisuseIsAnInternalError) {
  tk_reg_key key;
  EXPECT_EQ(assertion_of([&] { key.set_value(1u, "x"); }), tk_mail_assertion::make_message("tk_regk", 149));
  EXPECT_EQ(assertion_of([&] { key.set_value("t", "x"); }), tk_mail_assertion::make_message("tk_regk", 157));
  EXPECT_EQ(assertion_of([&] { key.set_value(L"t", L"x"); }), tk_mail_assertion::make_message("tk_regk", 165));
  std::uint32_t n = 0;
  EXPECT_EQ(assertion_of([&] { key.get_value(n, nullptr); }), tk_mail_assertion::make_message("tk_regk", 98));
  EXPECT_EQ(assertion_of([&] { key.get_value(static_cast<char*>(nullptr), nullptr, nullptr); }),
            tk_mail_assertion::make_message("tk_regk", 115));
  EXPECT_EQ(assertion_of([&] { key.get_value(static_cast<char*>(nullptr), nullptr, &n); }),
            tk_mail_assertion::make_message("tk_regk", 116));
  open(key);
  EXPECT_EQ(assertion_of([&] { key.set_value(static_cast<const char*>(nullptr), "x"); }),
            tk_mail_assertion::make_message("tk_regk", 156));
  EXPECT_EQ(assertion_of([&] { key.set_value(static_cast<const wchar_t*>(nullptr), L"x"); }),
            tk_mail_assertion::make_message("tk_regk", 164));
}

TEST_F(reg_key_test, ClosedKeySerialisesNothing) {
  tk_reg_key key;
  int port = 3;
  EXPECT_FALSE(key.serialize("port", port, true));
  EXPECT_FALSE(key.serialize("port", port, false));
  open(key);
  key.close();
  EXPECT_FALSE(key.is_open());
  EXPECT_FALSE(key.serialize("port", port, true));
  EXPECT_EQ(port, 3);
}

TEST_F(reg_key_test, DamagedStoreIsRefusedAndKept) {
  const fs::path file = key_store::file_for_key(settings_key);
  fs::create_directories(file.parent_path());
  const std::string damaged("port=dword:1\n\xFF\xFF\0", 16);
  std::ofstream(file, std::ios::binary) << damaged;
  const fs::path log = root_ / "run.log";
  tk_reg_key key;
  {
    tk_logger logger(log.c_str(), true, 3, false);
    EXPECT_EQ(key.create(tk_hkey_current_user, settings_key), EILSEQ);
  }
  std::ifstream in(log);
  const std::string logged((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(logged.find(file.string() + ": the file is damaged"), std::string::npos) << logged;
  EXPECT_FALSE(key.is_open());
  int port = 0;
  EXPECT_FALSE(key.serialize("port", port, true));
  EXPECT_EQ(fs::file_size(file), damaged.size());
}

}  // namespace
