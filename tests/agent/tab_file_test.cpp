#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/tab_file.h"
#include "agent_test_support.h"

namespace {

using names = std::vector<std::wstring>;

class TabFile : public testing::Test {
 protected:
  std::string file(const std::string& bytes) { return dir.write("list" + std::to_string(++count) + ".txt", bytes); }

  agent_test::scratch_dir dir;
  int count = 0;
};

TEST_F(TabFile, BomCrLfBlankLinesAndLastLineWithoutLineFeed) {
  const names expected = {L"Sheet2", L"M\u00fcller", L" padded ", L"Sheet2", L"Last"};
  // UTF-8 with a byte-order mark.
  EXPECT_EQ(read_tab_file(file("\xEF\xBB\xBFSheet2\r\n\r\nM\xC3\xBCller\r\n padded \r\n\nSheet2\r\nLast")), expected);
  // The same in UTF-8 without the mark, and in Windows-1252: the same names.
  EXPECT_EQ(read_tab_file(file("Sheet2\n\nM\xC3\xBCller\n padded \nSheet2\nLast")), expected);
  EXPECT_EQ(read_tab_file(file("Sheet2\r\nM\xFCller\r\n padded \r\nSheet2\r\nLast\r\n")), expected);
}

TEST_F(TabFile, EncodingIsDecidedByTheWholeFileWithoutBom) {
  // Valid UTF-8 on the first line, a Windows-1252 byte later: the file is Windows-1252.
  EXPECT_EQ(read_tab_file(file("Gr\xC3\xBC\xC3\x9F\n\x80uro\n")), (names{L"Gr\u00c3\u00bc\u00c3\u0178", L"\u20acuro"}));
  // A mark not on the first non-empty line is no mark; the encoding is fixed by the first line.
  EXPECT_EQ(read_tab_file(file("\n\n\xEF\xBB\xBFSheet1\nA\n")), (names{L"Sheet1", L"A"}));
  EXPECT_EQ(read_tab_file(file("A\n\xEF\xBB\xBFSheet1\n")), (names{L"A", L"\ufeffSheet1"}));
}

TEST_F(TabFile, EmptyAndMarkOnlyFilesGiveNoNames) {
  EXPECT_TRUE(read_tab_file(file("")).empty());
  EXPECT_TRUE(read_tab_file(file("\r\n\n\r\n")).empty());
  EXPECT_TRUE(read_tab_file(file("\xEF\xBB\xBF")).empty());
  // A first line holding only the mark is skipped; the rest is UTF-8.
  EXPECT_EQ(read_tab_file(file("\xEF\xBB\xBF\r\nM\xC3\xBCller\r\n")), (names{L"M\u00fcller"}));
}

TEST_F(TabFile, LineLengthLimit) {
  const std::string longest(254, 'x');
  EXPECT_EQ(read_tab_file(file(longest + "\r\nB\n")), (names{std::wstring(254, L'x'), L"B"}));
  EXPECT_EQ(read_tab_file(file(longest)), (names{std::wstring(254, L'x')}));
  try {
    read_tab_file(file("A\n\nB\n" + longest + "y\r\nC\n"));
    FAIL() << "a 255-byte line was accepted";
  } catch (const tab_file_error& e) {
    EXPECT_STREQ(e.what(), "Table names file has a line longer than 254 bytes (line 4).");
  }
  EXPECT_THROW(read_tab_file(file(std::string(100000, 'z'))), tab_file_error);
}

TEST_F(TabFile, EndlessInputIsRefusedAtOnce) {
  EXPECT_THROW(read_tab_file("/dev/zero"), tab_file_error);
}

TEST_F(TabFile, MissingFileAndFolderAreRefusedWithTheSameMessage) {
  const std::string message = "Table names file does not exist.\nPlease verify the correct path/name was given.";
  for (const std::string& path : {(dir.path() / "nope.txt").string(), dir.path().string(), std::string()}) {
    try {
      read_tab_file(path);
      FAIL() << path;
    } catch (const tab_file_error& e) {
      EXPECT_EQ(e.what(), message);
    }
  }
}

}  // namespace
