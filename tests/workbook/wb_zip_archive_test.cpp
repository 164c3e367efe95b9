// Parts of a ZIP package read directly and inflated ahead on a worker: the same bytes either way.
#include <gtest/gtest.h>

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

}  // namespace
