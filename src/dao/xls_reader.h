#pragma once
// The workbook side of the converter: opens a workbook through the engine, lists its worksheets
// under the names users see, and keeps which engine table each listed or selected name stands for.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "udb/udb_converter.h"

class dao_database;
class dao_engine;

class xls_reader : public udb_converter {
 public:
  /// A listed worksheet: the engine's table name, and its position among the engine's tables,
  /// by which it is opened (two worksheets may share an engine name, or differ in case alone).
  struct sheet_ref {
    std::wstring table;
    int position = 0;
  };
  /// Listed worksheet name -> the worksheet, ordered by code point.
  using sheet_map = std::map<std::wstring, sheet_ref>;

  xls_reader();
  ~xls_reader() override;

  /// Opens the workbook read-only; `field_names`: the first row of each worksheet names its columns.
  static std::unique_ptr<dao_database> open_xls(dao_engine& engine, const std::wstring& path, bool field_names);
  /// The name users see for an engine table name: outer quotes, a trailing '$' and outer blanks go.
  static std::wstring simplify_name(const std::wstring& engine_name);
  /// Why `path` cannot be a workbook source, told from the file system and the file's first
  /// bytes: missing, a folder, empty, too short or no workbook kind (one line, UTF-8, naming the
  /// path). Empty when the file starts as a workbook does; a workbook that then fails to open
  /// says why in the reason() of its dao_exception.
  static std::string source_refusal(const std::wstring& path);

  /// Lists the worksheets of the source workbook (with its own engine) and rebuilds the worksheet
  /// map; false, with an empty list, when there is no source, the file kind is unknown or no
  /// engine is available.
  bool get_all_sheets(std::vector<std::wstring>& sheets);
  /// The same over an open workbook. A name that two worksheets simplify to is taken by the first;
  /// the later one is listed as "<name> (2)" (or the first number that no other worksheet's name
  /// takes) so it stays reachable. A worksheet with an empty name is listed under that empty name.
  void get_all_sheets(dao_database& database, std::vector<std::wstring>& sheets);
  /// Keeps only the named worksheets (exact names) in the map and marks them selected in place of
  /// the worksheets selected before (selected queries stay); returns the names that were not
  /// found, in the given order.
  std::vector<std::wstring> set_sel_sheets(const std::vector<std::wstring>& names);

  const sheet_map& get_worksheets() const noexcept { return worksheets; }

 protected:
  sheet_map worksheets;
};
