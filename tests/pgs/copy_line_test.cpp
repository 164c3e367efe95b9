// COPY lines built from records, and the server's COPY error texts read back: no server needed.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pgs/pgs_copy_line.h"
#include "pgs/pgs_copy_wire.h"
#include "pgs/pgs_copy_stream.h"
#include "pgs/pgs_util.h"
#include "platform/unicode_text.h"
#include "tk/tk_string.h"
#include "udb/udb_types.h"

namespace {

std::unique_ptr<t_ftd> column(const std::wstring& name, VARTYPE vt, bool not_null = false, int reserved = 0) {
  return std::make_unique<t_ftd>(0, name, vt, not_null, false, ole_variant(), reserved);
}

std::unique_ptr<udb_field> field(const std::wstring& name, const ole_variant& value) {
  return std::make_unique<udb_field>(name, 0, value, false, false);
}

ole_variant null_value() {
  ole_variant v;
  v.set_null();
  return v;
}

std::string line_of(const udb_record& record, const udb_schema& schema) {
  std::string line;
  pgs_append_copy_line(line, record, schema, pgs_positional_pairing(schema));
  return line;
}

}  // namespace

TEST(CopyLine, FourColumnExampleByteForByte) {
  udb_schema schema;
  schema.push_back(column(L"t", VT_BSTR));
  schema.push_back(column(L"n", VT_I4));
  schema.push_back(column(L"d", VT_DATE, false, udb_reserved_date_only));
  schema.push_back(column(L"r", VT_BSTR, true));
  udb_record record;
  record.push_back(field(L"t", ole_variant(L"a\tb")));
  record.push_back(field(L"n", ole_variant(5)));
  record.push_back(field(L"d", ole_variant::from_string("2011-03-04", VT_DATE)));
  record.push_back(field(L"r", null_value()));
  EXPECT_EQ(line_of(record, schema), std::string("a\\\tb\t5\t2011-03-04\t"));
}

TEST(CopyLine, TextBetweenEscapesAndBeyondAsciiKeepsEveryCharacter) {
  udb_schema schema;
  schema.push_back(column(L"a", VT_BSTR));
  udb_record record;
  record.push_back(field(L"a", ole_variant(L"Gr\u00fc\u00dfe\t\u65e5\u672c\\end\r\U0001F600x\n")));
  EXPECT_EQ(line_of(record, schema), "Gr\xc3\xbc\xc3\x9f" "e\\\t\xe6\x97\xa5\xe6\x9c\xac\\\\end\xf0\x9f\x98\x80x\\n");
}

TEST(CopyLine, ControlCharactersNullsAndEmptyTexts) {
  udb_schema schema;
  schema.push_back(column(L"a", VT_BSTR));
  schema.push_back(column(L"b", VT_BSTR));
  schema.push_back(column(L"c", VT_BSTR));
  schema.push_back(column(L"d", VT_BSTR, true));
  schema.push_back(column(L"e", VT_I4, true));
  udb_record record;
  record.push_back(field(L"a", ole_variant(L"x\ty\\z\r\nw\\.")));
  record.push_back(field(L"b", null_value()));
  record.push_back(field(L"c", ole_variant(L"")));
  record.push_back(field(L"d", ole_variant()));  // empty in a NOT NULL text column
  record.push_back(field(L"e", ole_variant()));  // null in a NOT NULL number column: the server decides
  const std::string line = line_of(record, schema);
  EXPECT_EQ(line, "x\\\ty\\\\z\\nw\\\\.\t\\N\t\t\t\\N");
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(line.find('\r'), std::string::npos);
}

TEST(CopyLine, TextsLoseOnlyTheirNulCharactersAndTellWhichColumns) {
  // U+0000 fits no server text: it is left out, everything around it kept, on the direct path
  // (text into text) and the general one (text into a number column), and each column is told.
  udb_schema schema;
  schema.push_back(column(L"clean", VT_BSTR));
  schema.push_back(column(L"text", VT_BSTR));
  schema.push_back(column(L"count", VT_I4));
  udb_record record;
  record.push_back(field(L"clean", ole_variant(L"a\u0001b")));
  record.push_back(field(L"text", ole_variant(std::wstring(L"\0a\0\tb\u00e9\0", 7))));
  record.push_back(field(L"count", ole_variant(std::wstring(L"1\0" L"2", 3))));
  std::string line;
  std::vector<std::size_t> nul_columns;
  pgs_append_copy_line(line, record, schema, pgs_positional_pairing(schema), &nul_columns);
  EXPECT_EQ(line, "a\x01" "b\ta\\\tb\xC3\xA9\t12");
  EXPECT_EQ(nul_columns, (std::vector<std::size_t>{1, 2}));
  EXPECT_EQ(pgs_nul_left_out(L"text").level(), tk_level_recoverable);
}

TEST(CopyLine, ColumnTypeChoosesTheTextAndNonAsciiIsUtf8) {
  udb_schema schema;
  schema.push_back(column(L"when", VT_DATE, false, udb_reserved_date_time));
  schema.push_back(column(L"name", VT_BSTR));
  schema.push_back(column(L"flag", VT_BOOL));
  udb_record record;
  record.push_back(field(L"when", ole_variant(L"2011-03-04 13:20:05.005")));  // a text into a date column
  record.push_back(field(L"name", ole_variant(L"Ж\u00e9")));
  record.push_back(field(L"flag", ole_variant(true)));
  EXPECT_EQ(line_of(record, schema), "2011-03-04 13:20:05.005\t\xD0\x96\xC3\xA9\t1");
}

TEST(CopyLine, NamePairingWritesOnlyPairedFieldsInPairOrder) {
  udb_schema schema;
  schema.push_back(column(L"a", VT_I4));
  schema.push_back(column(L"b", VT_I4));
  schema.push_back(column(L"c", VT_I4));
  udb_record record;
  record.push_back(field(L"c", ole_variant(3)));
  record.push_back(field(L"a", ole_variant(1)));
  std::string line;
  pgs_append_copy_line(line, record, schema, {{0, 2}, {1, 0}});
  EXPECT_EQ(line, "3\t1");
}

TEST(CopyErrorText, LineAndColumnFromTheContext) {
  pgs_server_error error;
  error.severity = "ERROR";
  error.primary = "invalid input syntax for type integer: \"abc\"";
  error.context = "COPY sheet1, line 3, column n: \"abc\"";
  std::string detail;
  EXPECT_EQ(pgs_copy_error_line(error.context, "sheet1", &detail), 3u);
  EXPECT_EQ(detail, ", column n: \"abc\"");
  EXPECT_EQ(pgs_copy_error_text(error, detail),
            "ERROR:  invalid input syntax for type integer: \"abc\" (column n: \"abc\")");
}

TEST(CopyErrorText, OnlyTheTablesOwnContextCounts) {
  // A table whose name looks like a context must not be read as one; nor another table's.
  pgs_server_error error;
  error.severity = "ERROR";
  error.primary = "duplicate key value violates unique constraint \"k\"";
  error.detail = "Key (id)=(5) already exists.";
  error.context = "COPY x, line 9, line 4: \"5\"";
  EXPECT_EQ(pgs_copy_error_line(error.context, "x, line 9"), 4u);
  EXPECT_EQ(pgs_copy_error_line(error.context, "y"), 0u);
  EXPECT_EQ(pgs_copy_error_line("COPY y, line \n", "y"), 0u);
  EXPECT_EQ(pgs_copy_error_line("no context at all", "x"), 0u);
  EXPECT_EQ(pgs_copy_error_text(error, ""),
            "ERROR:  duplicate key value violates unique constraint \"k\"\nDETAIL:  Key (id)=(5) already exists.");
}

namespace {

// The line rule written out plainly, field by field: the reference the fast writer must match.
std::string reference_field(const udb_field& field, const t_ftd& column) {
  std::wstring text = to_pgs_str(field.to_wstring(), column.vartype, column.reserved, pgs_copy_mode);
  if (column.vartype == VT_BSTR && column.b_not_null && text.empty()) return "";
  if (field.get_type() == VT_NULL || field.get_type() == VT_EMPTY) return "\\N";
  tk_wstring::replace_all(text, L"\n", L"\\n");
  return tk_to_utf8(text);
}

}  // namespace

TEST(CopyLine, EveryValueTypeInEveryColumnTypeMatchesTheGeneralRule) {
  std::vector<unsigned char> bytes = {0x01, 0xAB};
  ole_variant blob;
  blob.attach_binary(bytes);
  const std::vector<ole_variant> values = {
      ole_variant(), null_value(), ole_variant(L""), ole_variant(L"a\tb\\c\r\nd \u00e9\U0001F600"),
      ole_variant(L"2011-03-04 13:20:05.005"), ole_variant(L"12"), ole_variant(L"0x41"),
      ole_variant(static_cast<short>(-7)), ole_variant(42), ole_variant(-9000000000LL), ole_variant(18000000000ULL),
      ole_variant(static_cast<unsigned char>(200)), ole_variant(1.25), ole_variant(1e300), ole_variant(0.1f),
      ole_variant(true), ole_variant(false), ole_variant::from_string("12.3456", VT_CY),
      ole_variant::from_string("-1.5", VT_DECIMAL), ole_variant::from_string("2011-03-04 13:20:05.005", VT_DATE),
      ole_variant::from_string("17:45:30", VT_DATE), blob};
  const std::vector<std::pair<VARTYPE, int>> types = {
      {VT_BSTR, 0}, {VT_I4, 0}, {VT_I8, 0}, {VT_R8, 0}, {VT_CY, 0}, {VT_DECIMAL, 0}, {VT_BOOL, 0},
      {VT_DATE, udb_reserved_date_time}, {VT_DATE, udb_reserved_date_only}, {VT_DATE, udb_reserved_time_only},
      {VT_BLOB, 0}};
  for (bool not_null : {false, true}) {
    for (const auto& [vt, reserved] : types) {
      udb_schema schema;
      schema.push_back(column(L"c", vt, not_null, reserved));
      for (std::size_t i = 0; i < values.size(); ++i) {
        udb_record record;
        record.push_back(field(L"c", values[i]));
        EXPECT_EQ(line_of(record, schema), reference_field(record[0], schema[0]))
            << "value #" << i << " in column type " << vt << (not_null ? " NOT NULL" : "");
      }
    }
  }
}

TEST(CopyLine, RememberedDateTextsNeverMixUpDatesOrColumns) {
  udb_schema schema;
  schema.push_back(column(L"ts", VT_DATE, false, udb_reserved_date_time));
  schema.push_back(column(L"d", VT_DATE, false, udb_reserved_date_only));
  schema.push_back(column(L"t", VT_DATE, false, udb_reserved_time_only));
  pgs_copy_line_builder builder(pgs_positional_pairing(schema));
  const char* const texts[] = {"2011-03-04 13:20:05.005", "2011-03-04 13:20:05.006", "2011-03-04 13:20:05.005",
                               "1899-12-30 10:15:00", "2011-04-03 13:20:05.005", "1899-12-30 00:00:00"};
  for (int round = 0; round < 2; ++round) {
    for (const char* text : texts) {
      udb_record record;
      for (const wchar_t* name : {L"ts", L"d", L"t"}) record.push_back(field(name, ole_variant::from_string(text, VT_DATE)));
      std::string remembered;
      builder.append(remembered, record, schema);
      EXPECT_EQ(remembered, line_of(record, schema)) << text;
    }
  }
  // Far more distinct dates than are remembered: dates sharing a place in the memory never lend
  // each other their texts.
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 5000; ++i) {
      SYSTEMTIME st{};
      st.year = static_cast<std::uint16_t>(1901 + i % 200), st.month = static_cast<std::uint16_t>(1 + i % 12);
      st.day = static_cast<std::uint16_t>(1 + i % 28), st.hour = static_cast<std::uint16_t>(i % 24);
      st.minute = static_cast<std::uint16_t>(i % 60), st.second = static_cast<std::uint16_t>(i / 60 % 60);
      st.milliseconds = static_cast<std::uint16_t>(i % 7 == 0 ? i % 1000 : 0);
      udb_record record;
      for (const wchar_t* name : {L"ts", L"d", L"t"}) record.push_back(field(name, ole_variant(st)));
      std::string remembered;
      builder.append(remembered, record, schema);
      ASSERT_EQ(remembered, line_of(record, schema)) << i;
    }
  }
}

TEST(CopyLine, DatesWrittenFromTheirPartsMatchTheGeneralRule) {
  // Dates across the whole range, month ends, leap days, midnight, milliseconds, day 0 and two-digit
  // years: the direct writer must give the general rule's bytes in every kind of date column.
  std::vector<SYSTEMTIME> dates;
  const std::uint16_t years[] = {1, 99, 100, 1600, 1899, 1900, 1904, 1999, 2000, 2024, 2100, 9999};
  const std::uint16_t days[] = {1, 28, 29, 30, 31};
  const std::uint16_t times[][4] = {{0, 0, 0, 0}, {0, 0, 0, 1}, {10, 15, 0, 0}, {23, 59, 59, 999}, {7, 5, 3, 20}};
  for (std::uint16_t year : years)
    for (std::uint16_t month = 1; month <= 12; month += 1)
      for (std::uint16_t day : days)
        for (const auto& t : times) {
          SYSTEMTIME st{};
          st.year = year;
          st.month = month;
          st.day = day;
          st.hour = t[0];
          st.minute = t[1];
          st.second = t[2];
          st.milliseconds = t[3];
          dates.push_back(st);
        }
  SYSTEMTIME day0{};
  day0.year = 1899;
  day0.month = 12;
  day0.day = 30;
  day0.hour = 10;
  dates.push_back(day0);
  SYSTEMTIME time_alone{};
  time_alone.hour = 17;
  time_alone.minute = 45;
  dates.push_back(time_alone);
  for (int reserved : {udb_reserved_date_time, udb_reserved_date_only, udb_reserved_time_only}) {
    udb_schema schema;
    schema.push_back(column(L"c", VT_DATE, false, reserved));
    pgs_copy_line_builder builder(pgs_positional_pairing(schema));
    for (const SYSTEMTIME& st : dates) {
      udb_record record;
      record.push_back(field(L"c", ole_variant(st)));
      const std::string expected = reference_field(record[0], schema[0]);
      EXPECT_EQ(line_of(record, schema), expected) << st.year << '-' << st.month << '-' << st.day << ' ' << st.hour
                                                   << ':' << st.minute << ':' << st.second << '.' << st.milliseconds
                                                   << " reserved " << reserved;
      std::string remembered;
      builder.append(remembered, record, schema);
      EXPECT_EQ(remembered, expected);
    }
  }
}

TEST(CopyLine, TextsKeptInUtf8WriteTheBytesOfTheirWideForm) {
  // The row path hands texts over in UTF-8: every special character at every place in an eight-byte
  // word, beside non-ASCII, gives the line and the U+0000 report the wide text gives, on the direct
  // path and on the general one (a text into a number column), and the value reads the same.
  const std::vector<std::string> specials = {"\t", "\\", "\n", "\r", "\r\n", std::string(1, '\0'), "\x01", "\x1f",
                                             "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\x7f", " "};
  udb_schema schema;
  schema.push_back(column(L"text", VT_BSTR));
  schema.push_back(column(L"required", VT_BSTR, true));
  schema.push_back(column(L"count", VT_I4));
  for (const auto& special : specials)
    for (std::size_t before = 0; before <= 17; ++before)
      for (const std::size_t after : {0, 3, 9}) {
        const std::string text = std::string(before, 'a') + special + std::string(after, 'b') + special;
        SCOPED_TRACE(::testing::PrintToString(text));
        ole_variant utf8;
        utf8.attach_utf8(text);
        const std::u32string decoded = platform::utf8_decode(text);  // U+0000 kept
        const ole_variant wide(std::wstring(decoded.begin(), decoded.end()));
        std::string lines[2];
        std::vector<std::size_t> nuls[2];
        for (int k = 0; k < 2; ++k) {
          const ole_variant& value = k == 0 ? utf8 : wide;
          udb_record record;
          for (const auto& name : {L"text", L"required", L"count"}) record.push_back(field(name, value));
          pgs_append_copy_line(lines[k], record, schema, pgs_positional_pairing(schema), &nuls[k]);
        }
        EXPECT_EQ(lines[0], lines[1]);
        EXPECT_EQ(nuls[0], nuls[1]);
        EXPECT_EQ(utf8.to_string(), wide.to_string());
        ole_variant copied = utf8;
        EXPECT_EQ(copied.get_bstr(), wide.get_bstr());
        EXPECT_EQ(ole_variant(std::move(copied)).to_wstring(), wide.to_wstring());
      }
}
