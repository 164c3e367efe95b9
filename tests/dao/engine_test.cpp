#include <gtest/gtest.h>

#include "dao/dao_database.h"
#include "dao/dao_engine.h"
#include "dao/dao_exception.h"
#include "dao_test_support.h"
#include "platform/com_object.h"

using namespace dao_test;

namespace {

int version_of(const temp_dir& dir, const std::string& bytes) {
  const std::string path = dir.file("probe.xls");
  write_bytes(path, bytes);
  return xls_dao_version(wide(path)).get_version();
}

}  // namespace

TEST(DaoVersion, FileSignaturesChooseTheEngine) {
  temp_dir dir;
  const std::string cfb("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  EXPECT_EQ(0, version_of(dir, cfb + "rest"));
  EXPECT_EQ(3, version_of(dir, std::string("PK\x03\x04", 4) + "zipdata"));
  EXPECT_EQ(3, version_of(dir, std::string("PK\x07\x08", 4) + "zipdata"));
  EXPECT_EQ(4, version_of(dir, std::string(8, '\0')));
  // A compound document whose second word differs is no compound document.
  EXPECT_EQ(4, version_of(dir, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE2xx", 10)));
}

TEST(DaoVersion, SevenByteFileIsRejectedWithItsPath) {
  temp_dir dir;
  const std::string path = dir.file("tiny.xls");
  write_bytes(path, std::string("PK\x03\x04", 4) + "abc");  // 7 bytes
  try {
    xls_dao_version(wide(path)).get_version();
    FAIL() << "no exception";
  } catch (const tk_exception& e) {
    EXPECT_EQ(tk_level_error, e.level());
    EXPECT_EQ("File '" + path + "' does not comply with MS Access format.", e.message());
  }
}

TEST(DaoEngine, VersionFallbackAndReplacement) {
  fake_engine_scope fake({3});
  dao_engine engine(0);
  EXPECT_EQ(dao_version_none, engine.get_version_key());
  EXPECT_FALSE(engine.set_version_if(3));
  EXPECT_EQ(dao_version_none, engine.get_version_key());
  EXPECT_EQ(nullptr, engine.get_engine());
  EXPECT_TRUE(engine.set_version_if(0));
  EXPECT_EQ(0, engine.get_version_key());
  EXPECT_NE(nullptr, engine.get_engine());
  // A second choice releases the first engine; a failed one leaves none.
  EXPECT_FALSE(engine.set_version_if(3));
  EXPECT_EQ(dao_version_none, engine.get_version_key());
  EXPECT_EQ(nullptr, engine.get_engine());
}

TEST(DaoEngine, BothVersionsMissing) {
  fake_engine_scope fake({0, 3});
  dao_engine engine(0);
  EXPECT_FALSE(engine.set_version_if(3));
  EXPECT_FALSE(engine.set_version_if(0));
  EXPECT_EQ(dao_version_none, engine.get_version_key());
}

TEST(DaoEngine, UnknownKeyAndMissingVersionAreInternalErrors) {
  fake_engine_scope fake;
  dao_engine engine(0);
  EXPECT_THROW(engine.set_version_if(7), tk_mail_assertion);
  EXPECT_THROW(engine.open_dao_src(L"a.xls", L"Excel 5.0;", 1), tk_mail_assertion);
  EXPECT_THROW(engine.open_db(L"a.mdb", 0, L""), tk_mail_assertion);
  EXPECT_THROW(engine.create_db(L"a.mdb"), tk_mail_assertion);
}

TEST(DaoEngine, SecondLiveEngineIsAnAssertion) {
  dao_engine first(1);
  EXPECT_THROW(dao_engine second(1), tk_mail_assertion);
  EXPECT_EQ(&first, &dao_engine::instance());
}

TEST(DaoEngine, StartsTheComponentLibraryUnlessTheCallerDid) {
  const int before = platform::com_init_count();
  {
    dao_engine engine(0);
    EXPECT_EQ(before + 1, platform::com_init_count());
  }
  EXPECT_EQ(before, platform::com_init_count());
  {
    dao_engine engine(1);
    EXPECT_EQ(before, platform::com_init_count());
  }
  EXPECT_EQ(before, platform::com_init_count());
}

TEST(DaoEngine, OpenSourceIsReadOnlyAndSkipsForeignKeys) {
  fake_engine_scope fake;
  dao_engine engine(0);
  ASSERT_TRUE(engine.set_version_if(3));
  auto db = engine.open_dao_src(L"/tmp/book.xlsx", L"Excel 5.0; IMEX=1;", 1);
  ASSERT_TRUE(db);
  EXPECT_EQ(0x21, db->flags);
  ASSERT_EQ(1u, fake.script().read_only_flags.size());
  EXPECT_TRUE(fake.script().read_only_flags[0]);
  EXPECT_FALSE(fake.script().exclusive_flags[0]);
  EXPECT_EQ(L"Excel 5.0; IMEX=1;", fake.script().connects[0]);
  auto exclusive = engine.open_dao_src(L"/tmp/book.xlsx", L"", 0x10);
  EXPECT_TRUE(fake.script().exclusive_flags[1]);
  EXPECT_FALSE(fake.script().read_only_flags[1]);
}

TEST(DaoEngine, OpenDbPassesThePasswordOnlyWhenGiven) {
  fake_engine_scope fake;
  dao_engine engine(0);
  ASSERT_TRUE(engine.set_version_if(0));
  engine.open_db(L"a.mdb", 0x20, L"");
  engine.open_db(L"a.mdb", 0x20, L"secret");
  ASSERT_EQ(2u, fake.script().connects.size());
  EXPECT_EQ(L"", fake.script().connects[0]);
  EXPECT_EQ(L";pwd=secret", fake.script().connects[1]);
}

TEST(DaoEngine, CreateDbLocaleAndMissingSupportLibrary) {
  fake_engine_scope fake;
  dao_engine engine(0);
  ASSERT_TRUE(engine.set_version_if(0));
  auto db = engine.create_db(L"new.mdb");
  EXPECT_EQ(0x72, db->flags);
  EXPECT_EQ(L";LANGID=0x0409;CP=1252;COUNTRY=0", fake.script().connects.back());
  db.reset();
  fake.script().failures["create_database"] = {static_cast<long>(0x800A0E31ul), L"missing"};
  try {
    engine.create_db(L"new.mdb");
    FAIL() << "no exception";
  } catch (const dao_exception&) {
    FAIL() << "expected the support-library text";
  } catch (const tk_exception& e) {
    EXPECT_EQ(tk_level_error, e.level());
    EXPECT_NE(std::string::npos, e.message().find("Microsoft Access 2000 installation is required"));
  }
  fake.script().failures["create_database"] = {3251, L"This operation is not supported on a workbook."};
  try {
    engine.create_db(L"new.mdb");
    FAIL() << "no exception";
  } catch (const dao_exception& e) {
    EXPECT_EQ(0x00010CB3, e.code());
  }
}

TEST(DaoException, CarriesTheEngineNumberAndText) {
  fake_engine_scope fake;
  dao_engine engine(0);
  ASSERT_TRUE(engine.set_version_if(3));
  fake.script().failures["open_database"] = {3049, L"Cannot open database."};
  try {
    engine.open_dao_src(L"x.xls", L"Excel 5.0;", 1);
    FAIL() << "no exception";
  } catch (const dao_exception& e) {
    EXPECT_EQ(0x00010BE9, e.code());
    EXPECT_EQ(tk_level_recoverable, e.level());
    EXPECT_EQ("Cannot open database.", e.message());
    const dao_exception copy(e);
    EXPECT_EQ(e.code(), copy.code());
    EXPECT_EQ(e.message(), copy.message());
  }
  // The number keeps only its low 16 bits.
  EXPECT_EQ(0x00011234, dao_exception::make_code(0x7FFF1234L));
}

TEST(DaoException, UnreadableErrorListBecomesUnknownException) {
  fake_engine_scope fake;
  dao_engine engine(0);
  ASSERT_TRUE(engine.set_version_if(3));
  fake.script().failures["open_database"] = {3049, L"x"};
  fake.script().fail_without_errors = true;
  try {
    engine.open_dao_src(L"x.xls", L"Excel 5.0;", 1);
    FAIL() << "no exception";
  } catch (const dao_exception&) {
    FAIL() << "an empty error list gives no engine error";
  } catch (const tk_exception& e) {
    EXPECT_EQ(tk_level_error, e.level());
    EXPECT_EQ("Unknown exception", e.message());
  }
  fake.script().fail_without_errors = false;
  fake.script().errors_throw = true;
  EXPECT_THROW(
      {
        try {
          engine.open_dao_src(L"x.xls", L"Excel 5.0;", 1);
        } catch (const dao_exception&) {
          ADD_FAILURE();
        }
      },
      tk_exception);
}

TEST(DaoException, WithoutAnEngineObject) {
  dao_engine engine(1);
  try {
    throw dao_exception();
  } catch (const dao_exception&) {
    FAIL();
  } catch (const tk_exception& e) {
    EXPECT_EQ("Unknown exception", e.message());
    EXPECT_EQ(tk_level_error, e.level());
  }
}
