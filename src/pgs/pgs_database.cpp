#include "pgs/pgs_database.h"

#include <pqxx/pqxx>

#include "pgs/pgs_ddl.h"
#include "pgs/pgs_engine.h"
#include "pgs/pgs_exception.h"
#include "pgs/pgs_recordset.h"
#include "pgs/pgs_sql_text.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

constexpr int open_existing_tables = 8;

pgs_engine& engine() { return pgs_engine::instance(); }

std::wstring fitted(const std::wstring& name) { return tk_utf8_to_unicode(engine().object_name(name)); }

bool is_foreign_key_rule(const std::wstring& rule) {
  static const wchar_t* const rules[] = {L"ON DELETE CASCADE", L"ON DELETE RESTRICT", L"ON DELETE SET NULL",
                                         L"ON DELETE SET DEFAULT"};
  for (const wchar_t* known : rules)
    if (tk_compare_no_case(rule, known) == 0) return true;
  return false;
}

}  // namespace

// ---- pgs_base_db ---------------------------------------------------------------

pgs_base_db::pgs_base_db(const std::wstring& name, int flags) : udb_database(name, flags, true) {}

std::wstring pgs_base_db::list_name(const std::wstring& table_name) const {
  const auto dot = table_name.find(L'.');
  if (dot == std::wstring::npos) return fitted(table_name);
  return fitted(table_name.substr(0, dot)) + L"." + fitted(table_name.substr(dot + 1));
}

bool pgs_base_db::is_table_exist(const std::wstring& table_name) {
  tk_log(2, "pgs_base_db::is_table_exist(%s)", table_name);
  return udb_database::is_table_exist(list_name(table_name));
}

std::wstring pgs_base_db::make_safe_tname(const std::wstring& table, const std::wstring& schema) {
  tk_log(2, "pgs_base_db::make_safe_tname(%s,%s)", table, schema);
  return schema.empty() ? table : schema + L"." + table;
}

std::string pgs_base_db::get_safe_name(const std::wstring& table_name) const {
  tk_log(2, "pgs_base_db::get_safe_name(%s)", table_name);
  if (table_name.find(L'.') == std::wstring::npos) return "\"public\"." + engine().quote_ident(table_name);
  return engine().quote_table(table_name);
}

std::wstring pgs_base_db::get_full_name(const std::wstring& table_name) {
  tk_log(2, "pgs_base_db::get_full_name(%s)", table_name);
  if (table_name.find(L'.') == std::wstring::npos) return L"public." + table_name;
  return table_name;
}

void pgs_base_db::add_full_name1(const std::wstring& table_name) {
  tk_log(2, "pgs_base_db::add_full_name1(%s)", table_name);
  std::wstring schema = L"public";
  std::wstring table = table_name;
  const auto dot = table_name.find(L'.');
  if (dot == std::wstring::npos) {
    tk_log(1, "Got 'pure' table form");
  } else {
    tk_log(1, "Got schema.table form");
    schema = table_name.substr(0, dot);
    table = table_name.substr(dot + 1);
  }
  schema = fitted(schema);
  table = fitted(table);
  const std::wstring full = schema + L"." + table;
  tk_log(1, "full_tab_name=%s", full);
  tables.push_back(full);
  tk_log(1, "sname=%s, tname=%s", schema, table);
  full_names.emplace(full, std::make_pair(schema, table));
}

void pgs_base_db::add_full_name2(const std::wstring& schema, const std::wstring& table) {
  tk_log(2, "pgs_base_db::add_full_name2(%s,%s)", schema, table);
  std::wstring full = pattern_mode || schema.empty() ? table : schema + L"." + table;
  full = pgs_fold_name(full, engine().is_case_sensitive());
  tk_log(1, "full_name=%s", full);
  tables.push_back(full);
  tk_log(1, "sname=%s, tname=%s", schema, table);
  full_names.emplace(full, std::make_pair(schema, table));
}

// ---- pgs_database ----------------------------------------------------------------

pgs_database::pgs_database(const std::wstring& name, const std::wstring& pattern, int flags)
    : pgs_base_db(name, flags), schema_pattern(pattern) {
  tk_log(2, "pgs_database::ctor2(%s,%s)", name, pattern);
  pattern_mode = !schema_pattern.empty();
  load_table_list();
}

pgs_database::~pgs_database() { tk_log(2, "pgs_database::dtor"); }

void pgs_database::load_table_list() {
  tk_log(2, "pgs_database::get_schema_info #2");
  tk_log(2, "schema_pattern=%s", schema_pattern);
  std::string sql = "SELECT schemaname, tablename FROM pg_tables WHERE schemaname";
  sql += pattern_mode ? " = " + pgs_sql_literal(engine().object_name(schema_pattern))
                      : std::string(" NOT IN ('information_schema')");
  try {
    pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "get_tables");
    for (const auto& row : tx.exec(sql))
      add_full_name2(tk_utf8_to_unicode(row[0].c_str()), tk_utf8_to_unicode(row[1].c_str()));
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception(std::string(), e);
  }
}

void pgs_database::get_schema_info(std::vector<std::wstring>& schema_names) {
  tk_log(2, "pgs_database::get_schema_info #1");
  try {
    pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "get_schemas");
    for (const auto& row : tx.exec("SELECT DISTINCT schemaname FROM pg_tables WHERE schemaname NOT IN "
                                   "('information_schema')")) {
      tk_log(2, "got schema: %s", row[0].c_str());
      schema_names.push_back(tk_utf8_to_unicode(row[0].c_str()));
    }
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception(std::string(), e);
  }
}

std::pair<std::wstring, std::wstring> pgs_database::split_name(const std::wstring& name) const {
  tk_log(2, "pgs_database::split_name(%s)", name);
  std::wstring rest = name;
  std::pair<std::wstring, std::wstring> parts;
  bool composed = false;
  if (name.size() >= 2 && name.front() == L'"' && name.back() == L'"') {
    tk_log(1, "Got quoted name");
    rest = name.substr(1, name.size() - 2);
    const auto p = rest.find(L"\".\"");
    if (p != std::wstring::npos) {
      parts = {rest.substr(0, p), rest.substr(p + 3)};
      composed = true;
    }
  } else if (const auto dot = name.find(L'.'); dot != std::wstring::npos) {
    parts = {name.substr(0, dot), name.substr(dot + 1)};
    composed = true;
  }
  if (composed) {
    tk_log(1, "Getting schema for composed name");
  } else {
    tk_log(1, "Prepare default schema for simple name (table only)");
    parts = {schema_pattern.empty() ? std::wstring(L"public") : schema_pattern, rest};
  }
  tk_log(2, "schema=%s", parts.first);
  return parts;
}

void pgs_database::create_schema(const std::wstring& schema_name) {
  tk_log(2, "pgs_database::create_schema(%s)", schema_name);
  if (tk_compare_no_case(schema_name, std::wstring(L"public")) == 0) {
    tk_log(2, "Skip 'public' schema");
    return;
  }
  try {
    pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "run_query");
    tx.exec("CREATE SCHEMA IF NOT EXISTS " + engine().quote_ident(schema_name));
    tx.commit();
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception("Cannot create schema:", e);
  }
}

void pgs_database::build_table(const std::wstring& table_name, const udb_schema& fields,
                               const udb_indexes& index_list) {
  tk_log(2, "Table '%s' is not exist, create it", table_name);
  pgs_schema_initializer schema(table_name, fields, index_list);
  schema.build_schema();
  add_full_name1(table_name);
  if (!index_list.empty()) {
    pgs_indexes_initializer indexes(table_name, schema.safe_columns(), index_list, schema.column_map());
    indexes.build_indexes();
  } else {
    tk_log(2, "indexes.size()=0");
  }
  names_map.add_fn_map(table_name, schema.column_map());
}

std::unique_ptr<udb_recordset> pgs_database::create_table(const std::wstring& table_name, const udb_schema& fields,
                                                          const udb_indexes& index_list) {
  tk_log(2, "pgs_database::create_table(%s)", table_name);
  if (is_table_exist(table_name)) {
    if (!(flags & open_existing_tables)) TK_ASSERT_SITE("pgs_db", 460);
    tk_log(2, "Table '%s' exists, just open it", table_name);
    return get_table(table_name, open_existing_tables);
  }
  build_table(table_name, fields, index_list);
  return get_table(table_name, 2);
}

std::unique_ptr<udb_recordset> pgs_database::create_table_with_rows(const std::wstring& table_name,
                                                                    const udb_schema& fields, bool replace_existing) {
  tk_log(2, "pgs_database::create_table_with_rows(%s, %d)", table_name, replace_existing ? 1 : 0);
  if (!replace_existing && is_table_exist(table_name)) return create_table(table_name, fields, udb_indexes());
  const pgs_schema_initializer schema(table_name, fields, udb_indexes());
  // The old table goes in the transaction that makes the new one: rolled back, it stays as it was.
  std::string statement = replace_existing ? drop_table_statement(table_name) + ";\n" : std::string();
  statement += schema.create_table_statement();
  return std::make_unique<pgs_recordset>(
      *this, table_name, relationships,
      pgs_table_creation{std::move(statement), schema.column_map(), replace_existing ? 2u : 1u,
                         schema.column_definitions()});
}

const std::vector<pgs_column_answer>* pgs_database::made_columns(const std::string& definitions) const {
  const auto found = made_column_answers.find(definitions);
  return found == made_column_answers.end() ? nullptr : &found->second;
}

void pgs_database::remember_made_columns(const std::string& definitions, std::vector<pgs_column_answer> answers) {
  // Every worksheet of a workbook may bring its own definitions: a few hundred are kept at most.
  if (made_column_answers.size() >= 256) made_column_answers.clear();
  made_column_answers[definitions] = std::move(answers);
}

std::string pgs_database::drop_table_statement(const std::wstring& table_name) const {
  return "DROP TABLE IF EXISTS " + get_safe_name(pgs_fold_name(table_name, engine().is_case_sensitive())) + " CASCADE";
}

void pgs_database::list_made_table(const std::wstring& table_name,
                                   const std::map<std::wstring, std::wstring>& column_map) {
  // A table made in place of one of its name is listed once.
  udb_database::delete_tab(list_name(get_full_name(pgs_fold_name(table_name, engine().is_case_sensitive()))));
  add_full_name1(table_name);
  names_map.add_fn_map(table_name, column_map);
}

bool pgs_database::delete_tab(const std::wstring& table_name) {
  tk_log(2, "pgs_database::delete_tab(%s)", table_name);
  std::wstring lowered = pgs_fold_name(table_name, engine().is_case_sensitive());
  tk_log(1, "'case sensitive' is OFF, make table name lowercase");
  const std::string sql = drop_table_statement(table_name);
  try {
    pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "drop_table");
    tx.exec(sql);
    tx.commit();
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception("Cannot drop table: " + tk_to_utf8(lowered), e, false);
  }
  return udb_database::delete_tab(list_name(get_full_name(lowered)));
}

void pgs_database::query(const std::wstring& sql) {
  tk_log(2, "pgs_database::query(%s)", sql);
  try {
    pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "run_query");
    tx.exec(tk_to_utf8(sql));
    tx.commit();
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception(std::string(), e);
  }
}

bool pgs_database::test_query(const std::wstring& sql) {
  tk_log(2, "pgs_database::test_query(%s)", sql);
  try {
    // Never committed: the statement's effects are rolled back with the transaction.
    pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "init_indexes");
    tx.exec(tk_to_utf8(sql));
    return true;
  } catch (...) {
    return false;
  }
}

void pgs_database::create_relationships(const udb_relationships& list) {
  tk_log(2, "pgs_database::create_relationships");
  for (const auto& relationship : list) {
    tk_log(2, "Processing '%s'", relationship.name);
    const std::wstring t = names_map.get_tn_mapped_name(relationship.table, true);
    const std::wstring r = names_map.get_tn_mapped_name(relationship.ref_table, true);
    const auto column_list = [&](const std::wstring& table, const std::vector<std::wstring>& columns) {
      std::string text;
      for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i) text += ", ";
        text += engine().quote_ident(names_map.get_fn_mapped_name(table, columns[i], true));
      }
      return text;
    };
    std::string sql = "ALTER TABLE " + get_safe_name(t) + " ADD CONSTRAINT " + engine().quote_ident(relationship.name) +
                      " FOREIGN KEY (" + column_list(t, relationship.columns) + ") REFERENCES " + get_safe_name(r) +
                      "(" + column_list(r, relationship.ref_columns) + ")";
    const std::wstring rule = tk_trim(relationship.rule);
    if (!rule.empty()) {
      // The rule is written into the statement as it stands: only the known clauses pass.
      if (!is_foreign_key_rule(rule)) throw pgs_exception("Cannot create foreign key:unknown rule " + tk_to_utf8(rule));
      sql += " " + tk_to_utf8(rule);
    }
    try {
      pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "run_query");
      tx.exec(sql);
      tx.commit();
    } catch (const pqxx::pqxx_exception& e) {
      throw pgs_exception("Cannot create foreign key:", e);
    }
  }
}
