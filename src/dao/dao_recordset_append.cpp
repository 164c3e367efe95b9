#include "dao/dao_record_appender.h"
#include "dao/dao_recordset.h"
#include "tk/tk_logger.h"

void dao_recordset::append_record(udb_record& record) {
  tk_log(2, "dao_recordset::append_record");
  dao_append_record(*recordset.get(), *this, record);
}
