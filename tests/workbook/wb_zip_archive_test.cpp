// Parts of a ZIP package read directly and inflated ahead on a worker: the same bytes either way.
#include <gtest/gtest.h>

#include <zip.h>

#include <cstdint>
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

// One deflated entry as a ZIP writes it: raw deflate data and what the directory says of it.
struct deflated_entry {
  std::string data;
  std::uint32_t crc = 0;
  std::uint32_t size = 0;  // inflated
};

deflated_entry deflate_with_libzip(const wb_test::temp_dir& dir, const std::string& text) {
  const std::string path = dir.file("source.zip");
  wb_test::write_zip(path, {{"p.xml", text}});
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &err);
  zip_stat_t st;
  zip_stat_init(&st);
  zip_stat(z, "p.xml", 0, &st);
  EXPECT_EQ(st.comp_method, ZIP_CM_DEFLATE);
  deflated_entry e{std::string(st.comp_size, '\0'), st.crc, static_cast<std::uint32_t>(st.size)};
  zip_file_t* f = zip_fopen(z, "p.xml", ZIP_FL_COMPRESSED);
  EXPECT_EQ(zip_fread(f, e.data.data(), e.data.size()), static_cast<zip_int64_t>(e.data.size()));
  zip_fclose(f);
  zip_discard(z);
  return e;
}

void put_le(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
}

// A ZIP holding `e` as "p.xml", written byte by byte so that its data, sizes and CRC may lie.
std::string zip_of(const deflated_entry& e) {
  const std::string name = "p.xml";
  std::string fields;  // version, flags, method, time, date, CRC, sizes, name length, extra length
  put_le(fields, 20, 2), put_le(fields, 0, 2), put_le(fields, 8, 2), put_le(fields, 0, 2), put_le(fields, 0x21, 2);
  put_le(fields, e.crc, 4), put_le(fields, static_cast<std::uint32_t>(e.data.size()), 4), put_le(fields, e.size, 4);
  put_le(fields, static_cast<std::uint32_t>(name.size()), 2), put_le(fields, 0, 2);
  std::string zip = "PK\x03\x04" + fields + name + e.data;
  const std::size_t central_at = zip.size();
  zip += "PK\x01\x02";
  put_le(zip, 20, 2);
  zip += fields;
  put_le(zip, 0, 2), put_le(zip, 0, 2), put_le(zip, 0, 2), put_le(zip, 0, 4), put_le(zip, 0, 4);  // comment .. offset
  zip += name;
  const std::size_t central_size = zip.size() - central_at;
  zip += "PK\x05\x06";
  put_le(zip, 0, 4), put_le(zip, 1, 2), put_le(zip, 1, 2);
  put_le(zip, static_cast<std::uint32_t>(central_size), 4), put_le(zip, static_cast<std::uint32_t>(central_at), 4);
  put_le(zip, 0, 2);
  return zip;
}

// Deflated parts are inflated from their raw bytes by our own code, which must refuse what libzip
// refuses: a wrong CRC, a stream cut short or broken, sizes that do not match the directory's. A
// stream that lacks only its last block marker reads, as libzip reads it: the CRC and size hold.
TEST(ZipPartStream, DamagedDeflateDataIsRefusedWithItsReason) {
  wb_test::temp_dir dir;
  std::string text;
  for (int i = 0; text.size() < (600u << 10); ++i) text += "<c r=\"A" + std::to_string(i) + "\"><v>" + std::to_string(i * 31) + "</v></c>";
  const deflated_entry good = deflate_with_libzip(dir, text);
  struct damage {
    const char* what;
    deflated_entry entry;
    std::string reason;
    std::string text;  // what an intact part holds
  };
  std::vector<damage> cases;
  cases.push_back({"intact", good, "", text});
  const std::string short_text = "<sheetData><row r=\"1\"><c r=\"A1\"><v>42</v></c></row></sheetData>";
  deflated_entry unfinished = deflate_with_libzip(dir, short_text);
  unfinished.data[0] = static_cast<char>(unfinished.data[0] & ~1);  // its one block, no longer the last
  cases.push_back({"one block not marked last", unfinished, "", short_text});
  deflated_entry e = good;
  e.crc ^= 1;
  cases.push_back({"wrong CRC", e, "is damaged (CRC error)", ""});
  e = good;
  e.data.resize(e.data.size() / 2);
  cases.push_back({"stream cut in half", e, "is damaged (the compressed data ends early)", ""});
  e = good;
  e.data[0] = static_cast<char>(e.data[0] | 0x06);  // block type 3, which does not exist
  cases.push_back({"reserved block type", e, "is damaged (invalid deflate data)", ""});
  e = good;
  e.size += 10;
  cases.push_back({"declared too long", e, "is damaged (it inflates to fewer bytes than its declared size)", ""});
  e = good;
  e.size -= 10;
  cases.push_back({"declared too short", e, "inflates past its declared size", ""});
  e = good;
  e.size = 200u << 20;
  cases.push_back({"past the ratio limit", e, "inflates beyond the ratio limit of 500:1 (a ZIP bomb)", ""});
  for (const damage& d : cases) {
    const std::string path = dir.file("damaged.zip");
    wb_test::write_file(path, zip_of(d.entry));
    wb_zip_archive zip(path);
    for (bool ahead : {false, true}) {
      std::string got, error;
      try {
        wb_zip_part_stream in(zip, *zip.find("p.xml"), 1ull << 30);
        if (ahead) in.inflate_ahead();
        got = read_whole(in, 100000);
      } catch (const wb_error& e) {
        EXPECT_EQ(e.number(), wb_err_unreadable) << d.what;
        error = e.what();
      }
      if (d.reason.empty()) {
        EXPECT_EQ(got, d.text) << d.what;
        EXPECT_EQ(error, "") << d.what;
      } else {
        EXPECT_NE(error.find("part 'p.xml' " + d.reason), std::string::npos) << d.what << ": " << error;
      }
    }
  }
}

}  // namespace
