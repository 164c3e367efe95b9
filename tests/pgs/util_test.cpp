// Type mapping, SQL and COPY text of values, and column defaults.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pgs/pgs_util.h"
#include "tk/tk_exception.h"
#include "udb/udb_types.h"

namespace {

t_ftd column(VARTYPE vt, std::uint32_t size = 0, int reserved = 0, const ole_variant& def = ole_variant()) {
  return t_ftd(size, L"c", vt, false, false, def, reserved);
}

std::wstring copy_text(const std::wstring& text, VARTYPE vt, int reserved = 0) {
  return to_pgs_str(text, vt, reserved, pgs_copy_mode);
}
std::wstring sql_text(const std::wstring& text, VARTYPE vt, int reserved = 0) {
  return to_pgs_str(text, vt, reserved, pgs_sql_mode);
}
std::wstring default_of(VARTYPE vt, const std::wstring& text, std::uint32_t size = 20, int reserved = 0) {
  const t_ftd c = column(vt, size, reserved, ole_variant(text));
  return make_pgs_def_val(&c);
}

}  // namespace

TEST(PgsTypes, CatalogueNamesMapExactly) {
  EXPECT_EQ(pgs_get_vartype("timestamptz"), VT_BSTR);
  EXPECT_EQ(pgs_get_vartype("timestamp with time zone"), VT_DATE);
  EXPECT_EQ(pgs_get_vartype("real"), VT_R8);
  EXPECT_EQ(pgs_get_vartype("float4"), VT_R4);
  EXPECT_EQ(pgs_get_vartype("inet"), VT_BSTR);
  EXPECT_EQ(pgs_get_vartype("Integer"), VT_BSTR);  // case-sensitive
  EXPECT_EQ(pgs_get_vartype("integer"), VT_I4);
  EXPECT_EQ(pgs_get_vartype("bigserial"), VT_I8);
  EXPECT_EQ(pgs_get_vartype("smallint"), VT_I2);
  EXPECT_EQ(pgs_get_vartype("boolean"), VT_BOOL);
  EXPECT_EQ(pgs_get_vartype("bytea"), VT_BLOB);
}

TEST(PgsTypes, EveryColumnTypeHasItsCreateTableType) {
  const struct {
    VARTYPE vt;
    std::uint32_t size;
    int reserved;
    const wchar_t* type;
  } cases[] = {
      {VT_I2, 0, 0, L"SMALLINT"},         {VT_I1, 0, 0, L"SMALLINT"},
      {VT_UI1, 0, 0, L"SMALLINT"},        {VT_I4, 0, 0, L"INTEGER"},
      {VT_UI2, 0, 0, L"INTEGER"},         {VT_INT, 0, 0, L"INTEGER"},
      {VT_UI4, 0, 0, L"BIGINT"},          {VT_I8, 0, 0, L"BIGINT"},
      {VT_UI8, 0, 0, L"BIGINT"},          {VT_UINT, 0, 0, L"BIGINT"},
      {VT_R4, 0, 0, L"FLOAT"},            {VT_R8, 0, 0, L"DOUBLE PRECISION"},
      {VT_CY, 0, 0, L"DECIMAL(19, 4)"},   {VT_DECIMAL, 0, 0x0C02, L"DECIMAL(12,2)"},
      {VT_DECIMAL, 0, 0, L"DECIMAL"},     {VT_DECIMAL, 0, 0x0205, L"DECIMAL"},
      {VT_DATE, 0, 0, L"TIMESTAMP"},      {VT_DATE, 0, 1, L"TIMESTAMP"},
      {VT_DATE, 0, 2, L"DATE"},           {VT_DATE, 0, 3, L"TIME"},
      {VT_BSTR, 0, 0, L"TEXT"},           {VT_BSTR, 40000, 0, L"TEXT"},
      {VT_BSTR, 32672, 0, L"VARCHAR(32672) "}, {VT_BSTR, 1, 0, L"VARCHAR(1) "},
      {VT_LPWSTR, 32673, 0, L"TEXT"},     {VT_BOOL, 0, 0, L"BOOLEAN"},
      {VT_BLOB, 0, 0, L"BYTEA"},          {VT_BLOB_OBJECT, 0, 0, L"BYTEA"},
      {static_cast<VARTYPE>(VT_ARRAY | VT_UI1), 0, 0, L"BYTEA"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(pgs_get_native_type(column(c.vt, c.size, c.reserved)), c.type) << "vt=" << c.vt;
}

TEST(PgsTypes, TypesWithoutCounterpartAreInternalErrors) {
  for (VARTYPE vt : {VT_EMPTY, VT_NULL, VT_ERROR}) {
    try {
      pgs_get_native_type(column(vt));
      ADD_FAILURE() << "no error for vt=" << vt;
    } catch (const tk_mail_assertion& e) {
      EXPECT_EQ(e.level(), 2);
      EXPECT_EQ(e.message(), tk_mail_assertion::make_message("pgs_util", 89));
    }
  }
}

TEST(PgsValueText, TextIsEscapedForCopyAndForSql) {
  EXPECT_EQ(copy_text(L"O'Brien", VT_BSTR), L"O'Brien");
  EXPECT_EQ(sql_text(L"O'Brien", VT_BSTR), L"'O''Brien'");
  EXPECT_EQ(copy_text(L"a\\b", VT_BSTR), L"a\\\\b");
  EXPECT_EQ(sql_text(L"a\\b", VT_BSTR), L"'a\\b'");
  EXPECT_EQ(copy_text(L"a\tb", VT_BSTR), L"a\\\tb");
  EXPECT_EQ(copy_text(L"a\r\nb\r", VT_BSTR), L"a\nb");  // CR dropped, LF left to the line builder
  EXPECT_EQ(sql_text(L"a\r\rb", VT_BSTR), L"'ab'");
  EXPECT_EQ(copy_text(L"\\N", VT_BSTR), L"\\\\N");  // a text that reads like the null marker
  EXPECT_EQ(copy_text(L"\u0436\u8868", VT_BSTR), L"\u0436\u8868");
}

TEST(PgsValueText, EmptyAndNullValues) {
  EXPECT_EQ(copy_text(L"", VT_BSTR), L"");
  EXPECT_EQ(sql_text(L"", VT_BSTR), L"''");
  EXPECT_EQ(copy_text(L"", VT_I4), L"\\N");
  EXPECT_EQ(sql_text(L"", VT_R8), L"NULL");
  EXPECT_EQ(copy_text(L"x", VT_NULL), L"\\N");
  EXPECT_EQ(sql_text(L"x", VT_NULL), L"NULL");
}

TEST(PgsValueText, NumbersAndBooleans) {
  EXPECT_EQ(sql_text(L"42", VT_I4), L"42");
  EXPECT_EQ(sql_text(L"-1.5e3", VT_R8), L"-1.5e3");
  EXPECT_EQ(sql_text(L"1", VT_BOOL), L"'1'");
  EXPECT_EQ(sql_text(L"0", VT_BOOL), L"'0'");
  EXPECT_EQ(copy_text(L"1", VT_BOOL), L"1");
  // A text in a number column is never written bare.
  EXPECT_EQ(sql_text(L"1); DROP TABLE t; --", VT_I4), L"'1); DROP TABLE t; --'");
  EXPECT_EQ(sql_text(L"it's", VT_R8), L"'it''s'");
}

TEST(PgsValueText, DatesAndTimes) {
  EXPECT_EQ(copy_text(L"2011-03-04 10:20:30", VT_DATE, 2), L"2011-03-04");
  EXPECT_EQ(sql_text(L"2011-03-04 10:20:30", VT_DATE, 2), L"'2011-03-04'");
  EXPECT_EQ(copy_text(L"2011-03-04 10:20:30", VT_DATE), L"2011-03-04 10:20:30");
  EXPECT_EQ(copy_text(L"2011-03-04 10:20:30.005", VT_DATE), L"2011-03-04 10:20:30.005");
  EXPECT_EQ(copy_text(L"2011-03-04 00:00:00", VT_DATE), L"2011-03-04");
  // The zero date alone stands for a missing date; a time of day keeps its time.
  EXPECT_EQ(copy_text(L"00:00:00", VT_DATE), L"\\N");
  EXPECT_EQ(sql_text(L"00:00:00", VT_DATE), L"NULL");
  EXPECT_EQ(copy_text(L"0000-00-00 10:15:00", VT_DATE), L"1899-12-30 10:15:00");
  EXPECT_EQ(copy_text(L"0000-00-00 10:15:00", VT_DATE, 3), L"10:15:00");
  EXPECT_EQ(copy_text(L"0000-00-00 10:15:00", VT_DATE, 2), L"\\N");
  EXPECT_EQ(copy_text(L"not a date", VT_DATE), L"");
  EXPECT_EQ(sql_text(L"31/02/2024", VT_DATE), L"");
}

TEST(PgsValueText, BinaryValues) {
  EXPECT_EQ(copy_text(L"0x4142", VT_BLOB), L"\\\\x4142");
  EXPECT_EQ(sql_text(L"0X4142", VT_BLOB_OBJECT), L"DECODE('4142','hex')");
  EXPECT_EQ(copy_text(L"0x00ff", static_cast<VARTYPE>(VT_ARRAY | VT_UI1)), L"\\\\x00ff");
  EXPECT_EQ(copy_text(L"0", VT_BLOB), L"");
  EXPECT_EQ(sql_text(L"0x41z2", VT_BLOB), L"''");
  EXPECT_EQ(sql_text(L"014142", VT_BLOB), L"''");
  EXPECT_EQ(sql_text(L"0x41');drop", VT_BLOB), L"''");
}

TEST(PgsDefaults, NumbersMustParseWhole) {
  EXPECT_EQ(default_of(VT_I4, L"12"), L"12");
  EXPECT_EQ(default_of(VT_I4, L"-7"), L"-7");
  EXPECT_EQ(default_of(VT_I4, L"012"), L"");
  EXPECT_EQ(default_of(VT_I4, L"5x"), L"");
  EXPECT_EQ(default_of(VT_R8, L"1e3"), L"1e3");
  EXPECT_EQ(default_of(VT_R8, L"+2.5"), L"+2.5");
  EXPECT_EQ(default_of(VT_R8, L"0"), L"0");
  EXPECT_EQ(default_of(VT_R8, L"5); DROP TABLE x; --"), L"");
  EXPECT_EQ(default_of(VT_R8, L"0,0"), L"");
  EXPECT_EQ(default_of(VT_R8, L"inf"), L"");
  EXPECT_EQ(default_of(VT_I8, L"12"), L"");  // no default for 64-bit columns
}

TEST(PgsDefaults, BooleansTextsAndDates) {
  EXPECT_EQ(default_of(VT_BOOL, L"true"), L"'true'");
  EXPECT_EQ(default_of(VT_BOOL, L"1"), L"'1'");
  EXPECT_EQ(default_of(VT_BOOL, L"OFF"), L"'OFF'");
  EXPECT_EQ(default_of(VT_BOOL, L"2"), L"");
  EXPECT_EQ(default_of(VT_BOOL, L"true'); drop"), L"");
  EXPECT_EQ(default_of(VT_BSTR, L"O'Brien"), L"'O''Brien'");
  EXPECT_EQ(default_of(VT_BSTR, L"abcdef", 3), L"'abc'");
  EXPECT_EQ(default_of(VT_DATE, L"2011-03-04 10:20:30"), L"'2011-03-04 10:20:30'");
  EXPECT_EQ(default_of(VT_DATE, L"2011-03-04 10:20:30", 0, 2), L"'2011-03-04'");
  EXPECT_EQ(default_of(VT_DATE, L"garbage"), L"");
  const t_ftd none = column(VT_I4);
  EXPECT_EQ(make_pgs_def_val(&none), L"");
  EXPECT_THROW(make_pgs_def_val(nullptr), tk_mail_assertion);
}

TEST(PgsDefaults, CatalogueTextsBecomeValues) {
  EXPECT_EQ(pgs_get_variant(VT_BOOL, nullptr).get_type(), VT_EMPTY);
  EXPECT_EQ(pgs_get_variant(VT_BOOL, "false").to_wstring(), ole_variant(false).to_wstring());
  EXPECT_EQ(pgs_get_variant(VT_BOOL, "true").to_wstring(), ole_variant(true).to_wstring());
  EXPECT_EQ(pgs_get_variant(VT_BOOL, "").to_wstring(), ole_variant(false).to_wstring());
  EXPECT_EQ(pgs_get_variant(VT_I4, "42").to_wstring(), L"42");
}
