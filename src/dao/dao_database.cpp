#include "dao/dao_database.h"

#include "dao/dao_exception.h"
#include "dao/dao_record.h"
#include "dao/dao_recordset.h"
#include "dao/dao_table_builder.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

dao_fkey_error_reporter& fkey_error_reporter() {
  static dao_fkey_error_reporter reporter;
  return reporter;
}

int read_options(int mode) { return (mode & 1) ? wb_open_read_only : wb_open_append_only; }

bool is_skipped_table(long attributes) { return (attributes & dao_attr_linked) || (attributes & dao_attr_system); }

/// Closes a helper cursor; a failure to close is no failure of the read it served.
void close_quietly(ole_com_ptr<wb_recordset>& rs) {
  if (!rs) return;
  try {
    rs->close();
  } catch (const std::exception& e) {
    tk_log(2, "Close failed: %s", std::string(e.what()));
  }
  rs.release();
}

/// The query text without trailing blanks and ';', so it can be nested in the count wrapper.
std::wstring nestable(std::wstring sql) {
  while (!sql.empty() && (sql.back() == L';' || sql.back() == L' ' || sql.back() == L'\t' || sql.back() == L'\r' ||
                          sql.back() == L'\n'))
    sql.pop_back();
  return sql;
}

}  // namespace

dao_fkey_error_reporter dao_set_fkey_error_reporter(dao_fkey_error_reporter reporter) {
  return std::exchange(fkey_error_reporter(), std::move(reporter));
}

dao_database::dao_database(const std::wstring& name, ole_com_ptr<wb_database> db, int mode)
    : udb_database(name, mode, false), database(std::move(db)) {
  tk_log(2, "dao_database::dao_database( %s, mode=%d )", name, mode);
  if (!database) TK_ASSERT_SITE("dao_db", 59);
  tabledefs = dao_non_null(dao_call([&] { return database->tabledefs(); }));
  const int count = dao_call([&] { return tabledefs->count(); });
  for (int i = 0; i < count; ++i) {
    ole_com_ptr<wb_tabledef> table = dao_non_null(dao_call([&] { return tabledefs->item(i); }));
    std::wstring table_name;
    long attributes = 0;
    dao_call([&] {
      table_name = table->name();
      attributes = table->attributes();
    });
    if (attributes & dao_attr_linked)
      tk_log(2, "Skip linked table '%s'", table_name);
    else if (attributes & dao_attr_system)
      tk_log(2, "Skip system table '%s'", table_name);
    else {
      tk_log(2, "Got table: '%s'", table_name);
      tables.push_back(table_name);
      listed.push_back({table_name, i});
    }
  }
  tk_log(2, "Right before extracting queries/vews");
  if (!(mode & dao_mode_no_views)) {
    tk_log(2, "Step #1: (a_mode & no_views)=%d", 0);
    try {
      init_views();
    } catch (const dao_exception& e) {
      tk_log(2, "ERROR1:\n%s", e.message());
    }
  }
  tk_log(2, "Right before extracting FKs");
  if ((mode & (dao_mode_no_fkeys | dao_mode_no_fkeys2)) == 0) {
    try {
      init_fkeys();
    } catch (const dao_exception& e) {
      tk_log(2, "ERROR2:\n%s", e.message());
      if (fkey_error_reporter()) fkey_error_reporter()(e, this->name);
    }
  }
  tk_log(2, "dao_database::ctor - END");
}

dao_database::~dao_database() {
  tk_log(2, "dao_database::~dao_database");
  try {
    if (database) database->close();
  } catch (const std::exception& e) {
    tk_log(2, "dao_database: Close failed: %s", std::string(e.what()));
  }
  tabledefs.release();
  querydefs.release();
  database.release();
}

ole_com_ptr<wb_recordset> dao_database::open_query(const std::wstring& sql, int options) {
  ole_com_ptr<wb_querydef> query = dao_non_null(dao_call([&] { return database->create_querydef(L"", sql); }));
  return dao_non_null(dao_call([&] { return query->open_recordset(wb_open_dynaset, options); }));
}

std::unique_ptr<udb_recordset> dao_database::get_table(const std::wstring& table_name, int mode) {
  tk_log(2, "dao_database::get_table(%s, %d)", table_name, mode);
  if (!is_table_exist(table_name)) TK_ASSERT_SITE("dao_db", 288);
  const std::wstring sql = L"SELECT * FROM [" + table_name + L"]";
  const int options = read_options(mode);
  if (!tabledefs) TK_ASSERT_SITE("dao_db", 298);
  ole_com_ptr<wb_tabledef> table = dao_non_null(dao_call([&] { return tabledefs->item(table_name); }));
  tk_log(1, "Right after tdfs->getItem");
  if (is_skipped_table(dao_call([&] { return table->attributes(); }))) return nullptr;
  ole_com_ptr<wb_querydef> query = dao_non_null(dao_call([&] { return database->create_querydef(L"", sql); }));
  tk_log(1, "Right after src->CreateQueryDef");
  ole_com_ptr<wb_recordset> rs =
      dao_non_null(dao_call([&] { return query->open_recordset(wb_open_dynaset, options); }));
  return std::make_unique<dao_recordset>(table_name, rs.get(), table.get());
}

std::unique_ptr<udb_recordset> dao_database::get_table_at(int position, int mode) {
  tk_log(2, "dao_database::get_table_at(%d, %d)", position, mode);
  if (!tabledefs) TK_ASSERT_SITE("dao_db", 298);
  ole_com_ptr<wb_tabledef> table = dao_non_null(dao_call([&] { return tabledefs->item(position); }));
  const std::wstring table_name = dao_call([&] { return table->name(); });
  if (is_skipped_table(dao_call([&] { return table->attributes(); }))) return nullptr;
  ole_com_ptr<wb_recordset> rs =
      dao_non_null(dao_call([&] { return table->open_recordset(wb_open_dynaset, read_options(mode)); }));
  return std::make_unique<dao_recordset>(table_name, rs.get(), table.get());
}

std::vector<bool> dao_database::type_tables(const std::vector<int>& positions) {
  tk_log(2, "dao_database::type_tables(%d tables)", static_cast<int>(positions.size()));
  return dao_call([&] { return database->type_tables(positions); });
}

bool dao_database::type_tables_until_readable(const std::vector<int>& positions,
                                              const std::function<void()>& meanwhile) {
  tk_log(2, "dao_database::type_tables_until_readable(%d tables)", static_cast<int>(positions.size()));
  return dao_call([&] { return database->type_tables_until_readable(positions, meanwhile); });
}

std::unique_ptr<udb_recordset> dao_database::get_query(const std::wstring& query_name, const std::wstring& sql,
                                                       int mode) {
  tk_log(2, "dao_database::get_query(%s, %s, %d)", query_name, sql, mode);
  const int options = read_options(mode);
  ole_com_ptr<wb_querydef> query = dao_non_null(dao_call([&] { return database->create_querydef(L"", sql); }));
  const unsigned count = get_records_count(sql);
  ole_com_ptr<wb_recordset> rs =
      dao_non_null(dao_call([&] { return query->open_recordset(wb_open_dynaset, options); }));
  return std::make_unique<dao_recordset>(query_name, sql, rs.get(), query.get(), static_cast<int>(count));
}

unsigned dao_database::get_records_count(const std::wstring& sql) {
  const std::wstring wrapper = L"select count(*) from (" + nestable(sql) + L")";
  ole_com_ptr<wb_recordset> rs = open_query(wrapper, wb_open_read_only);
  ole_variant value;
  try {
    dao_call([&] { rs->move_first(); });
    ole_com_ptr<wb_fields> fields = dao_non_null(dao_call([&] { return rs->fields(); }));
    ole_com_ptr<wb_field> field = dao_non_null(dao_call([&] { return fields->item(0); }));
    value = dao_call([&] { return field->value(); });
  } catch (...) {
    close_quietly(rs);
    throw;
  }
  close_quietly(rs);
  value.change_type(VT_UI4);
  return static_cast<unsigned>(value.var().ui4);
}

bool dao_database::test_query(const std::wstring& sql) {
  tk_log(2, "dao_database::test_query(%s)", sql);
  try {
    ole_com_ptr<wb_recordset> rs = open_query(sql, wb_open_deny_write);
    close_quietly(rs);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool dao_database::delete_tab(const std::wstring& table_name) {
  tk_log(1, "dao_database::delete_tab(%s)", table_name);
  if (flags & dao_mode_read_only) TK_ASSERT_SITE("dao_db", 196);
  if (!is_table_exist(table_name)) TK_ASSERT_SITE("dao_db", 197);
  dao_call([&] { tabledefs->remove(table_name); });
  return udb_database::delete_tab(table_name);
}

std::unique_ptr<udb_recordset> dao_database::create_table(const std::wstring& table_name, const udb_schema& fields,
                                                          const udb_indexes& index_list) {
  tk_log(2, "dao_database::create_table (%s)", table_name);
  if (flags & dao_mode_read_only) TK_ASSERT_SITE("dao_db", 150);
  if (is_table_exist(table_name)) {
    if (flags & dao_mode_open_existing) return get_table(table_name, 8);
    TK_ASSERT_SITE("dao_db", 156);
  }
  ole_com_ptr<wb_tabledef> table =
      dao_non_null(dao_call([&] { return database->create_tabledef(table_name, 0, L"", L""); }));
  dao_build_table(table.get(), fields, index_list);
  tk_log(1, "Right before Append");
  dao_call([&] { tabledefs->append(table.get()); });
  tables.push_back(table_name);
  return get_table(table_name, 2);
}

void dao_database::init_views() {
  tk_log(2, "dao_database::init_views");
  querydefs = dao_non_null(dao_call([&] { return database->querydefs(); }));
  const int count = static_cast<short>(dao_call([&] { return querydefs->count(); }));
  tk_log(2, "Got %d queries", count);
  for (int i = 0; i < count; ++i) {
    ole_com_ptr<wb_querydef> query = dao_non_null(dao_call([&] { return querydefs->item(i); }));
    const std::wstring view_name = dao_call([&] { return query->name(); });
    tk_log(2, "Got query name: '%s'", view_name);
    const std::wstring sql = dao_call([&] { return query->sql(); });
    tk_log(2, "Got query SQL: '%s'", sql);
    std::wstring text;
    if (dao_view_text(sql, text)) views.emplace(view_name, text);  // an existing name keeps its text
  }
}

void dao_database::init_fkeys() {
  tk_log(2, "dao_database::init_fkeys");
  ole_com_ptr<wb_recordset> rs = open_query(
      L"SELECT szRelationship, szColumn, szObject, szReferencedObject, szReferencedColumn, grbit FROM "
      L"MSysRelationships ORDER BY szRelationship",
      wb_open_read_only);
  struct current_key {
    std::wstring name, table, ref_table;
    std::vector<std::wstring> columns, ref_columns;
  } key;
  auto close_key = [&] {
    udb_relationship r(key.table, key.ref_table, key.columns, key.ref_columns, L"");
    r.name = relationships.gen_relship_name(r);
    relationships.push_back(std::move(r));
  };
  try {
    bool at_end = dao_call([&] { return rs->eof(); });
    if (!at_end) dao_call([&] { rs->move_first(); });
    while (!at_end) {
      tk_log(1, "Reading next record from MSysRelationships");
      ole_com_ptr<wb_fields> fields = dao_non_null(dao_call([&] { return rs->fields(); }));
      const dao_record row(fields.get());
      if (row.size() != 6) TK_ASSERT_SITE("dao_db", 394);
      const std::wstring rel = row[0].to_wstring(), column = row[1].to_wstring(), object = row[2].to_wstring(),
                         ref_object = row[3].to_wstring(), ref_column = row[4].to_wstring();
      if (!key.name.empty() && key.name == rel) {
        tk_log(2, "'%s' is a multi-column FK", rel);
      } else {
        if (!key.name.empty()) close_key();
        key = current_key{rel, object, ref_object, {}, {}};
      }
      key.columns.push_back(column);
      key.ref_columns.push_back(ref_column);
      tk_log(2, "rels_name=%s, src=%s.%s, dest=%s.%s", rel, object, column, ref_object, ref_column);
      dao_call([&] { rs->move_next(); });
      at_end = dao_call([&] { return rs->eof(); });
    }
    if (!key.name.empty()) close_key();
  } catch (...) {
    close_quietly(rs);
    throw;
  }
  close_quietly(rs);
}
