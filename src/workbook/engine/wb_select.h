#pragma once
// The statements the workbook engine runs directly over a sheet:
//   SELECT * FROM [name]                          (keywords in any case, free blanks, optional ';')
//   select count(*) from (SELECT * FROM [name])   (one row, one Long field: the record count)
#include <optional>
#include <string>

struct wb_select {
  std::wstring table;  // the bracket's text
  bool count = false;
};

std::optional<wb_select> wb_parse_select(const std::wstring& sql);

/// True when `given` names the table `engine_name`: case-insensitively, either with or without the
/// enclosing single quotes.
bool wb_table_name_matches(const std::wstring& given, const std::wstring& engine_name);
