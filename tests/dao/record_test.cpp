#include <gtest/gtest.h>

#include "dao/dao_database.h"
#include "dao/dao_engine.h"
#include "dao/dao_record.h"
#include "dao_test_support.h"
#include "ole/ole_exceptions.h"

using namespace dao_test;

TEST(DaoTypeMapping, EngineTypeToValueType) {
  const std::pair<short, VARTYPE> table[] = {
      {1, VT_BOOL},  {2, VT_UI1},   {3, VT_I2},    {4, VT_I4},    {5, VT_CY},    {6, VT_R4},
      {7, VT_R8},    {8, VT_DATE},  {9, VT_BLOB},  {10, VT_BSTR}, {11, VT_BLOB}, {12, VT_BSTR},
      {15, VT_BLOB}, {16, VT_BLOB}, {17, VT_BLOB}, {18, VT_BLOB}, {19, VT_R8},   {20, VT_R8},
      {21, VT_R8},   {22, VT_DATE}, {23, VT_BLOB}, {0, VT_BLOB},  {99, VT_BLOB},
  };
  for (const auto& [dao_type, vt] : table) EXPECT_EQ(vt, dao_field::get_vartype(dao_type)) << dao_type;
}

TEST(DaoTypeMapping, ValueTypeToEngineType) {
  auto native = [](VARTYPE vt, std::uint32_t size = 8) {
    t_ftd d;
    d.vartype = vt;
    d.size = size;
    return dao_field::get_native_type(d);
  };
  const std::pair<VARTYPE, short> table[] = {
      {VT_I2, 3},  {VT_I1, 3},  {VT_I4, 4},  {VT_UI2, 4},  {VT_R4, 6}, {VT_R8, 7},   {VT_DECIMAL, 7},
      {VT_UI4, 7}, {VT_I8, 7},  {VT_UI8, 7}, {VT_CY, 5},   {VT_DATE, 8}, {VT_BOOL, 1}, {VT_UI1, 2},
  };
  for (const auto& [vt, dao_type] : table) EXPECT_EQ(dao_type, native(vt)) << vt;
  // Text and binary switch to their long forms outside 1..255.
  EXPECT_EQ(10, native(VT_BSTR, 255));
  EXPECT_EQ(10, native(VT_BSTR, 1));
  EXPECT_EQ(12, native(VT_BSTR, 256));
  EXPECT_EQ(12, native(VT_BSTR, 0));
  for (VARTYPE vt : {VT_BLOB, VT_BLOB_OBJECT, static_cast<VARTYPE>(VT_ARRAY | VT_UI1)}) {
    EXPECT_EQ(9, native(vt, 255)) << vt;
    EXPECT_EQ(11, native(vt, 256)) << vt;
    EXPECT_EQ(11, native(vt, 0)) << vt;
  }
  for (VARTYPE vt : {VT_EMPTY, VT_NULL, VT_INT, VT_UINT, VT_ERROR}) EXPECT_THROW(native(vt), ole_type_exception) << vt;
}

TEST(DaoTypeMapping, ValuesAnEngineFieldAccepts) {
  udb_field ui2(L"a", 0, ole_variant(static_cast<unsigned short>(65535)), false, false);
  ole_variant v = dao_get_valid_variant(ui2);
  EXPECT_EQ(VT_I4, v.get_type());
  EXPECT_EQ(65535, v.to_long());
  udb_field i8(L"b", 0, ole_variant(static_cast<long long>(-1234567890123LL)), false, false);
  v = dao_get_valid_variant(i8);
  EXPECT_EQ(VT_R8, v.get_type());
  EXPECT_EQ(-1234567890123.0, v.get_double());
  udb_field i1(L"c", 0, ole_variant(static_cast<signed char>(-5)), false, false);
  v = dao_get_valid_variant(i1);
  EXPECT_EQ(VT_I2, v.get_type());
  EXPECT_EQ(-5, v.to_long());
  udb_field ui4(L"d", 0, ole_variant(4000000000u), false, false);
  EXPECT_EQ(4000000000.0, dao_get_valid_variant(ui4).get_double());
  udb_field text(L"e", 0, ole_variant(L"x"), false, false);
  EXPECT_TRUE(dao_get_valid_variant(text).is_empty());
}

TEST(DaoTypeMapping, DayZeroRule) {
  EXPECT_EQ(L"0000-00-00 10:15:00", dao_fix_zero_date(std::wstring(L"1899-12-30 10:15:00")));
  EXPECT_EQ("00:00:00", dao_fix_zero_date(std::string("1899-12-30")));
  EXPECT_EQ(L"2001-01-01 10:15:00", dao_fix_zero_date(std::wstring(L"2001-01-01 10:15:00")));
  EXPECT_EQ("", dao_fix_zero_date(std::string()));
}

TEST(DaoRecord, EmptyFieldsGiveAnEmptyRecordAndNullFieldsFail) {
  fake_engine_scope fake;
  wb_fake_table none;
  none.rows = {{}};
  fake.script().results[L"SELECT nothing"] = none;
  wb_fake_table count;
  count.fields = {typed_field(L"n", wb_dao_long, 4)};
  count.rows = {{ole_variant(1)}};
  fake.script().results[L"select count(*) from (SELECT nothing)"] = count;
  dao_engine engine(0);
  ASSERT_TRUE(engine.set_version_if(3));
  auto db = engine.open_dao_src(L"b.xlsx", L"Excel 5.0;", 1);
  auto rs = db->get_query(L"q", L"SELECT nothing", 1);
  EXPECT_TRUE(rs->schema.empty());
  EXPECT_TRUE(rs->get_item()->empty());
  EXPECT_THROW(dao_record(nullptr), tk_mail_assertion);
  EXPECT_THROW(dao_field(nullptr), tk_mail_assertion);
}
