#pragma once
// Writers of small BIFF8 and BIFF5 record streams and of compound documents, so test workbooks (damaged
// ones among them) can be made byte by byte. No engine code: end-to-end tests use them too.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace xls_test {

inline void put16(std::string& s, std::uint16_t v) {
  s.push_back(char(v & 0xFF));
  s.push_back(char(v >> 8));
}
inline void put32(std::string& s, std::uint32_t v) {
  put16(s, std::uint16_t(v & 0xFFFF));
  put16(s, std::uint16_t(v >> 16));
}
inline void set32(std::string& s, std::size_t at, std::uint32_t v) {
  std::string b;
  put32(b, v);
  s.replace(at, 4, b);
}
inline std::uint32_t get32(const std::string& s, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}

inline std::string record(std::uint16_t type, const std::string& payload) {
  std::string r;
  put16(r, type);
  put16(r, std::uint16_t(payload.size()));
  return r + payload;
}

/// Cell header: row, column, XF.
inline std::string at(std::uint16_t row, std::uint16_t col, std::uint16_t xf = 15) {
  std::string s;
  put16(s, row);
  put16(s, col);
  put16(s, xf);
  return s;
}

/// A string with a 16-bit count and option byte: one byte per character, or UTF-16 when `wide`.
inline std::string xl_string(const std::string& latin1, bool wide = false) {
  std::string s;
  put16(s, std::uint16_t(latin1.size()));
  s.push_back(wide ? 1 : 0);
  for (char c : latin1) {
    s.push_back(c);
    if (wide) s.push_back(0);
  }
  return s;
}

inline std::string number_cell(std::uint16_t row, std::uint16_t col, double v) {
  std::string p = at(row, col);
  char b[8];
  std::memcpy(b, &v, 8);
  return record(0x0203, p + std::string(b, 8));
}

inline std::string bof(std::uint16_t substream, std::uint16_t version = 0x0600) {
  std::string p;
  put16(p, version);
  put16(p, substream);
  p += std::string(12, '\0');
  return record(0x0809, p);
}
inline std::string eof() { return record(0x000A, ""); }

/// A BIFF8 workbook stream: `globals` records between the globals' BOF and EOF, then one worksheet
/// named "S" holding `sheet_records`.
inline std::string workbook_stream(const std::string& globals, const std::string& sheet_records) {
  std::string sheet_entry;
  put32(sheet_entry, 0);
  sheet_entry += std::string("\0\0", 2);
  sheet_entry += std::string("\x01\x00S", 3);
  std::string head = bof(0x0005) + globals;
  std::string bound = record(0x0085, sheet_entry);
  std::size_t sheet_at = head.size() + bound.size() + 4;
  set32(bound, 4, std::uint32_t(sheet_at));
  return head + bound + eof() + bof(0x0010) + sheet_records + eof();
}

/// Excel 5.0/95 (BIFF5/7) streams: byte strings without an option byte, in the workbook's code page.
namespace biff5 {

inline std::string bof(std::uint16_t substream) {
  std::string p;
  put16(p, 0x0500);
  put16(p, substream);
  put16(p, 0x0DBB);  // build
  put16(p, 0x07CC);  // year
  return record(0x0809, p);
}

/// The bytes with a 16-bit count (LABEL, STRING) or an 8-bit one.
inline std::string bytes(const std::string& text, bool short_count = false) {
  std::string s;
  if (short_count)
    s.push_back(char(text.size()));
  else
    put16(s, std::uint16_t(text.size()));
  return s + text;
}

inline std::string label(std::uint16_t row, std::uint16_t col, const std::string& text, std::uint16_t xf = 15) {
  return record(0x0204, at(row, col, xf) + bytes(text));
}

/// A FORMULA record with its 8-byte cached result and no expression.
inline std::string formula(std::uint16_t row, std::uint16_t col, const std::string& result,
                           std::uint16_t type = 0x0006) {
  return record(type, at(row, col) + result + std::string(6, '\0'));
}
inline std::string number_result(double v) { return std::string(reinterpret_cast<const char*>(&v), 8); }
inline std::string text_result() { return std::string("\0\0\0\0\0\0\xFF\xFF", 8); }

inline std::string codepage(std::uint16_t number) {
  std::string p;
  put16(p, number);
  return record(0x0042, p);
}

/// FORMAT record: an id and a format code in the workbook's code page.
inline std::string format(std::uint16_t id, const std::string& code) {
  std::string p;
  put16(p, id);
  return record(0x041E, p + bytes(code, true));
}

/// XF records 0..n-1 with these number format ids.
inline std::string xfs(const std::vector<std::uint16_t>& format_ids) {
  std::string out;
  for (std::uint16_t id : format_ids) {
    std::string p;
    put16(p, 0);
    put16(p, id);
    out += record(0x00E0, p + std::string(12, '\0'));
  }
  return out;
}

struct sheet {
  std::string name;  // bytes in the workbook's code page
  std::string records;
};

/// A BIFF5 workbook stream: `globals` records, then a BOUNDSHEET and a worksheet substream per sheet.
/// With `sheet_bof_version` 0x0600 the sheets open with BIFF8's BOF, as some other writers make them.
inline std::string workbook_stream(const std::string& globals, const std::vector<sheet>& sheets,
                                   std::uint16_t sheet_bof_version = 0x0500) {
  std::string head = bof(0x0005) + globals;
  std::vector<std::string> bounds;
  std::size_t at_sheets = head.size() + eof().size();
  for (const auto& s : sheets) {
    std::string p;
    put32(p, 0);
    p += std::string("\0\0", 2) + bytes(s.name, true);
    bounds.push_back(record(0x0085, p));
    at_sheets += bounds.back().size();
  }
  std::string body;
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    set32(bounds[i], 4, std::uint32_t(at_sheets + body.size()));
    body += (sheet_bof_version == 0x0500 ? bof(0x0010) : xls_test::bof(0x0010, sheet_bof_version)) +
            sheets[i].records + eof();
  }
  std::string out = head;
  for (const auto& b : bounds) out += b;
  return out + eof() + body;
}

/// A book as another program writes it: sheet BOF 0x0600, Mac Central European (10029) texts,
/// numbers as RK values. Sheet Ärkusz1: Ilość, Miejscowość; 128, Łódź; 12.34, Żółw (an RSTRING).
inline std::string mac_central_european_book() {
  std::string rich;
  put16(rich, 4);
  rich += std::string("\xFB\x97\xB8w\x01\x00\x05", 7);  // the text, then one formatting run
  const std::string cells = label(0, 0, "Ilo\xE6\x8D") + label(0, 1, "Miejscowo\xE6\x8D") +
                            record(0x027E, at(1, 0) + std::string("\x02\x02\0\0", 4)) +  // 128
                            label(1, 1, "\xFC\x97" "d\x90") + record(0x027E, at(2, 0) + std::string("\x4B\x13\0\0", 4)) +
                            record(0x00D6, at(2, 1) + rich);
  return workbook_stream(codepage(10029), {{"\x80rkusz1", cells}}, 0x0600);
}

}  // namespace biff5

/// Layout of a compound document written by `compound`: the stream's sectors come first, then one
/// directory sector, then one FAT sector.
struct compound_layout {
  std::uint32_t stream_sectors = 0;
  std::uint32_t directory_sector() const { return stream_sectors; }
  std::uint32_t fat_sector() const { return stream_sectors + 1; }
  static std::size_t sector_offset(std::uint32_t sector) { return (std::size_t(sector) + 1) * 512; }
  std::size_t fat_entry(std::uint32_t sector) const { return sector_offset(fat_sector()) + 4 * sector; }
  static std::size_t entry_offset(std::uint32_t directory_sector, std::uint32_t entry) {
    return sector_offset(directory_sector) + 128 * entry;
  }
};

/// A version-3 compound document holding one stream of at least 4096 bytes (kept out of the mini
/// stream), stored under `name` with its exact size.
inline std::string compound(const std::string& stream, compound_layout* layout = nullptr,
                            const std::string& name = "Workbook") {
  std::string data = stream;
  std::uint32_t size = std::uint32_t(data.size() < 4096 ? 4096 : data.size());
  data.resize((size + 511) / 512 * 512, '\0');
  std::uint32_t n = std::uint32_t(data.size() / 512);
  if (layout) layout->stream_sectors = n;

  std::string header("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  header += std::string(16, '\0');
  put16(header, 0x3E);
  put16(header, 3);
  put16(header, 0xFFFE);
  put16(header, 9);
  put16(header, 6);
  header += std::string(6, '\0');
  put32(header, 0);           // directory sectors (version 3: 0)
  put32(header, 1);           // FAT sectors
  put32(header, n);           // first directory sector
  put32(header, 0);           // transaction
  put32(header, 4096);        // mini stream cutoff
  put32(header, 0xFFFFFFFE);  // first mini FAT sector
  put32(header, 0);
  put32(header, 0xFFFFFFFE);  // first DIFAT sector
  put32(header, 0);
  put32(header, n + 1);
  for (int i = 1; i < 109; ++i) put32(header, 0xFFFFFFFF);

  auto entry = [](const std::string& ascii, std::uint8_t type, std::uint32_t child, std::uint32_t start,
                  std::uint32_t bytes) {
    std::string e;
    for (char c : ascii) {
      e.push_back(c);
      e.push_back(0);
    }
    e.resize(64, '\0');
    put16(e, std::uint16_t(ascii.size() * 2 + 2));
    e.push_back(char(type));
    e.push_back(1);
    put32(e, 0xFFFFFFFF);
    put32(e, 0xFFFFFFFF);
    put32(e, child);
    e += std::string(36, '\0');
    put32(e, start);
    put32(e, bytes);
    put32(e, 0);
    return e;
  };
  std::string directory = entry("Root Entry", 5, 1, 0xFFFFFFFE, 0) + entry(name, 2, 0xFFFFFFFF, 0, size);
  directory.resize(512, '\0');
  for (int i = 2; i < 4; ++i) set32(directory, 128 * i + 68, 0xFFFFFFFF), set32(directory, 128 * i + 72, 0xFFFFFFFF),
      set32(directory, 128 * i + 76, 0xFFFFFFFF);

  std::string fat;
  for (std::uint32_t i = 0; i < n; ++i) put32(fat, i + 1 < n ? i + 1 : 0xFFFFFFFE);
  put32(fat, 0xFFFFFFFE);  // directory
  put32(fat, 0xFFFFFFFD);  // the FAT itself
  while (fat.size() < 512) put32(fat, 0xFFFFFFFF);
  return header + data + directory + fat;
}

}  // namespace xls_test
