#pragma once
// The workbook globals of a BIFF8 stream: sheets, date system, number formats and shared strings.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/wb_reader.h"
#include "workbook/xls/biff_records.h"

struct wb_xls_globals {
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

/// Checks a BOF record: BIFF8 of the expected substream type, else wb_xls_unreadable naming why.
void wb_xls_check_bof(const wb_biff_records& r, std::uint16_t substream_type, const char* what);

/// Reads the globals from the start of the stream. Throws wb_xls_unreadable or wb_xls_encrypted.
wb_xls_globals wb_xls_read_globals(const wb_cfb_stream& stream);
