// Parts of a ZIP package read directly and inflated ahead on a worker: the same bytes either way.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "wb_test_files.h"
#include "workbook/wb_reader.h"
#include "workbook/xlsx/wb_zip_archive.h"

namespace {

std::string read_whole(wb_zip_part_stream& in, std::size_t step) {
  std::string out;
  std::string buffer(step, '\0');
  for (std::size_t n; (n = in.read(buffer.data(), buffer.size())) > 0;) out.append(buffer, 0, n);
  return out;
}

TEST(ZipPartStream, InflatingAheadGivesTheSameBytesInAnyReadSizes) {
  wb_test::temp_dir dir;
  const std::string path = dir.file("parts.zip");
  std::string big;
  for (int i = 0; big.size() < (3u << 20); ++i) big += "<row r=\"" + std::to_string(i) + "\"/>\n";
  wb_test::write_zip(path, {{"big.xml", big}, {"small.xml", "<a/>"}, {"empty.xml", ""}});
  wb_zip_archive zip(path);
  for (const char* name : {"big.xml", "small.xml", "empty.xml"}) {
    for (std::size_t step : {std::size_t(1) << 18, std::size_t(4096), std::size_t(7)}) {
      if (step == 7 && std::string(name) == "big.xml") continue;  // byte-sized reads of 3 MB: slow, adds nothing
      wb_zip_part_stream direct(zip, *zip.find(name), 64u << 20);
      wb_zip_part_stream ahead(zip, *zip.find(name), 64u << 20);
      ahead.inflate_ahead();
      // Both read from the one archive at once, as two sheets may.
      EXPECT_EQ(read_whole(ahead, step), read_whole(direct, step)) << name << " in steps of " << step;
      EXPECT_EQ(ahead.read(nullptr, 0), 0u);
    }
  }
  // Left before its end, the worker stops.
  for (int i = 0; i < 3; ++i) {
    wb_zip_part_stream ahead(zip, *zip.find("big.xml"), 64u << 20);
    ahead.inflate_ahead();
    char some[100];
    EXPECT_EQ(ahead.read(some, sizeof some), sizeof some);
  }
}

TEST(ZipPartStream, ADamagedPartFailsAfterItsGoodBytesWhenInflatedAhead) {
  wb_test::temp_dir dir;
  const std::string path = dir.file("parts.zip");
  std::string text;
  for (int i = 0; text.size() < (1u << 20); ++i) text += std::to_string(i * 7919) + ",";
  wb_test::write_zip(path, {{"p.xml", text}});
  std::string bytes = wb_test::read_file(path);
  // A byte flipped in the last quarter of the compressed data: inflating or the CRC fails late.
  const std::size_t at = bytes.find("p.xml") + 5 + (bytes.size() * 3) / 5;
  ASSERT_LT(at, bytes.size());
  bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
  wb_test::write_file(path, bytes);
  wb_zip_archive zip(path);
  for (bool ahead : {false, true}) {
    wb_zip_part_stream in(zip, *zip.find("p.xml"), 64u << 20);
    if (ahead) in.inflate_ahead();
    std::string got;
    long error = 0;
    try {
      got = read_whole(in, 1 << 18);
    } catch (const wb_error& e) {
      error = e.number();
    }
    EXPECT_EQ(error, wb_err_unreadable) << (ahead ? "ahead" : "direct");
  }
}

std::uint32_t field(const std::string& zip, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(zip[at + i]);
  return v;
}

// Sets a 32-bit field of the one entry's local header, at `at`, and of its central directory entry,
// where the same field lies two bytes further on.
void set_field(std::string& zip, std::size_t at, std::uint32_t value) {
  for (const std::size_t base : {std::size_t(0), zip.find("PK\x01\x02") + 2})
    for (int i = 0; i < 4; ++i) zip[base + at + i] = static_cast<char>(value >> (8 * i));
}

// Deflated parts are inflated from their raw bytes by our own code, which must refuse what libzip
// refuses: a wrong CRC, a stream cut short or broken, sizes that do not match the directory's. A
// stream that lacks only its last block marker reads, as libzip reads it: the CRC and size hold.
TEST(ZipPartStream, DamagedDeflateDataIsRefusedWithItsReason) {
  wb_test::temp_dir dir;
  std::string text;
  for (int i = 0; text.size() < (600u << 10); ++i) text += "<c r=\"A" + std::to_string(i) + "\"><v>" + std::to_string(i * 31) + "</v></c>";
  const std::string one_block = "<row r=\"1\"><c r=\"A1\"><v>42</v></c></row>";
  constexpr std::size_t crc = 14, packed = 18, size = 22;  // in the local header
  const auto data = [](const std::string& zip) { return 30 + field(zip, 26, 2) + field(zip, 28, 2); };
  struct damage {
    const char* what;
    const std::string& part;
    std::function<void(std::string&)> edit;
    std::string reason;  // empty: the part reads whole
  } cases[] = {
      {"its one block not marked last", one_block, [&](std::string& z) { z[data(z)] &= ~1; }, ""},
      {"wrong CRC", text, [](std::string& z) { set_field(z, crc, field(z, crc, 4) ^ 1); }, "is damaged (CRC error)"},
      {"cut in half", text, [](std::string& z) { set_field(z, packed, field(z, packed, 4) / 2); },
       "is damaged (the compressed data ends early)"},
      {"reserved block type", text, [&](std::string& z) { z[data(z)] |= 6; }, "is damaged (invalid deflate data)"},
      {"declared too long", text, [](std::string& z) { set_field(z, size, field(z, size, 4) + 10); },
       "is damaged (it inflates to fewer bytes than its declared size)"},
      {"declared too short", text, [](std::string& z) { set_field(z, size, field(z, size, 4) - 10); },
       "inflates past its declared size"},
  };
  for (const damage& d : cases) {
    const std::string path = dir.file("p.zip");
    wb_test::write_zip(path, {{"p.xml", d.part}});
    std::string zip = wb_test::read_file(path);
    d.edit(zip);
    wb_zip_archive archive("p.zip", zip);
    for (bool ahead : {false, true}) {
      std::string got, error;
      try {
        wb_zip_part_stream in(archive, *archive.find("p.xml"), 1ull << 30);
        if (ahead) in.inflate_ahead();
        got = read_whole(in, 100000);
      } catch (const wb_error& e) {
        EXPECT_EQ(e.number(), wb_err_unreadable) << d.what;
        error = e.what();
      }
      if (d.reason.empty()) EXPECT_EQ(got, d.part) << d.what << ": " << error;
      else EXPECT_NE(error.find("part 'p.xml' " + d.reason), std::string::npos) << d.what << ": " << error;
    }
  }
}

}  // namespace
