// pgs_recordset: writing rows (COPY or INSERT), rewriting them by key, and the end of writing.
#include <pqxx/connection>
#include <pqxx/cursor>
#include <pqxx/result>
#include <pqxx/transaction>

#include "pgs/pgs_copy_stream.h"
#include "pgs/pgs_database.h"
#include "pgs/pgs_engine.h"
#include "pgs/pgs_exception.h"
#include "pgs/pgs_recordset.h"
#include "pgs/pgs_sql_text.h"
#include "pgs/pgs_sqlstate.h"
#include "pgs/pgs_util.h"
#include "pgs/pgs_validator.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

const char* const does_not_conform = "The structure of data source does not conform to the destination table.";

pgs_engine& engine() { return pgs_engine::instance(); }

[[noreturn]] void structure_error() { throw tk_exception(std::string(does_not_conform), tk_level_recoverable); }

}  // namespace

int pgs_recordset::column_for_field(const std::wstring& field_name, pgs_fn_validator& validator,
                                    bool bookkeeping) const {
  std::wstring name = pgs_fold_name(field_name, engine().is_case_sensitive());
  if (!validator.is_acceptable(name)) name = validator.get_safe_name(name);
  tk_log(1, "Got safe-name for field: '%s'", name);
  int found = -1;
  for (std::size_t i = 0; i < schema.size(); ++i) {
    if (tk_compare_no_case(schema[i].name, name) == 0) {
      found = static_cast<int>(i);
      break;
    }
  }
  if (bookkeeping) {
    // A later field of the same record must not settle on a name already taken, as when the
    // table's columns were named.
    if (name != field_name) {
      tk_log(2, "Store generated field's safe-name '%s'", name);
      validator.add_existing_name(name);
    }
    validator.restricted.push_back(name);
  }
  return found;
}

const std::vector<pgs_copy_pair>& pgs_recordset::pairing_for(const udb_record& record) {
  bool same = !paired_names.empty() && paired_names.size() == record.size();
  for (std::size_t i = 0; same && i < record.size(); ++i) same = paired_names[i] == record[i].name;
  if (same) return pairing;

  std::vector<pgs_copy_pair> pairs;
  if (!by_name) {
    // A table made for this source: its columns are the record's fields, in the same order.
    if (record.size() != schema.size() || schema.empty()) {
      tk_log(1, "schema.size=%d, r.size=%d", static_cast<int>(schema.size()), static_cast<int>(record.size()));
      structure_error();
    }
    pairs = pgs_positional_pairing(schema);
  } else {
    // A table that existed before: fields go to the columns their names stand for; the other
    // columns take their defaults.
    pgs_fn_validator validator(record);
    std::vector<bool> used(schema.size(), false);
    for (std::size_t i = 0; i < record.size(); ++i) {
      const int column = column_for_field(record[i].name, validator, true);
      if (column < 0 || used[static_cast<std::size_t>(column)]) {
        tk_log(1, "Field %s not found in the schema", record[i].name);
        structure_error();
      }
      used[static_cast<std::size_t>(column)] = true;
      pairs.push_back({i, static_cast<std::size_t>(column)});
    }
    if (pairs.empty()) structure_error();
  }
  // A pairing change in the middle of a stream would need another column list: refuse it.
  if (copy && pairs != pairing) structure_error();
  pairing = std::move(pairs);
  paired_names.clear();
  for (const auto& field : record) paired_names.push_back(field->name);
  return pairing;
}

void pgs_recordset::append_record(udb_record& record) {
  tk_log(1, "pgs_recordset::append_record");
  tk_log(1, "get_name()=%s", table_name);
  ++records_appended;
  if (engine().is_fast_append_enabled())
    fast_append(record);
  else
    slow_append(record);
}

void pgs_recordset::fast_append(udb_record& record) {
  tk_log(1, "pgs_recordset::fast_append");
  // A table not made yet is made by the stream, which reads its columns before they are paired.
  std::unique_ptr<pgs_copy_stream> making_table = !copy && creation ? open_stream_making_table() : nullptr;
  const std::vector<pgs_copy_pair>& pairs = pairing_for(record);
  if (!copy) {
    std::vector<std::string> columns;
    if (by_name)
      for (const auto& pair : pairs) columns.push_back(pgs_quote_raw(tk_to_utf8(schema[pair.column].name)));
    copy = making_table ? std::move(making_table)
                        : std::make_unique<pgs_copy_stream>(engine().connection(), qualified_name(), std::move(columns),
                                                            engine().object_name(t_name), segment_bytes);
    copy->set_refusal_sink(refused_row_sink);
    line_builder = std::make_unique<pgs_copy_line_builder>(pairs);
    finished = false;
  }
  tk_log(1, "schema.size=%d, r.size=%d", static_cast<int>(schema.size()), static_cast<int>(record.size()));
  line.clear();
  nul_columns.clear();
  line_builder->append(line, record, schema, &nul_columns);
  if (!nul_columns.empty()) {
    // The row lands without the character; its report goes with the row's number, after every
    // refused row before it (rare rows: ending the segment here costs one round trip).
    copy->settle();
    for (auto& e : copy->take_row_errors()) row_errors.push_back(std::move(e));
    for (const std::size_t column : nul_columns) add_row_error(records_appended, pgs_nul_left_out(schema[column].name));
  }
  copy->write(line, records_appended);
  tk_log(1, "pgs_recordset::fast_append - END");
}

void pgs_recordset::slow_append(udb_record& record) {
  tk_log(1, "pgs_recordset::slow_append");
  const int number = records_appended > 0 ? records_appended : 1;
  if (creation) make_table_alone();
  if (!by_name && record.size() < schema.size()) TK_ASSERT_SITE("pgs_recs", 848);
  tk_log(1, "Size of schema is less or equal to the size of record");
  const std::vector<pgs_copy_pair>& pairs = pairing_for(record);
  std::wstring columns = L"INSERT INTO " + tk_utf8_to_unicode(qualified_name()) + L"(";
  std::wstring values = L" VALUES (";
  bool first = true;
  for (const auto& pair : pairs) {
    const udb_field& field = record[pair.field];
    const t_ftd& column = schema[pair.column];
    tk_log(1, "Processing field '%s': type=%d, size=%d", field.name, static_cast<int>(field.get_type()), field.size);
    if (!first) {
      columns += L", ";
      values += L", ";
    }
    first = false;
    columns += tk_utf8_to_unicode(pgs_quote_raw(tk_to_utf8(column.name)));
    values += to_pgs_str(field.to_wstring(), field.get_type(), column.reserved, pgs_sql_mode);
  }
  const std::wstring statement = columns + L")" + values + L")";
  tk_log(2, "Run SQL query: %s", statement);
  try {
    owner_db->query(statement);
  } catch (const pgs_exception& e) {
    tk_log(1, "Got pqxx::pqxx_exception");
    tk_log(3, "%s", e.message());
    if (!pgs_is_row_error(e.sqlstate())) throw tk_exception(e.message(), tk_level_recoverable);
    add_row_error(number, e);
  }
}

void pgs_recordset::update(udb_record& record) {
  tk_log(1, "pgs_recordset::update(n_u_index=%d)", n_u_index);
  if (n_u_index < 0) {
    tk_log(1, "There's no primary/unique key");
    return;
  }
  if (static_cast<std::size_t>(n_u_index) >= indexes.size()) TK_ASSERT_SITE("pgs_recs", 1056);
  const std::vector<std::wstring>& key = indexes[static_cast<std::size_t>(n_u_index)].fields;
  std::wstring set_list;
  std::wstring where_list;
  std::wstring statement = L"UPDATE " + tk_utf8_to_unicode(qualified_name()) + L" SET ";
  pgs_fn_validator validator(record);
  for (std::size_t i = 0; i < record.size(); ++i) {
    const udb_field& field = record[i];
    const int index = column_for_field(field.name, validator, true);
    if (index < 0) {
      tk_log(1, "Field '%s' is not found in schema", field.name);
      continue;
    }
    const std::wstring& column = schema[static_cast<std::size_t>(index)].name;
    const std::wstring term = tk_utf8_to_unicode(pgs_quote_raw(tk_to_utf8(column))) + L"=" +
                              to_pgs_str(field.to_wstring(), field.get_type(), 1, pgs_sql_mode);
    bool in_key = false;
    for (const auto& name : key) in_key = in_key || name == column;
    if (in_key) {
      tk_log(1, "Field %s is a part of UKey", column);
      if (!where_list.empty()) where_list += L" AND ";
      where_list += term;
    } else {
      tk_log(1, "Field %s is NOT a part of UKey", column);
      if (!set_list.empty()) set_list += L", ";
      set_list += term;
    }
  }
  statement += set_list + L" WHERE " + where_list;
  tk_log(2, "UPDATE QUERY: %s", statement);
  if (where_list.empty()) {
    tk_log(1, "Missing primary/unique key");
    return;
  }
  if (set_list.empty()) return;  // nothing to change; "SET  WHERE" is no statement
  try {
    owner_db->query(statement);
  } catch (const std::exception& e) {
    tk_log(2, "UPDATE failed: %s", e.what());
  }
}

void pgs_recordset::add_row_error(int record_number, const tk_exception& error) {
  if (refused_row_sink)
    refused_row_sink(udb_row_error(record_number, error));
  else
    row_errors.emplace_back(record_number, error);
}

void pgs_recordset::finish() {
  tk_log(1, "pgs_recordset::finish");
  if (finished) return;
  finished = true;
  if (!copy) {
    if (creation) make_table_alone();
    committed = true;
    return;
  }
  std::unique_ptr<pgs_copy_stream> stream = std::move(copy);
  // Also when the stream's end throws (a sink that ended the writing at a refused row).
  struct collect {
    pgs_recordset& self;
    pgs_copy_stream& stream;
    ~collect() {
      for (auto& e : stream.take_row_errors()) self.row_errors.push_back(std::move(e));
      self.committed = stream.is_committed();
      self.stored = stream.lines_taken();
    }
  } collector{*this, *stream};
  stream->finish();
  if (uncommitted_creation && !stream->is_broken()) list_created_table();
}

void pgs_recordset::abandon() noexcept {
  tk_log(2, "pgs_recordset::abandon");
  finished = true;
  creation.reset();
  try {
    // The stream's end rolls back its transaction, with the table it made or replaced.
    copy.reset();
    line_builder.reset();
  } catch (...) {
    tk_log(3, "ERROR: %s", "abandoning the rows of the table failed");
  }
}

std::vector<udb_row_error> pgs_recordset::take_row_errors() {
  if (copy)
    for (auto& e : copy->take_row_errors()) row_errors.push_back(std::move(e));
  std::vector<udb_row_error> taken;
  taken.swap(row_errors);
  return taken;
}

void pgs_recordset::finish_quietly() noexcept {
  try {
    finish();
  } catch (const std::exception& e) {
    tk_log(3, "ERROR: %s", e.what());
  } catch (...) {
    tk_log(3, "ERROR: %s", "unknown failure at the end of writing");
  }
  try {
    for (const auto& e : take_row_errors()) tk_log(3, "ERROR: record #%d: %s", e.record_number, e.error.message());
  } catch (...) {
  }
}

pgs_recordset::~pgs_recordset() {
  tk_log(1, "pgs_recordset::~pgs_recordset");
  creation.reset();  // a table never written to is not made on the way out
  finish_quietly();
  try {
    cursor.reset();
    read_trans.reset();
  } catch (...) {
  }
  tk_log(1, "pgs_recordset::~pgs_recordset - END");
}
