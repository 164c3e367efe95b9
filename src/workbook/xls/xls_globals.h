#pragma once
// The workbook globals of a BIFF8 or BIFF5/7 stream: sheets, date system, number formats, shared
// strings (BIFF8) and the code page of byte strings (BIFF5/7).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/wb_reader.h"
#include "workbook/xls/biff_records.h"
#include "workbook/xls/code_page.h"

namespace wb_biff {
constexpr std::uint16_t biff5_version = 0x0500;  // Excel 5.0 and 95 (BIFF7 keeps the number)
constexpr std::uint16_t biff8_version = 0x0600;
}  // namespace wb_biff

struct wb_xls_globals {
  std::uint16_t version = wb_biff::biff8_version;
  bool biff5() const { return version == wb_biff::biff5_version; }
  wb_xls_code_page code_page;                  // BIFF5/7 byte strings; Latin-1 for BIFF8's one-byte strings
  bool date1904 = false;
  std::vector<wb_sheet_info> sheets;           // worksheets only, in workbook order
  std::vector<std::uint32_t> sheet_offsets;    // stream offset of each worksheet's BOF
  std::vector<wb_number_style> xf_styles;      // per XF index
  std::string shared_text;                     // every shared string, UTF-8, one after another
  std::vector<std::uint32_t> shared_ends;      // end offset of each shared string in shared_text

  std::size_t shared_count() const { return shared_ends.size(); }
  std::string_view shared(std::size_t i) const {
    std::uint32_t begin = i == 0 ? 0 : shared_ends[i - 1];
    return std::string_view(shared_text).substr(begin, shared_ends[i] - begin);
  }
  wb_number_style style_of(std::uint16_t xf) const {
    return xf < xf_styles.size() ? xf_styles[xf] : wb_number_style::general;
  }
};

/// Checks a BOF record: BIFF5/7 or BIFF8 of the expected substream type, else wb_xls_unreadable naming
/// why (BIFF2-4 among them). Returns the version.
std::uint16_t wb_xls_check_bof(const wb_biff_records& r, std::uint16_t substream_type, const char* what);

/// Checks that a sheet substream opens with a worksheet BOF. Its version is not read: writers of Excel
/// 5.0/95 books put BIFF8's 0x0600 there, and the workbook's BOF decides how every sheet is read.
void wb_xls_check_sheet_bof(const wb_biff_records& r);

/// Reads a string of the workbook's version wholly inside the record: BIFF8's with its option byte,
/// or BIFF5's bytes in the workbook's code page. The count is 8 bits when `short_count`, else 16.
void wb_xls_read_string(const wb_xls_globals& g, wb_biff_cursor& c, bool short_count, std::string& out);

/// Reads the globals from the start of the stream. Throws wb_xls_unreadable or wb_xls_encrypted.
wb_xls_globals wb_xls_read_globals(const wb_cfb_stream& stream);
