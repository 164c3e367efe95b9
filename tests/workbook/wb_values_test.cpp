// Number formats, value rendering and the text rules shared by both readers.
#include <gtest/gtest.h>

#include "workbook/wb_reader.h"
#include "workbook/wb_values.h"

namespace {

TEST(NumberFormat, BuiltInIds) {
  for (std::uint32_t id : {14u, 22u, 27u, 36u, 45u, 47u, 50u, 58u})
    EXPECT_EQ(wb_classify_number_format(id, ""), wb_number_style::date) << id;
  for (std::uint32_t id : {5u, 8u, 42u, 44u}) EXPECT_EQ(wb_classify_number_format(id, ""), wb_number_style::currency) << id;
  for (std::uint32_t id : {0u, 1u, 4u, 9u, 13u, 23u, 37u, 48u, 49u, 59u})
    EXPECT_EQ(wb_classify_number_format(id, ""), wb_number_style::general) << id;
}

TEST(NumberFormat, CodesAreReadOutsideLiterals) {
  const auto style = [](const char* code) { return wb_classify_number_format(164, code); };
  EXPECT_EQ(style("yyyy-mm-dd"), wb_number_style::date);
  EXPECT_EQ(style("[h]:mm"), wb_number_style::date);
  EXPECT_EQ(style("[ss]"), wb_number_style::date);
  EXPECT_EQ(style("[Red]0.00"), wb_number_style::general);
  EXPECT_EQ(style("0.00\" days\""), wb_number_style::general);
  EXPECT_EQ(style("0\\d"), wb_number_style::general);
  EXPECT_EQ(style("_d0*s"), wb_number_style::general);
  EXPECT_EQ(style("General"), wb_number_style::general);
  EXPECT_EQ(style("0.00E+00"), wb_number_style::general);
  EXPECT_EQ(style("[$-409]mmm d"), wb_number_style::date);
  // Dates are tested first: a currency sign in a date format keeps it a date.
  EXPECT_EQ(style("\"$\"yyyy"), wb_number_style::date);
  EXPECT_EQ(style("\"$\"#,##0.00"), wb_number_style::currency);
  EXPECT_EQ(style("#,##0.00 \xE2\x82\xAC"), wb_number_style::currency);
  EXPECT_EQ(style("\xC2\xA3#,##0"), wb_number_style::currency);
  EXPECT_EQ(style("[$USD] #,##0"), wb_number_style::currency);
  EXPECT_EQ(style("[$-409]#,##0"), wb_number_style::general);
  EXPECT_EQ(style("0.00 [$-409]"), wb_number_style::general);
  // A custom code replaces the built-in meaning of its id.
  EXPECT_EQ(wb_classify_number_format(14, "0.00"), wb_number_style::general);
  EXPECT_EQ(style("\"unterminated"), wb_number_style::general);
}

TEST(Values, RenderingIsLocaleFree) {
  EXPECT_EQ(wb_render_number(3), "3");
  EXPECT_EQ(wb_render_number(2.5), "2.5");
  EXPECT_EQ(wb_render_number(0.1), "0.1");
  EXPECT_EQ(wb_render_number(1e20), "1e+20");
  EXPECT_EQ(wb_render_number(-0.0), "0");
  EXPECT_EQ(wb_render_number(0.1 + 0.2), "0.3");
  EXPECT_EQ(wb_render_number(123456789012345678.0), "1.23456789012346e+17");
  EXPECT_EQ(wb_render_date(43831), "2020-01-01");
  EXPECT_EQ(wb_render_date(43831.5), "2020-01-01 12:00:00");
  EXPECT_EQ(wb_render_date(0.25), "06:00:00");
  EXPECT_EQ(wb_render_date(0.25 + 0.123 / 86400), "06:00:00.123");
  EXPECT_EQ(wb_render_date(2958465.5), "9999-12-31 12:00:00");
  EXPECT_EQ(wb_render_boolean(true), "TRUE");
}

TEST(Values, SerialsToDates) {
  EXPECT_EQ(wb_serial_date(1, false), 2);  // 1900-01-01
  EXPECT_EQ(wb_serial_date(59, false), 60);
  EXPECT_FALSE(wb_serial_date(60, false));
  EXPECT_EQ(wb_serial_date(61, false), 61);
  EXPECT_EQ(wb_serial_date(0.5, true), 0.5);
  EXPECT_EQ(wb_serial_date(1, true), 1463);
  EXPECT_FALSE(wb_serial_date(-1, false));
  EXPECT_FALSE(wb_serial_date(2958466, false));
  EXPECT_FALSE(wb_serial_date(2958465.999999995, false));  // snaps into the year 10000
  const double tenfifteen = *wb_serial_date(0.4270833333, false);
  EXPECT_EQ(wb_render_date(tenfifteen), "10:15:00");
  // Each system by name.
  EXPECT_EQ(wb_serial_date(1, wb_date_system::from_1900), 2);
  EXPECT_FALSE(wb_serial_date(60, wb_date_system::from_1900));
  EXPECT_EQ(wb_serial_date(1, wb_date_system::from_1904), 1463);
  EXPECT_EQ(wb_serial_date(1, wb_date_system::from_1900_without_leap_day), 1);
  EXPECT_EQ(wb_serial_date(60, wb_date_system::from_1900_without_leap_day), 60);
  EXPECT_FALSE(wb_serial_date(-1, wb_date_system::from_1900_without_leap_day));
}

TEST(Values, CurrencyIsExactOrNot) {
  EXPECT_EQ(wb_exact_currency(12.3456), 123456);
  EXPECT_EQ(wb_exact_currency(-0.5), -5000);
  EXPECT_EQ(wb_exact_currency(0.1 + 0.2), std::nullopt);  // 0.30000000000000004
  EXPECT_EQ(wb_exact_currency(1.23456), std::nullopt);
  EXPECT_EQ(wb_exact_currency(922337203685476.0), 9223372036854760000);
  EXPECT_EQ(wb_exact_currency(922337203685477.0), std::nullopt);
  EXPECT_EQ(wb_exact_currency(1e-5), std::nullopt);
}

TEST(Values, IsoDates) {
  EXPECT_EQ(wb_parse_iso_date("2020-01-01"), 43831);
  EXPECT_EQ(wb_parse_iso_date("2020-01-01T12:00:00Z"), 43831.5);
  EXPECT_EQ(wb_parse_iso_date("1899-12-30T06:00:00.5"), (6 * 3600 + 0.5) / 86400);
  EXPECT_EQ(wb_parse_iso_date("10:15"), 10.25 / 24);
  EXPECT_FALSE(wb_parse_iso_date("2021-02-29"));
  EXPECT_TRUE(wb_parse_iso_date("2020-02-29"));
  EXPECT_FALSE(wb_parse_iso_date("2020-13-01"));
  EXPECT_FALSE(wb_parse_iso_date("25:00"));
  EXPECT_FALSE(wb_parse_iso_date("2020-01-01x"));
  EXPECT_FALSE(wb_parse_iso_date(""));
}

}  // namespace
