// libFuzzer target for the .xls reader: any input opens, lists and streams every sheet, or fails with
// an engine error.
#include <cstddef>
#include <cstdint>
#include <string>

#include "workbook/wb_reader.h"
#include "workbook/xls/xls_open.h"

namespace {
struct discard : wb_cell_sink {
  void cell(const wb_cell&) override {}
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    auto reader = wb_open_xls_bytes(std::string(reinterpret_cast<const char*>(data), size), "fuzz.xls");
    for (std::size_t i = 0; i < reader->sheets().size(); ++i) {
      discard sink;
      reader->read_sheet(i, sink);
      auto rows = reader->open_sheet(i);
      wb_row_view row;
      while (rows->next_row(row)) {
      }
    }
  } catch (const wb_error&) {
  }
  return 0;
}
