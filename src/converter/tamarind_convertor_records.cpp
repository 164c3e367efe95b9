// The record loop: one worksheet's rows from the workbook into the destination table.
#include "converter/error_handler.h"
#include "converter/frame_services.h"
#include "converter/tamarind_convertor.h"
#include "pgs/pgs_exception.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "udb/udb_database.h"
#include "udb/udb_recordset.h"

void tamarind_convertor::report_row_error(const udb_row_error& row) {
  error_handler& handler = error_handler::instance();
  if (from_xls.load()) handler.set_context(get_cur_sheet(), row.record_number);
  try {
    handler.handle(row.error, false);
  } catch (const tk_final_exception&) {
    // After a stop the rows sent stay: an answer (one the closing wizard gives unseen) cannot end
    // the writing at this row.
    if (!stop_requested()) throw;
  }
}

void tamarind_convertor::report_row_errors(udb_recordset& recordset) {
  for (const udb_row_error& row : recordset.take_row_errors()) report_row_error(row);
}

void tamarind_convertor::convert_step(udb_recordset* source, udb_recordset* destination, udb_database*) {
  tk_log(1, "tamarind_convertor::convert_step");
  if (!source || !destination) TK_ASSERT_SITE("tmd_conv", 329);
  rec_count.store(0);
  const bool xls = from_xls.load();
  if (xls) {
    const std::wstring sheet = get_cur_sheet();
    tk_log(3, "Converting worksheet %s", sheet);
    if (frame_services* frame = m_frame.load(); frame && shows_progress()) frame->worksheet_started(sheet);
  }
  // Refused rows are reported as the destination finds them, so an Abort ends the writing at that
  // record: the rows after it are never committed.
  destination->set_row_error_sink([this](const udb_row_error& row) { report_row_error(row); });
  while (!source->is_eof()) {
    throw_if_stopped();
    udb_record* record = source->get_item();
    if (!record) TK_ASSERT_SITE("tmd_conv", 329);
    tk_log(1, "Converting %d record (%d fields)", rec_count.load(), static_cast<int>(record->size()));
    // Cells the workbook names without holding their values arrive as NULL; the row is reported.
    report_row_errors(*source);
    try {
      destination->append_record(*record);
    } catch (const pgs_exception& e) {
      // A statement cancelled by a stop request is no refused record.
      if (stop_requested()) throw tk_final_exception();
      error_handler& handler = error_handler::instance();
      if (xls) handler.set_context(get_cur_sheet(), rec_count.load() + 1);
      handler.handle(e, false);
    }
    report_row_errors(*destination);
    rec_count.fetch_add(1);
    source->next();
  }
  rec_count.store(0);
}
