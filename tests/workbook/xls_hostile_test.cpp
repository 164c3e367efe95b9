// Damaged and hostile .xls files, written byte by byte: each gives the engine's error, never a crash.
#include <gtest/gtest.h>

#include <cstdint>

#include "workbook/xls/xls_open.h"
#include "xls_test_support.h"

using namespace xls_test;

namespace {

/// Opens `bytes` and reads every sheet both ways; returns the error text ("" when all went well).
/// The error must carry `expected_number` (any number when it is 0).
std::string failure_of(const std::string& bytes, long expected_number = wb_err_unreadable) {
  try {
    auto r = wb_open_xls_bytes(bytes, "t.xls");
    for (std::size_t i = 0; i < r->sheets().size(); ++i) {
      collector c;
      r->read_sheet(i, c);
      auto s = r->open_sheet(i);
      wb_row_view row;
      while (s->next_row(row)) {
      }
    }
  } catch (const wb_error& e) {
    if (expected_number != 0) {
      EXPECT_EQ(e.number(), expected_number) << e.what();
    }
    return e.what();
  }
  return "";
}

std::vector<cell> cells_of(const std::string& bytes) {
  auto r = wb_open_xls_bytes(bytes, "t.xls");
  return read_all(*r, 0);
}

std::string sst(std::uint32_t count, const std::string& strings) {
  std::string p;
  put32(p, count);
  put32(p, count);
  return record(0x00FC, p + strings);
}

std::string labelsst(std::uint16_t row, std::uint16_t col, std::uint32_t index) {
  std::string p = at(row, col);
  put32(p, index);
  return record(0x00FD, p);
}

std::string simple_workbook(compound_layout* layout = nullptr) {
  return compound(workbook_stream("", number_cell(0, 0, 1.5)), layout);
}

::testing::AssertionResult mentions(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "'" << text << "' does not mention '" << part << "'";
}

}  // namespace

TEST(XlsSharedStrings, CharactersResumeWithAFreshOptionByteInEachContinuation) {
  std::string first;                   // "abc" single-byte, "def" continued as UTF-16
  put16(first, 6);
  first += std::string("\0abc", 4);
  std::string second;                  // a surrogate pair split between two records
  put16(second, 2);
  second += std::string("\x01\x3D\xD8", 3);
  std::string third;                   // rich text whose formatting runs straddle a boundary
  put16(third, 2);
  third += std::string("\x08\x02\x00xy", 5);
  std::string globals = sst(4, first) + record(0x003C, std::string("\x01" "d\0e\0f\0", 7) + second) +
                        record(0x003C, std::string("\x01\x00\xDE", 3) + third + "RUN") +
                        record(0x003C, std::string("RUNRU", 5) + std::string("\x01\x00\x00z", 4));
  std::string cells = labelsst(0, 0, 0) + labelsst(0, 1, 1) + labelsst(0, 2, 2) + labelsst(0, 3, 3);
  auto got = cells_of(compound(workbook_stream(globals, cells)));
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].text, "abcdef");
  EXPECT_EQ(got[1].text, "\U0001F600");
  EXPECT_EQ(got[2].text, "xy");
  EXPECT_EQ(got[3].text, "z");
}

TEST(XlsSharedStrings, DamagedTablesAreRefusedWithTheirReason) {
  std::string one = xl_string("only");
  EXPECT_TRUE(mentions(failure_of(compound(workbook_stream(sst(0xFFFFFFFF, one), ""))), "cap of 33554432"));
  // A continuation that is not a CONTINUE record.
  std::string cut;
  put16(cut, 10);
  cut += std::string("\0abc", 4);
  EXPECT_TRUE(mentions(failure_of(compound(workbook_stream(sst(1, cut) + record(0x0042, "xx"), ""))),
                       "runs past its record"));
}

// Real files whose tables hold fewer strings than their counts (15, 1,761, 7,668) were refused whole.
TEST(XlsSharedStrings, ATableHoldingFewerStringsThanItsCountIsReadAsFarAsItGoes) {
  // The record after the table (DATEMODE here) is still read, not taken for a lost continuation.
  const std::string globals = sst(5, xl_string("only") + xl_string("two")) + record(0x0022, std::string("\x01\0", 2));
  auto r = wb_open_xls_bytes(compound(workbook_stream(globals, labelsst(0, 0, 0) + labelsst(1, 0, 1))), "t.xls");
  EXPECT_TRUE(r->date1904());
  EXPECT_EQ(read_all(*r, 0), (std::vector<cell>{T(0, 0, "only"), T(1, 0, "two")}));
  // A table cut after its header. A cell naming a string past those present lacks its value, and
  // says why; the sheet reads on.
  EXPECT_EQ(failure_of(compound(workbook_stream(sst(15, ""), number_cell(0, 0, 1)))), "");
  const std::string past = compound(workbook_stream(globals, labelsst(0, 0, 1) + labelsst(2, 3, 2) + number_cell(3, 0, 7)));
  EXPECT_EQ(failure_of(past), "");
  const cell lacking{.row = 2, .col = 3, .kind = wb_value_kind::missing,
                     .text = "its text is shared string 2, past the 2 strings the workbook holds"};
  EXPECT_EQ(cells_of(past), (std::vector<cell>{T(0, 0, "two"), lacking, N(3, 0, 7)}));
}

// Records that end where the format lets them end are read; records too short for what they must
// hold are still refused.
TEST(XlsRecords, EmptyStringsWithoutTheirOptionByteAreRead) {
  const std::string empty = std::string("\0\0", 2);  // a character count of 0 and nothing after it
  const std::string cells = number_cell(0, 0, 1) + record(0x0204, at(0, 1) + empty) +
                            biff5::formula(1, 0, biff5::text_result()) + record(0x0207, empty) +
                            biff5::formula(1, 1, biff5::text_result()) + record(0x0207, xl_string("x"));
  const std::string book = compound(workbook_stream(record(0x041E, std::string("\xA4\0", 2) + empty), cells));
  EXPECT_EQ(failure_of(book), "");
  EXPECT_EQ(cells_of(book), (std::vector<cell>{N(0, 0, 1), T(0, 1, ""), T(1, 0, ""), T(1, 1, "x")}));

  // A LABEL counting 3 characters that holds one, a NUMBER of 4 bytes, a LABEL cut inside its count.
  for (const std::string& short_record : {record(0x0204, at(0, 0) + std::string("\x03\0\0a", 4)),
                                          record(0x0203, at(0, 0) + "1234"), record(0x0204, at(0, 0) + std::string("\x01", 1))})
    EXPECT_TRUE(mentions(failure_of(compound(workbook_stream("", short_record))), "shorter than its content"));
}

TEST(XlsRecords, CapsAndDamageInTheRecordStream) {
  // A record claiming more bytes than the stream holds.
  std::string stream = workbook_stream("", number_cell(0, 0, 1));
  std::string tail;
  put16(tail, 0x0203);
  put16(tail, 8000);
  EXPECT_TRUE(mentions(failure_of(compound(stream.substr(0, stream.size() - 4) + tail)), "past the end of its stream"));
  // Longer than the format's record limit.
  EXPECT_TRUE(mentions(failure_of(compound(workbook_stream(record(0x00E0, std::string(9000, 'x')), ""))),
                       "limit of 8224"));
  // A text beyond the per-cell limit, a column beyond the cap.
  std::string long_label = at(0, 0);
  put16(long_label, 40000);
  long_label += std::string(1, '\0') + std::string(7000, 'a');
  EXPECT_TRUE(mentions(failure_of(compound(workbook_stream("", record(0x0204, long_label)))), "32767 characters"));
  EXPECT_TRUE(mentions(failure_of(compound(workbook_stream("", number_cell(0, 16384, 1)))), "16384 columns"));
  // A cell record too short for its fields.
  EXPECT_TRUE(mentions(failure_of(compound(workbook_stream("", record(0x0203, at(0, 0))))), "shorter"));
  // Globals or sheet without EOF, a sheet offset that misses its BOF, an older version's BOF.
  EXPECT_TRUE(mentions(failure_of(compound(bof(0x0005) + record(0x0022, std::string(2, '\0')))), "no EOF"));
  std::string missing_eof = workbook_stream("", number_cell(0, 0, 1));
  EXPECT_TRUE(mentions(failure_of(compound(missing_eof.substr(0, missing_eof.size() - 4))), "no EOF"));
  std::string bad_offset = workbook_stream("", number_cell(0, 0, 1));
  set32(bad_offset, bof(0x0005).size() + 4, 3);
  EXPECT_TRUE(mentions(failure_of(compound(bad_offset)), "does not start with a BOF"));
  EXPECT_TRUE(mentions(failure_of(compound(record(0x0409, std::string(6, '\0')))), "BIFF4"));
  EXPECT_EQ(failure_of(compound(workbook_stream(record(0x002F, std::string(6, '\0')), "")), wb_err_protected),
            "Workbook 't.xls' is encrypted with a password.");
}

TEST(XlsRecords, FormulaResultsAndSkippedSubstreams) {
  auto formula = [](std::uint16_t col, std::string result) {
    return record(0x0006, at(0, col) + result + std::string(6, '\0'));
  };
  std::string text_result("\0\0\0\0\0\0\xFF\xFF", 8);
  std::string cells = formula(0, text_result) + record(0x04BC, "shared") + record(0x0207, xl_string("via STRING")) +
                      bof(0x0020) + number_cell(0, 3, 9) + eof() +             // an embedded chart
                      record(0x0207, xl_string("stray"));                      // STRING with no formula
  auto got = cells_of(compound(workbook_stream("", cells)));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].text, "via STRING");
  // A text result whose STRING never comes, or a result of an unknown kind, cannot be read: the row
  // is refused with the reason instead of losing the cell.
  EXPECT_TRUE(mentions(failure_of(compound(workbook_stream("", formula(1, text_result) + number_cell(1, 0, 1)))),
                       "has no STRING record"));
  EXPECT_TRUE(mentions(failure_of(compound(workbook_stream("", formula(1, text_result)))), "has no STRING record"));
  EXPECT_TRUE(mentions(failure_of(compound(workbook_stream("", formula(2, std::string("\x09\0\0\0\0\0\xFF\xFF", 8))))),
                       "unknown kind 9"));
}

TEST(XlsContainer, TruncatedFilesAreUnreadable) {
  std::string good = simple_workbook();
  ASSERT_EQ(failure_of(good), "");
  for (std::size_t len : {std::size_t(0), std::size_t(7), std::size_t(100), std::size_t(511), std::size_t(512),
                          std::size_t(1024), good.size() / 2, good.size() - 600, good.size() - 1}) {
    SCOPED_TRACE(len);
    EXPECT_NE(failure_of(good.substr(0, len)), "");
  }
}

TEST(XlsContainer, DamagedChainsAndDirectoriesAreUnreadable) {
  compound_layout l;
  const std::string good = simple_workbook(&l);

  std::string loop = good;
  set32(loop, l.fat_entry(2), 1);  // the stream's third sector leads back to its second
  EXPECT_TRUE(mentions(failure_of(loop), "chain loops"));

  std::string self = good;
  set32(self, l.fat_entry(l.directory_sector()), l.directory_sector());
  EXPECT_TRUE(mentions(failure_of(self), "directory chain loops"));

  std::string away = good;
  set32(away, l.fat_entry(0), 100000);
  EXPECT_TRUE(mentions(failure_of(away), "chain leaves the file"));

  std::string short_chain = good;
  set32(short_chain, l.fat_entry(1), 0xFFFFFFFE);
  EXPECT_TRUE(mentions(failure_of(short_chain), "ends before its size"));

  std::string huge = good;
  set32(huge, compound_layout::entry_offset(l.directory_sector(), 1) + 120, 0x7FFFFFFF);
  EXPECT_TRUE(mentions(failure_of(huge), "larger than the file"));

  std::string nowhere = good;
  set32(nowhere, compound_layout::entry_offset(l.directory_sector(), 0) + 76, 50);
  EXPECT_TRUE(mentions(failure_of(nowhere), "points nowhere"));

  std::string sibling_loop = good;
  set32(sibling_loop, compound_layout::entry_offset(l.directory_sector(), 1) + 72, 1);
  EXPECT_TRUE(mentions(failure_of(sibling_loop), "tree loops"));

  std::string not_root = good;
  not_root[compound_layout::entry_offset(l.directory_sector(), 0) + 66] = 1;
  EXPECT_TRUE(mentions(failure_of(not_root), "not the root"));
}

TEST(XlsContainer, HeaderDamageIsUnreadable) {
  const std::string good = simple_workbook();
  for (auto [shift, size] : {std::pair{10, "1024"}, std::pair{7, "128"}, std::pair{16, "65536"}}) {
    std::string odd = good;
    odd[30] = char(shift);
    EXPECT_TRUE(mentions(failure_of(odd), std::string("sector size ") + size + " is neither 512 nor 4096"));
  }
  std::string many_fat = good;
  set32(many_fat, 44, 0x10000000);
  EXPECT_TRUE(mentions(failure_of(many_fat), "more FAT sectors"));
  std::string no_difat = good;
  set32(no_difat, 44, 2);  // two FAT sectors, but the header lists one and there is no DIFAT
  EXPECT_NE(failure_of(no_difat), "");
  std::string order = good;
  order[28] = 0;
  EXPECT_TRUE(mentions(failure_of(order), "byte order"));
  std::string signature = good;
  signature[3] = 0;
  EXPECT_TRUE(mentions(failure_of(signature), "unknown signature"));
}

TEST(XlsContainer, DamagedMiniStreamIsUnreadable) {
  const std::string good = load(fixture("mini_stream.xls"));
  ASSERT_EQ(failure_of(good), "");
  std::uint32_t mini_fat_sector = get32(good, 60);
  std::string loop = good;
  set32(loop, compound_layout::sector_offset(mini_fat_sector) + 4, 1);  // mini sector 1 leads to itself
  EXPECT_TRUE(mentions(failure_of(loop), "mini chain loops"));
  std::string away = good;
  set32(away, compound_layout::sector_offset(mini_fat_sector), 5000);
  EXPECT_TRUE(mentions(failure_of(away), "leaves the mini stream"));
}

TEST(XlsContainer, RandomDamageNeverCrashes) {
  // Byte flips and truncations all over a real workbook: each opens or fails with an engine error.
  const std::string good = load(fixture("basic.xls"));
  ASSERT_FALSE(good.empty());
  std::uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 8;
  };
  for (int round = 0; round < 1500; ++round) {
    std::string bad = good;
    int flips = 1 + int(next() % 4);
    for (int k = 0; k < flips; ++k) bad[next() % bad.size()] = char(next());
    if (round % 5 == 0) bad.resize(next() % bad.size());
    try {
      failure_of(bad, 0);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "round " << round << ": " << e.what();
    }
  }
}

TEST(XlsRecords, SingleByteTextIsLatin1WhateverTheCodePage) {
  std::string cp1251;
  put16(cp1251, 1251);
  std::string label = at(0, 0) + xl_string("caf\xE9");
  auto got = cells_of(compound(workbook_stream(record(0x0042, cp1251), record(0x0204, label))));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].text, "caf\u00e9");
}

TEST(XlsRecords, RowStreamReportsDamageAtTheRowThatMeetsIt) {
  auto r = wb_open_xls_bytes(compound(workbook_stream("", number_cell(5, 0, 1) + number_cell(5, 1, 2) +
                                                               record(0x0203, at(6, 0) + "1234"))),
                             "t.xls");
  auto rows = r->open_sheet(0);
  wb_row_view row;
  try {
    ASSERT_TRUE(rows->next_row(row));
    EXPECT_EQ(row.row, 5u);
    EXPECT_EQ(row.count, 2u);
    rows->next_row(row);
    ADD_FAILURE() << "no error";
  } catch (const wb_error& e) {
    EXPECT_EQ(e.number(), wb_err_unreadable);
    EXPECT_TRUE(mentions(e.what(), "shorter than its content"));
  }
}

TEST(XlsContainer, StreamSizesNearTheTopOf64BitsAreUnreadable) {
  // Version 4 keeps all 64 bits of a stream size; rounding it up to whole sectors must not wrap.
  const std::string good = load(fixture("sector4096.xls"));
  ASSERT_EQ(failure_of(good), "");
  std::size_t size_at = (std::size_t(get32(good, 48)) + 1) * 4096 + 128 + 120;
  for (std::uint32_t high : {0xFFFFFFFFu, 0x00000001u}) {
    std::string bad = good;
    set32(bad, size_at, 0xFFFFF001u);
    set32(bad, size_at + 4, high);
    EXPECT_TRUE(mentions(failure_of(bad), "larger than the file"));
  }
}

namespace {

/// A compound document whose FAT has `fat_count` sectors, so more than the header's 109 are listed
/// in DIFAT sectors. Layout: stream, directory, FAT sectors, DIFAT sectors.
std::string compound_with_difat(const std::string& stream, std::uint32_t fat_count) {
  compound_layout l;
  std::string small = compound(stream, &l);
  const std::uint32_t n = l.stream_sectors;
  const std::uint32_t per_difat = 127;
  const std::uint32_t difat_count = (fat_count - 109 + per_difat - 1) / per_difat;
  const std::uint32_t first_fat = n + 1, first_difat = n + 1 + fat_count;

  std::vector<std::uint32_t> fat(std::size_t(fat_count) * 128, 0xFFFFFFFF);
  for (std::uint32_t i = 0; i < n; ++i) fat[i] = i + 1 < n ? i + 1 : 0xFFFFFFFE;
  fat[n] = 0xFFFFFFFE;
  for (std::uint32_t i = 0; i < fat_count; ++i) fat[first_fat + i] = 0xFFFFFFFD;
  for (std::uint32_t i = 0; i < difat_count; ++i) fat[first_difat + i] = 0xFFFFFFFC;

  std::string out = small.substr(0, 512 + std::size_t(n + 1) * 512);  // header, stream, directory
  set32(out, 44, fat_count);
  for (std::uint32_t i = 0; i < 109; ++i) set32(out, 76 + 4 * i, first_fat + i);
  set32(out, 68, first_difat);
  set32(out, 72, difat_count);
  for (std::uint32_t v : fat) put32(out, v);
  for (std::uint32_t d = 0; d < difat_count; ++d) {
    std::string sector;
    for (std::uint32_t k = 0; k < per_difat; ++k) {
      std::uint32_t index = 109 + d * per_difat + k;
      put32(sector, index < fat_count ? first_fat + index : 0xFFFFFFFF);
    }
    put32(sector, d + 1 < difat_count ? first_difat + d + 1 : 0xFFFFFFFE);
    out += sector;
  }
  return out;
}

}  // namespace

TEST(XlsContainer, FatSectorsListedInDifatSectorsAreRead) {
  std::string stream = workbook_stream("", number_cell(0, 0, 1.5));
  for (std::uint32_t fat_count : {110u, 300u}) {
    SCOPED_TRACE(fat_count);
    std::string file = compound_with_difat(stream, fat_count);
    auto got = cells_of(file);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].number, 1.5);
    if (fat_count == 300) {
      // The first DIFAT sector names itself as the next one.
      std::size_t first_difat_at = compound_layout::sector_offset(get32(file, 68));
      set32(file, first_difat_at + 508, get32(file, 68));
      EXPECT_TRUE(mentions(failure_of(file), "DIFAT chain loops"));
    }
  }
  std::string no_difat = compound_with_difat(stream, 110);
  set32(no_difat, 72, 0);
  EXPECT_TRUE(mentions(failure_of(no_difat), "DIFAT ends before the FAT is complete"));
}
