#pragma once
// One table or query of a source, read row by row: the schema and indexes are complete after
// construction, then is_eof / get_item / next until the end.
#include <memory>
#include <string>

#include "ole/ole_com_ptr.h"
#include "udb/udb_recordset.h"
#include "workbook/wb_engine.h"

class dao_record;

class dao_recordset : public udb_recordset {
 public:
  /// Over a table: the record count, schema and indexes come from the table definition.
  dao_recordset(const std::wstring& table_name, wb_recordset* recordset, wb_tabledef* tabledef);
  /// Over a query: its record count is the caller's; the schema comes from the query; no indexes.
  dao_recordset(const std::wstring& name, const std::wstring& sql, wb_recordset* recordset, wb_querydef* querydef,
                int record_count);
  ~dao_recordset() override;

  void append_record(udb_record& record) override;
  /// The current row; owned by the record set until the next get_item or its end.
  udb_record* get_item() override;
  bool is_eof() override;
  void next() override;
  void prev() override;
  void reset() override;
  /// The row got last, when the workbook names cells of it without holding their values (they read
  /// as NULL): its record number and what it lacks. Taken once.
  std::vector<udb_row_error> take_row_errors() override;

 private:
  void init_schema(wb_tabledef* tabledef);
  void init_schema(wb_querydef* querydef);
  void init_indexes(wb_tabledef* tabledef);
  void read_eof();

  bool eof = false;
  int row_number = 1;         ///< the current row's, counted from 1
  std::wstring row_problem;   ///< what the row got last lacks; empty when nothing
  std::unique_ptr<dao_record> current;
  ole_com_ptr<wb_recordset> recordset;
  ole_com_ptr<wb_tabledef> tabledef;
  ole_com_ptr<wb_querydef> querydef;
};
