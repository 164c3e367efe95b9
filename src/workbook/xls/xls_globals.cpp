#include "workbook/xls/xls_globals.h"

#include <map>
#include <utility>

#include "workbook/wb_limits.h"
#include "workbook/xls/xls_failure.h"

namespace {

constexpr std::uint16_t globals_substream = 0x0005;
constexpr std::uint16_t worksheet_substream = 0x0010;
constexpr std::uint8_t worksheet_type = 0;

void read_shared_strings(wb_biff_records& r, wb_xls_globals& g) {
  wb_biff_cursor head(r);
  head.u32();  // total references, unused
  std::uint32_t count = head.u32();
  if (count > wb_max_shared_strings)
    throw wb_xls_unreadable("the shared-string table declares " + std::to_string(count) +
                            " strings, more than the cap of " + std::to_string(wb_max_shared_strings));
  wb_biff_continued in(r, 8);
  // Writers that count wrongly declare more strings than they store: the strings present are read,
  // and a cell naming one past them is refused when its sheet is read.
  for (std::uint32_t i = 0; i < count && !in.exhausted(); ++i) {
    std::uint16_t chars = in.u16();
    std::uint8_t flags = in.u8();
    std::uint16_t runs = (flags & 0x08) ? in.u16() : 0;
    std::uint32_t extended = (flags & 0x04) ? in.u32() : 0;
    in.chars(chars, flags, g.shared_text);
    in.skip(4ULL * runs);  // rich-text formatting runs
    in.skip(extended);     // phonetic data
    if (g.shared_text.size() > wb_max_shared_string_bytes)
      throw wb_xls_unreadable("the shared strings exceed the cap of " +
                              std::to_string(wb_max_shared_string_bytes) + " bytes");
    g.shared_ends.push_back(static_cast<std::uint32_t>(g.shared_text.size()));
  }
}

}  // namespace

namespace {
const char* const read_versions = "; only Excel 5.0 and later workbooks (BIFF5 to BIFF8) are read";

// Reads a BOF record's version and substream type, refusing the BOF records of BIFF2 to BIFF4.
std::pair<std::uint16_t, std::uint16_t> read_bof(const wb_biff_records& r, const char* what) {
  switch (r.type()) {
    case wb_biff::bof: break;
    case wb_biff::bof_biff2: throw wb_xls_unreadable(std::string("BIFF2 format (Excel 2.x)") + read_versions);
    case wb_biff::bof_biff3: throw wb_xls_unreadable(std::string("BIFF3 format (Excel 3.0)") + read_versions);
    case wb_biff::bof_biff4: throw wb_xls_unreadable(std::string("BIFF4 format (Excel 4.0)") + read_versions);
    default: throw wb_xls_unreadable(std::string(what) + " does not start with a BOF record");
  }
  wb_biff_cursor c(r);
  std::uint16_t version = c.u16();
  return {version, c.u16()};
}
}  // namespace

std::uint16_t wb_xls_check_bof(const wb_biff_records& r, std::uint16_t substream_type, const char* what) {
  auto [version, type] = read_bof(r, what);
  if (version != wb_biff::biff8_version && version != wb_biff::biff5_version)
    throw wb_xls_unreadable("unknown BIFF version " + std::to_string(version) + read_versions);
  if (type != substream_type) throw wb_xls_unreadable(std::string(what) + " starts with a BOF of another kind");
  return version;
}

void wb_xls_check_sheet_bof(const wb_biff_records& r) {
  if (read_bof(r, "a sheet").second != worksheet_substream)
    throw wb_xls_unreadable("a sheet starts with a BOF of another kind");
}

void wb_xls_read_string(const wb_xls_globals& g, wb_biff_cursor& c, bool short_count, std::string& out) {
  if (!g.biff5()) {
    wb_biff_read_string(c, short_count, out);
    return;
  }
  std::uint32_t chars = short_count ? c.u8() : c.u16();
  g.code_page.append(c.take(chars), chars, out);
}

wb_xls_globals wb_xls_read_globals(const wb_cfb_stream& stream) {
  wb_xls_globals g;
  wb_biff_records r(stream, 0);
  if (!r.next()) throw wb_xls_unreadable("the workbook stream is empty");
  g.version = wb_xls_check_bof(r, globals_substream, "the workbook stream");
  if (g.biff5()) g.code_page = wb_xls_code_page(1252);  // when no CODEPAGE record says otherwise

  // BIFF5 names and format codes are decoded once the CODEPAGE record, wherever it stands, is known.
  std::map<std::uint16_t, std::string> formats;
  std::vector<std::uint16_t> xf_formats;
  bool ended = false;
  while (!ended && r.next()) {
    wb_biff_cursor c(r);
    switch (r.type()) {
      case wb_biff::eof: ended = true; break;
      case wb_biff::filepass: throw wb_xls_encrypted();
      case wb_biff::datemode: g.date1904 = c.u16() == 1; break;
      case wb_biff::codepage:
        if (g.biff5()) g.code_page = wb_xls_code_page(c.u16());
        break;
      case wb_biff::format: {
        std::uint16_t id = c.u16();
        std::string code;
        if (g.biff5()) {
          std::uint8_t chars = c.u8();
          code.assign(reinterpret_cast<const char*>(c.take(chars)), chars);
        } else {
          wb_biff_read_string(c, false, code);
        }
        formats[id] = std::move(code);
        break;
      }
      case wb_biff::xf:
        // Every XF index is 16 bits; records beyond that many could never be referenced.
        if (xf_formats.size() < 0x10000) {
          c.u16();
          xf_formats.push_back(c.u16());
        }
        break;
      case wb_biff::sst:
        // Sheets' BOF versions are not telling (see wb_xls_check_sheet_bof); this record of BIFF8 is.
        if (g.biff5())
          throw wb_xls_unreadable("the workbook's BIFF version differs from its records': its BOF says Excel "
                                  "5.0/95, yet it holds a shared-string table, a record of Excel 97 and later");
        if (!g.shared_ends.empty()) throw wb_xls_unreadable("two shared-string tables");
        read_shared_strings(r, g);
        break;
      case wb_biff::boundsheet: {
        std::uint32_t offset = c.u32();
        std::uint8_t state = c.u8() & 0x03;
        std::uint8_t type = c.u8();
        wb_sheet_info info;
        if (g.biff5()) {
          std::uint8_t chars = c.u8();
          info.name.assign(reinterpret_cast<const char*>(c.take(chars)), chars);
        } else {
          wb_biff_read_string(c, true, info.name);
        }
        if (type != worksheet_type) break;  // macro, chart and module sheets are no tables
        if (g.sheets.size() >= wb_max_sheets)
          throw wb_xls_unreadable("more worksheets than the cap of " + std::to_string(wb_max_sheets));
        info.hidden = state != 0;
        g.sheets.push_back(std::move(info));
        g.sheet_offsets.push_back(offset);
        break;
      }
      default: break;
    }
  }
  if (!ended) throw wb_xls_unreadable("the workbook globals have no EOF record");
  if (g.biff5()) {
    auto decode = [&g](std::string& bytes) {
      std::string text;
      g.code_page.append(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), text);
      bytes = std::move(text);
    };
    for (auto& sheet : g.sheets) decode(sheet.name);
    for (auto& format : formats) decode(format.second);
  }

  // A sheet offset that misses its BOF is found at opening, before any cell is read.
  for (std::uint32_t offset : g.sheet_offsets) {
    wb_biff_records sheet(stream, offset);
    if (!sheet.next()) throw wb_xls_unreadable("a sheet offset lies past the end of the workbook stream");
    wb_xls_check_sheet_bof(sheet);
  }

  std::map<std::uint16_t, wb_number_style> by_format;
  g.xf_styles.reserve(xf_formats.size());
  for (std::uint16_t id : xf_formats) {
    auto known = by_format.find(id);
    if (known == by_format.end()) {
      auto code = formats.find(id);
      wb_number_style style = wb_classify_number_format(id, code == formats.end() ? std::string_view() : code->second);
      known = by_format.emplace(id, style).first;
    }
    g.xf_styles.push_back(known->second);
  }
  return g;
}
