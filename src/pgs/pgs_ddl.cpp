#include "pgs/pgs_ddl.h"

#include <memory>
#include <pqxx/pqxx>

#include "pgs/pgs_engine.h"
#include "pgs/pgs_exception.h"
#include "pgs/pgs_util.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"
#include "udb/udb_custom_conversion.h"

namespace {

bool is_text_or_binary(VARTYPE vt) {
  return vt == VT_BSTR || ole_is_binary(vt);
}

bool is_unbounded(const t_ftd& column) {
  return column.size == 0 || column.size > static_cast<std::uint32_t>(pgs_max_varchar);
}

void run_in_transaction(const std::string& statement, const char* name) {
  pqxx::transaction<pqxx::read_committed> tx(pgs_engine::instance().connection(), name);
  tx.exec(statement);
  tx.commit();
}

}  // namespace

std::wstring pgs_get_mapped_name(const pgs_names_map& map, const std::wstring& name, bool exact) {
  tk_log(1, "t_names_map::get_mapped_name(%s)", name);
  for (const auto& [source, safe] : map) {
    if (exact ? source == name : tk_compare_no_case(source, name) == 0) {
      tk_log(1, "Got mapped name: %s", safe);
      return safe;
    }
  }
  return name;
}

bool pgs_index_starts_with(const udb_index& index, const std::vector<std::wstring>& fields) {
  tk_log(1, "udb_index(%s)::starts_with_fields", index.name);
  if (index.fields.size() < fields.size()) return false;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (tk_compare_no_case(index.fields[i], fields[i]) != 0) {
      tk_log(1, "Field '%s' not found", fields[i]);
      return false;
    }
  }
  tk_log(1, "starts_with_fields returns true");
  return true;
}

bool pgs_is_index_field(const udb_indexes& indexes, const std::wstring& column, bool primary_only) {
  tk_log(1, "udb_indexes::is_idx_field(%s)", column);
  for (const auto& index : indexes) {
    if (primary_only && !index.primary) continue;
    for (const auto& field : index.fields) {
      if (field == column) {
        tk_log(1, "index field");
        return true;
      }
    }
  }
  tk_log(1, "non-index field");
  return false;
}

pgs_schema_initializer::pgs_schema_initializer(const std::wstring& table_name, const udb_schema& source_columns,
                                               const udb_indexes& source_indexes)
    : m_table_name(table_name), m_validator(source_columns) {
  tk_log(2, "pgs_schema_initializer::ctor");
  for (const auto& source : source_columns) {
    std::wstring safe = source->name;
    if (!m_validator.is_acceptable(safe)) {
      safe = m_validator.get_safe_name(source->name);
      tk_log(2, "Incorrect column name, replace: '%s'=>'%s'", source->name, safe);
    }
    bool not_null = source->auto_increment || source->b_not_null;
    if (!not_null && pgs_is_index_field(source_indexes, source->name, true)) {
      tk_log(2, "Field is a part of Primary Key");
      not_null = true;
    }
    m_safe_columns.push_back(std::make_unique<t_ftd>(source->size, safe, source->vartype, not_null,
                                                     source->auto_increment,
                                                     source->auto_increment ? ole_variant() : source->value,
                                                     source->reserved));
    if (safe != source->name) {
      tk_log(2, "Store generated column safe-name '%s'", safe);
      m_validator.add_existing_name(safe);
      // A source name seen twice keeps its first safe name.
      if (!m_validator.mapped.count(source->name)) m_validator.add_mapped_pair(source->name, safe);
    }
    m_validator.restricted.push_back(safe);
  }
}

std::string pgs_schema_initializer::create_table_statement() const {
  return "CREATE TABLE " + pgs_engine::instance().quote_table(m_table_name) + " " + column_definitions();
}

std::string pgs_schema_initializer::column_definitions() const {
  const pgs_engine& engine = pgs_engine::instance();
  std::string sql = "(";
  bool first = true;
  for (const auto& column : m_safe_columns) {
    if (!first) sql += ", ";
    first = false;
    const std::wstring type = udb_custom_conversion::is_acceptable1(*column) ? udb_custom_conversion::handle1(*column)
                                                                              : pgs_get_native_type(*column);
    sql += engine.quote_ident(column->name) + " " + tk_to_utf8(type);
    const std::wstring def = make_pgs_def_val(column.get());
    tk_log(1, "got def value: %s", def);
    // TEXT and unbounded binary columns take no default.
    if (!def.empty() && !(is_text_or_binary(column->vartype) && is_unbounded(*column)))
      sql += " DEFAULT " + tk_to_utf8(def);
    if (column->b_not_null) sql += " NOT NULL";
  }
  return sql + ")";
}

void pgs_schema_initializer::build_schema() {
  tk_log(2, "pgs_schema_initializer::build_schema(n_columns=%d)", static_cast<int>(m_safe_columns.size()));
  const std::string sql = create_table_statement();
  tk_log(2, "Build table query:\n%s", sql);
  try {
    run_in_transaction(sql, "build_schema");
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception("Cannot create table: " + sql + ". ", e);
  }
}

pgs_indexes_initializer::pgs_indexes_initializer(const std::wstring& table_name, const udb_schema& safe_columns,
                                                 const udb_indexes& source_indexes, const pgs_names_map& column_map)
    : m_table_name(table_name), m_columns(safe_columns) {
  tk_log(2, "pgs_indexes_initializer::ctor(%s)", table_name);
  pgs_in_validator& validator = pgs_engine::instance().index_validator();
  validator.seed(source_indexes);
  for (const auto& source : source_indexes) {
    const bool accepted = validator.is_acceptable(source.name);
    const std::wstring safe = accepted ? source.name : validator.get_safe_name(source.name);
    std::vector<std::wstring> columns;
    bool buildable = true;
    for (const auto& field : source.fields) {
      const std::wstring column = pgs_get_mapped_name(column_map, field, false);
      if (!can_be_part_of_index(column)) {
        buildable = false;
        break;
      }
      columns.push_back(m_columns.get_field2(column).name);
    }
    if (!buildable) continue;
    tk_log(1, "udb_indexes::has_index_on_fields");
    bool covered = false;
    for (const auto& kept : m_index_list) covered = covered || pgs_index_starts_with(kept, columns);
    if (covered) continue;
    m_index_list.push_back(udb_index{safe, source.unique, source.primary, columns});
    if (!accepted) {
      tk_log(2, "Store generated index name '%s'", safe);
      validator.add_existing_name(safe);
    }
    validator.restricted.push_back(safe);
  }
}

bool pgs_indexes_initializer::can_be_part_of_index(const std::wstring& column) const {
  tk_log(1, "pgs_indexes_initializer::can_be_part_of_index");
  if (!m_columns.find_field(column)) {
    tk_log(2, "Field '%s' is not a column of the table: index skipped", column);
    return false;
  }
  const t_ftd& field = m_columns.get_field2(column);
  tk_log(1, "GOT FIELD: vt=%d, size=%d", static_cast<int>(field.vartype), static_cast<int>(field.size));
  if (is_text_or_binary(field.vartype) && is_unbounded(field)) {
    tk_log(2, "Field '%s' cannot be part of index", column);
    return false;
  }
  return true;
}

std::vector<std::string> pgs_indexes_initializer::index_statements() const {
  const pgs_engine& engine = pgs_engine::instance();
  std::vector<std::string> statements;
  for (const auto& index : m_index_list) {
    // Unnamed: the server chooses a name that is free in the schema.
    std::string sql = index.primary ? "ALTER TABLE " + engine.quote_table(m_table_name) + " ADD PRIMARY KEY ("
                                    : std::string("CREATE ") + (index.unique ? "UNIQUE " : "") + "INDEX ON " +
                                          engine.quote_table(m_table_name) + " (";
    for (std::size_t i = 0; i < index.fields.size(); ++i) {
      tk_log(1, "Process idx.field %s", index.fields[i]);
      if (i) sql += ", ";
      sql += engine.quote_ident(index.fields[i]);
    }
    statements.push_back(sql + ")");
  }
  return statements;
}

void pgs_indexes_initializer::build_indexes() {
  tk_log(2, "pgs_indexes_initializer::build_indexes(n_indexes=%d)", static_cast<int>(m_index_list.size()));
  const std::vector<std::string> statements = index_statements();
  for (std::size_t i = 0; i < statements.size(); ++i) {
    tk_log(3, "Create index '%s': %s\n", m_index_list[i].name, statements[i]);
    try {
      run_in_transaction(statements[i], "build_indicies");
    } catch (const pqxx::pqxx_exception& e) {
      throw pgs_exception("Cannot create index: " + statements[i] + ". ", e);
    }
  }
}
