#pragma once
// The statements the workbook engine runs directly over a sheet:
//   SELECT * FROM [name]                          (keywords in any case, free blanks, optional ';')
//   select count(*) from (SELECT * FROM [name])   (one row, one Long field: the record count)
#include <optional>
#include <string>
#include <vector>

struct wb_select {
  std::wstring table;  // the bracket's text
  bool count = false;
};

std::optional<wb_select> wb_parse_select(const std::wstring& sql);

/// The position of the table `given` names among `engine_names` (with or without the enclosing
/// single quotes): the first written exactly as given, else the first that differs from it in case
/// alone, unless tables of different spellings do: worksheets named data, Data and DATA are each
/// reached under their own spelling, never another's, and "dAtA" reaches none.
std::optional<std::size_t> wb_find_table_name(const std::wstring& given,
                                              const std::vector<std::wstring>& engine_names);
