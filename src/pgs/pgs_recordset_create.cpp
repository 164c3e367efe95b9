// pgs_recordset: a table made with its rows. The CREATE TABLE runs in the transaction of the
// table's first COPY, and the catalogue is asked for the new table's columns there: a worksheet
// costs one transaction, and one whose rows are rolled back (a stop, a failure) leaves no table.
#include <tuple>

#include <pqxx/cursor>
#include <pqxx/except>
#include <pqxx/result>
#include <pqxx/transaction>

#include "pgs/pgs_copy_stream.h"
#include "pgs/pgs_database.h"
#include "pgs/pgs_engine.h"
#include "pgs/pgs_exception.h"
#include "pgs/pgs_recordset.h"
#include "tk/tk_logger.h"

namespace {

pgs_engine& engine() { return pgs_engine::instance(); }

}  // namespace

pgs_recordset::pgs_recordset(pgs_database& database, const std::wstring& name, udb_relationships& relationships_,
                             pgs_table_creation creation_)
    : udb_recordset(name, true),
      relationships(&relationships_),
      owner_db(&database),
      creation(std::make_unique<pgs_table_creation>(std::move(creation_))),
      segment_bytes(pgs_copy_default_segment_bytes) {
  tk_log(2, "pgs_recordset::pgs_recordset3(%s)", name);
  std::tie(s_name, t_name) = database.split_name(name);
  // A table about to be made holds no rows, keys or indexes.
  rec_count = 0;
}

void pgs_recordset::create_in(pqxx::transaction_base& tx, const pgs_table_creation& made) {
  tk_log(2, "Build table query:\n%s", made.statement);
  try {
    tx.exec(made.statement);
  } catch (const pqxx::pqxx_exception& e) {
    // Not a pgs_exception: the worksheet fails, not one of its records.
    throw tk_exception(pgs_exception("Cannot create table: " + made.statement + ". ", e).message(),
                       tk_level_recoverable);
  }
  try {
    std::vector<pgs_column_answer> answers = column_answers(tx);
    take_columns(answers);
    if (!made.column_definitions.empty()) owner_db->remember_made_columns(made.column_definitions, std::move(answers));
  } catch (const pqxx::pqxx_exception& e) {
    throw tk_exception(pgs_error_text(e), tk_level_recoverable);
  }
}

std::unique_ptr<pgs_copy_stream> pgs_recordset::open_stream_making_table() {
  // Tried once: after a failure the worksheet ends, and nothing makes the table again.
  uncommitted_creation = std::move(creation);
  const pgs_table_creation& made = *uncommitted_creation;
  pgs_copy_stream::prologue first;
  const std::vector<pgs_column_answer>* known =
      made.column_definitions.empty() ? nullptr : owner_db->made_columns(made.column_definitions);
  if (known) {
    // Columns already described for the same definitions: the creation goes with the first COPY.
    tk_log(2, "Build table query:\n%s", made.statement);
    take_columns(*known);
    first.statements = made.statement;
    first.statement_count = made.statement_count;
    first.failure_text = [statement = made.statement](const std::string& message) {
      return "Cannot create table: " + statement + ". " + message;
    };
  } else {
    first.run = [&](pqxx::dbtransaction& tx) { create_in(tx, made); };
  }
  return std::make_unique<pgs_copy_stream>(engine().connection(), qualified_name(), std::vector<std::string>(),
                                           engine().object_name(t_name), segment_bytes, std::move(first));
}

void pgs_recordset::make_table_alone() {
  const std::unique_ptr<pgs_table_creation> made = std::move(creation);
  try {
    pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "build_schema");
    create_in(tx, *made);
    tx.commit();
  } catch (const pqxx::pqxx_exception& e) {
    throw tk_exception(pgs_error_text(e), tk_level_recoverable);
  }
  owner_db->list_made_table(table_name, made->column_map);
}

void pgs_recordset::list_created_table() {
  const std::unique_ptr<pgs_table_creation> made = std::move(uncommitted_creation);
  owner_db->list_made_table(table_name, made->column_map);
}
