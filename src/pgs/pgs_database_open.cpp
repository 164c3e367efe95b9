// Opening record sets over tables and queries of a pgs_database.
#include "pgs/pgs_database.h"

#include "pgs/pgs_recordset.h"
#include "tk/tk_logger.h"

std::unique_ptr<udb_recordset> pgs_database::get_table(const std::wstring& table_name, int mode) {
  tk_log(2, "pgs_database::get_table(%s)", table_name);
  if (!is_table_exist(table_name)) TK_ASSERT_SITE("pgs_db", 499);
  return std::make_unique<pgs_recordset>(*this, table_name, relationships, mode);
}

std::unique_ptr<udb_recordset> pgs_database::get_query(const std::wstring& query_name, const std::wstring& sql,
                                                       int mode) {
  tk_log(2, "pgs_database::get_query([%s]=%s)", query_name, sql);
  return std::make_unique<pgs_recordset>(*this, query_name, sql, relationships, mode);
}
