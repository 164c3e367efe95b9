#pragma once
// What a workbook file reader delivers to the sheet model: the worksheets of one file and, per sheet,
// its cells. A reader only decodes its format; range, header row, column typing and values are the
// sheet model's, shared by every format.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

/// The engine's standard error numbers, so the message tables of the workbook side apply.
enum wb_error_number : long {
  wb_err_no_current_record = 3021,
  wb_err_file_not_found = 3024,
  wb_err_read_only = 3027,
  wb_err_cannot_open = 3051,
  wb_err_no_such_sheet = 3078,
  wb_err_protected = 3161,
  wb_err_too_many_fields = 3190,
  wb_err_not_supported = 3251,
  wb_err_no_such_item = 3265,
  wb_err_unreadable = 3274,
  wb_err_not_a_workbook_db = 3343,
  wb_err_closed = 3420,
};

/// An engine error: its standard number and a description that names the reason.
class wb_error : public std::runtime_error {
 public:
  wb_error(long number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  long number() const noexcept { return number_; }

 private:
  long number_;
};

/// `missing`: a cell the file names but whose value it does not hold (a text past the .xls shared
/// strings); `text` says why. It reads as NULL, and its row is reported with the reason.
enum class wb_value_kind : std::uint8_t { number, text, boolean, error, missing };

/// How a workbook counts its date serials: the 1900 system with its day 60 for the 1900-02-29 that
/// never was, the 1900 system without that day (serial 0 is 1899-12-30), or the 1904 system.
enum class wb_date_system : std::uint8_t { from_1900, from_1900_without_leap_day, from_1904 };

/// How a number cell is shown, from its number format: dates and currency become their own types.
enum class wb_number_style : std::uint8_t { general, date, currency };

/// One cell with a value (blank and formatted-only cells are not delivered). Formula cells arrive as
/// their cached result. `text` is UTF-8 and valid only during the call that delivers the cell.
struct wb_cell {
  std::uint32_t row = 0;  // 0-based
  std::uint32_t col = 0;  // 0-based
  wb_value_kind kind = wb_value_kind::number;
  wb_number_style style = wb_number_style::general;  // number cells only
  bool boolean = false;                              // boolean cells
  double number = 0;                                 // number cells: the raw serial for dates
  std::string_view text;                             // text cells
};

class wb_cell_sink {
 public:
  virtual ~wb_cell_sink() = default;
  /// Receives cells in file order: rows ascending, as every common writer stores them.
  virtual void cell(const wb_cell& c) = 0;
};

struct wb_sheet_info {
  std::string name;  // UTF-8, as the workbook names the sheet
  bool hidden = false;
};

/// One row of a sheet as a reader hands it out: its cells with a value, columns ascending as stored.
/// Valid until the next call on the stream that delivered it.
struct wb_row_view {
  std::uint32_t row = 0;  // 0-based
  const wb_cell* cells = nullptr;
  std::size_t count = 0;
};

/// Pulls the rows of one sheet, one at a time, so a recordset decodes a row at each move.
class wb_sheet_stream {
 public:
  virtual ~wb_sheet_stream() = default;
  /// The next row holding at least one cell; false at the sheet's end. Throws wb_error.
  virtual bool next_row(wb_row_view& out) = 0;
};

/// One open workbook file. Chart and macro sheets are not listed.
class wb_reader {
 public:
  virtual ~wb_reader() = default;
  virtual const std::vector<wb_sheet_info>& sheets() const = 0;
  /// True when the workbook counts dates from 1904-01-01 instead of the 1900 system.
  virtual bool date1904() const = 0;
  /// The workbook's date system; the default tells only the two usual ones apart.
  virtual wb_date_system date_system() const {
    return date1904() ? wb_date_system::from_1904 : wb_date_system::from_1900;
  }
  /// Delivers every cell of sheet `index` to `sink`. May be called any number of times (typing the
  /// columns takes one pass, reading the rows another); memory does not grow with the sheet's rows.
  /// Throws wb_error on a damaged sheet.
  virtual void read_sheet(std::size_t index, wb_cell_sink& sink) = 0;
  /// Streams sheet `index` row by row. The default runs read_sheet on a worker thread and hands
  /// its rows over in small batches; a reader that can pause its own decoding overrides it.
  virtual std::unique_ptr<wb_sheet_stream> open_sheet(std::size_t index);
  /// open_sheet for a pass that has the machine to itself (a typing pass the run waits for): a
  /// reader that decodes on several threads may use up to `threads` for it. The default is
  /// open_sheet.
  virtual std::unique_ptr<wb_sheet_stream> open_sheet_wide(std::size_t index, unsigned threads) {
    (void)threads;
    return open_sheet(index);
  }
};

/// Classifies a number format by its built-in id and its format code (empty for built-ins without
/// one): date and time formats give `date`, currency formats `currency`, all else `general`.
wb_number_style wb_classify_number_format(std::uint32_t format_id, std::string_view format_code);

/// Opens an .xlsx file (throws wb_error).
std::unique_ptr<wb_reader> wb_open_xlsx(const std::string& path);
/// Opens an .xlsx package held in memory; `name` stands for the path in errors (throws wb_error).
std::unique_ptr<wb_reader> wb_open_xlsx_bytes(const std::string& name, std::string_view bytes);
/// Opens a workbook of either kind, told by the file's signature, not its name: a ZIP package is
/// read as .xlsx, a compound document as .xls (or refused as password-protected); anything else is
/// refused saying what it is (wb_probe_source).
std::unique_ptr<wb_reader> wb_open_workbook(const std::string& path);

/// Opens an .xls file (BIFF8 in a compound document; throws wb_error).
std::unique_ptr<wb_reader> wb_open_xls(const std::string& path);
