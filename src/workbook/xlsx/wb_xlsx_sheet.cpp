#include "workbook/xlsx/wb_xlsx_sheet.h"

#include "workbook/wb_errors.h"
#include "workbook/wb_limits.h"
#include "workbook/xlsx/wb_sheet_row_builder.h"
#include "workbook/xlsx/wb_sheet_scanner.h"
#include "workbook/xlsx/wb_split_sheet_stream.h"
#include "workbook/xlsx/wb_xml_parser.h"

namespace {

zip_uint64_t part_index(wb_xlsx_package& package, std::size_t index) {
  const auto& sheet = package.sheets().at(index);
  if (!sheet.unreadable.empty()) throw wb_unreadable(package.path(), sheet.unreadable);
  const auto& part = sheet.part;
  const auto i = package.archive().find(part);
  if (!i) throw wb_unreadable(package.path(), "the sheet part '" + part + "' is missing");
  return *i;
}

bool scanner_suits(wb_xlsx_package& package, zip_uint64_t part) {
  wb_zip_part_stream head(package.archive(), part, wb_max_part_bytes);
  char buf[256];
  std::size_t n = 0, got;
  while (n < sizeof buf && (got = head.read(buf + n, sizeof buf - n)) > 0) n += got;
  return wb_sheet_scanner_suits(std::string_view(buf, n));
}

// The inflated size the ZIP directory declares (the part stream checks the real one).
std::uint64_t declared_size(wb_xlsx_package& package, zip_uint64_t part) {
  std::lock_guard hold(package.archive().lock());
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(package.archive().handle(), part, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE)) return 0;
  return st.size;
}

class sheet_stream final : public wb_sheet_stream {
 public:
  sheet_stream(wb_xlsx_package& package, zip_uint64_t part, bool scanner)
      : input_(package.archive(), part, wb_max_part_bytes), builder_(package, input_.name()) {
    if (scanner)
      parser_ = std::make_unique<wb_sheet_scanner>(input_, builder_, package.path());
    else
      parser_ = std::make_unique<wb_xml_parser>(input_, builder_, package.path());
    builder_.attach(*parser_);
    // A sheet part is read whole: inflating it overlaps with parsing.
    input_.inflate_ahead();
  }

  bool next_row(wb_row_view& out) override {
    for (;;) {
      builder_.clear_row();
      if (!parser_->run()) return false;
      if (builder_.take_row(out)) return true;
    }
  }

 private:
  wb_zip_part_stream input_;
  wb_sheet_row_builder builder_;
  std::unique_ptr<wb_xml_source> parser_;
};

}  // namespace

std::unique_ptr<wb_sheet_stream> wb_open_xlsx_sheet(wb_xlsx_package& package, std::size_t index,
                                                    wb_sheet_parser parser, const wb_sheet_split& split) {
  package.shared_strings();  // a damaged table of strings is reported before the sheet is opened
  const zip_uint64_t part = part_index(package, index);
  const bool scanner = parser == wb_sheet_parser::scanner && scanner_suits(package, part);
  if (scanner && split.workers >= 2 && declared_size(package, part) >= split.min_part_bytes)
    return wb_open_split_sheet(package, part, split);
  return std::make_unique<sheet_stream>(package, part, scanner);
}
