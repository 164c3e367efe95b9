#include "dao/dao_recordset.h"

#include "dao/dao_exception.h"
#include "dao/dao_record.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"
#include "udb/udb_types.h"

namespace {

bool enclosed_by(const std::wstring& text, wchar_t c) {
  return text.size() > 1 && text.front() == c && text.back() == c;
}

void strip_ends(std::wstring& text) { text = text.substr(1, text.size() - 2); }

// A column's descriptor from its engine field; a GUID column travels as date and time.
std::unique_ptr<t_ftd> make_descriptor(wb_field* field, short type, const ole_variant& value, int reserved) {
  const dao_field column(field);
  auto descriptor = std::make_unique<t_ftd>(column, value, reserved);
  if (type == wb_dao_guid) descriptor->reserved = udb_reserved_date_time;
  return descriptor;
}

}  // namespace

dao_recordset::dao_recordset(const std::wstring& name, wb_recordset* rs, wb_tabledef* td)
    : udb_recordset(name, true), recordset(ole_share(rs)), tabledef(ole_share(td)) {
  tk_log(2, "dao_recordset::dao_recordset(%s)", name);
  if (!recordset) TK_ASSERT_SITE("dao_recs", 45);
  if (tabledef) {
    rec_count = static_cast<int>(dao_call([&] { return tabledef->record_count(); }));
    tk_log(2, "Got records count: %d", rec_count);
    init_schema(tabledef.get());
    init_indexes(tabledef.get());
  }
  read_eof();
  tk_log(2, "dao_recordset::dao_recordset - END");
}

dao_recordset::dao_recordset(const std::wstring& name, const std::wstring& sql, wb_recordset* rs, wb_querydef* qd,
                             int record_count)
    : udb_recordset(name, sql, true), recordset(ole_share(rs)), querydef(ole_share(qd)) {
  tk_log(2, "dao_recordset::dao_recordset(%s)", name);
  if (!recordset) TK_ASSERT_SITE("dao_recs", 72);
  if (querydef) {
    rec_count = record_count;
    tk_log(2, "Got records count: %d", rec_count);
    init_schema(querydef.get());
  }
  read_eof();
  tk_log(2, "dao_recordset::dao_recordset - END");
}

dao_recordset::~dao_recordset() {
  tk_log(1, "dao_recordset::dtor");
  current.reset();
  try {
    if (recordset) recordset->close();
  } catch (const std::exception& e) {
    // A destructor never throws: the cursor is released below in any case.
    tk_log(2, "dao_recordset: Close failed: %s", std::string(e.what()));
  }
  querydef.release();
  tabledef.release();
  recordset.release();
}

void dao_recordset::read_eof() {
  eof = dao_call([&] { return recordset->eof(); });
}

void dao_recordset::init_schema(wb_tabledef* td) {
  tk_log(2, "dao_recordset::init_schema( DAOTableDef * )");
  if (!td) TK_ASSERT_SITE("dao_recs", 308);
  ole_com_ptr<wb_fields> fields = dao_non_null(dao_call([&] { return td->fields(); }));
  const int n = static_cast<short>(dao_call([&] { return fields->count(); }));
  for (int i = 0; i < n; ++i) {
    ole_com_ptr<wb_field> field = dao_non_null(dao_call([&] { return fields->item(i); }));
    const short type = static_cast<short>(dao_call([&] { return field->type(); }));
    int reserved = 0;
    if (type == wb_dao_date) {
      tk_log(2, "Make date field more precise");
      reserved = udb_reserved_date_time;
    }
    const long size = dao_call([&] { return field->size(); });
    std::wstring text = ole_variant(dao_call([&] { return field->default_value(); })).to_wstring();
    tk_log(2, "Field #%d: size=%d, DAO type=%d, default value=%s", i, size, static_cast<int>(type), text);
    if (!text.empty()) {
      bool processed = false;
      if (text.front() == L'=') {
        tk_log(1, "Got def.value of form ='...'");
        text.erase(0, 1);
        if (enclosed_by(text, L'"') || enclosed_by(text, L'\'')) strip_ends(text);
        tk_log(1, "After all processing: %s", text);
        processed = true;
      }
      if (type == wb_dao_date) {
        tk_log(1, "Got date/time def.value");
        if (enclosed_by(text, L'#')) strip_ends(text);
        if (tk_compare_no_case(text, L"now()") == 0) {
          tk_log(1, "Got NOW()");
          reserved = udb_reserved_date_now;
        }
      } else if (!processed && type == wb_dao_text) {
        tk_log(1, "Got string def.value");
        if (enclosed_by(text, L'"')) strip_ends(text);
      }
      if (size != 0 && type == wb_dao_text && static_cast<long>(text.size()) > size) {
        tk_log(3, "Skip incorrect default value [%s] for field #%d", text, i);
        text.clear();
      }
    }
    ole_variant value;
    if (!(type == wb_dao_date && reserved == udb_reserved_date_now))
      value = ole_variant::from_wstring(text, dao_field::get_vartype(type));
    schema.push_back(make_descriptor(field.get(), type, value, reserved));
  }
  tk_log(2, "End of dao_recordset::init_schema");
}

void dao_recordset::init_schema(wb_querydef* qd) {
  tk_log(2, "dao_recordset::init_schema( DAOQueryDef * )");
  if (!qd) TK_ASSERT_SITE("dao_recs", 517);
  ole_com_ptr<wb_fields> fields = dao_non_null(dao_call([&] { return qd->fields(); }));
  const int n = static_cast<short>(dao_call([&] { return fields->count(); }));
  for (int i = 0; i < n; ++i) {
    ole_com_ptr<wb_field> field = dao_non_null(dao_call([&] { return fields->item(i); }));
    const short type = static_cast<short>(dao_call([&] { return field->type(); }));
    std::wstring text = ole_variant(dao_call([&] { return field->default_value(); })).to_wstring();
    tk_log(2, "Field #%d: DAO type=%d, default value=%s", i, static_cast<int>(type), text);
    int reserved = 0;
    if (type == wb_dao_date) {
      tk_log(1, "Got date/time def.value");
      if (enclosed_by(text, L'#')) strip_ends(text);
      reserved = udb_reserved_date_time;
    } else if (type == wb_dao_text) {
      tk_log(1, "Got string def.value");
      if (enclosed_by(text, L'"')) strip_ends(text);
    }
    const ole_variant value = ole_variant::from_wstring(text, dao_field::get_vartype(type));
    schema.push_back(make_descriptor(field.get(), type, value, reserved));
  }
  tk_log(2, "End of dao_recordset::init_schema");
}

void dao_recordset::init_indexes(wb_tabledef* td) {
  tk_log(2, "dao_recordset::init_indexes");
  if (!td) TK_ASSERT_SITE("dao_recs", 434);
  ole_com_ptr<wb_indexes> list = dao_non_null(dao_call([&] { return td->indexes(); }));
  const int n = dao_call([&] { return list->count(); });
  tk_log(1, "Got %d indexes", n);
  for (int i = 0; i < n; ++i) {
    tk_log(1, "Processing index %d", i);
    udb_index index;
    ole_com_ptr<wb_index> source = dao_non_null(dao_call([&] { return list->item(i); }));
    dao_call([&] {
      index.name = source->name();
      index.primary = source->primary();
      index.unique = source->unique();
    });
    ole_com_ptr<wb_index_fields> columns = dao_non_null(dao_call([&] { return source->fields(); }));
    const int m = dao_call([&] { return columns->count(); });
    for (int j = 0; j < m; ++j) {
      ole_com_ptr<wb_field> column = dao_non_null(dao_call([&] { return columns->item(j); }));
      index.fields.push_back(dao_call([&] { return column->name(); }));
      tk_log(1, "got index field: %s", index.fields.back());
    }
    add_index(index);
  }
  tk_log(2, "End of dao_recordset::init_indexes");
}

udb_record* dao_recordset::get_item() {
  tk_log(1, "dao_recordset::get_item");
  if (!recordset) TK_ASSERT_SITE("dao_recs", 114);
  ole_com_ptr<wb_fields> fields = dao_non_null(dao_call([&] { return recordset->fields(); }));
  // The record of the previous call is reused when it reads the same engine fields: building the
  // fields anew on every row costs more than the values themselves.
  if (current && current->reads(fields.get())) {
    try {
      current->reread();
    } catch (...) {
      current.reset();  // no half-read record stays behind, as when a new one fails
      throw;
    }
    row_problem = recordset->row_problem();
    return current.get();
  }
  current.reset();
  current = std::make_unique<dao_record>(fields.get());
  row_problem = recordset->row_problem();
  return current.get();
}

std::vector<udb_row_error> dao_recordset::take_row_errors() {
  std::vector<udb_row_error> errors;
  if (!row_problem.empty()) errors.emplace_back(row_number, tk_exception(row_problem, tk_level_recoverable));
  row_problem.clear();
  return errors;
}

bool dao_recordset::is_eof() { return eof; }

void dao_recordset::next() {
  if (!recordset) TK_ASSERT_SITE("dao_recs", 149);
  dao_call([&] { recordset->move_next(); });
  ++row_number;
  read_eof();
}

void dao_recordset::prev() {
  if (!recordset) TK_ASSERT_SITE("dao_recs", 160);
  if (!dao_call([&] { return recordset->bof(); })) {
    dao_call([&] { recordset->move_previous(); });
    --row_number;
    // After a real move the cursor is no longer past the end.
    read_eof();
  }
}

void dao_recordset::reset() {
  if (!recordset) TK_ASSERT_SITE("dao_recs", 173);
  if (rec_count == 0) return;
  dao_call([&] { recordset->move_first(); });
  row_number = 1;
  read_eof();
}
