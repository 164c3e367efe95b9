#include "dao/dao_recordset.h"
#include "tk/tk_logger.h"

// Writing rows into engine tables comes with the table builder; a workbook is read-only, so until
// then appending is refused as an error of the table it was tried on.
void dao_recordset::append_record(udb_record&) {
  tk_log(2, "dao_recordset::append_record");
  throw tk_exception("Appending records to this source is not supported.", tk_level_recoverable);
}
