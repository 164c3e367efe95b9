// pgs_recordset: construction, the catalogue (columns, keys, row count) and reading through a cursor.
#include "pgs/pgs_recordset.h"

#include <charconv>
#include <climits>
#include <tuple>

#include <pqxx/cursor>
#include <pqxx/except>
#include <pqxx/result>
#include <pqxx/transaction>

#include "pgs/pgs_copy_stream.h"
#include "pgs/pgs_database.h"
#include "pgs/pgs_engine.h"
#include "pgs/pgs_exception.h"
#include "pgs/pgs_sql_text.h"
#include "pgs/pgs_t_ftd.h"
#include "pgs/pgs_util.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

constexpr int cursor_stride = 10000;
constexpr int mode_existing_table = 8;

pgs_engine& engine() { return pgs_engine::instance(); }

bool starts_with_nextval(const std::string& text) {
  static const char prefix[] = "nextval";
  if (text.size() < sizeof prefix - 1) return false;
  for (std::size_t i = 0; i < sizeof prefix - 1; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

int date_precision(const std::string& type) {
  for (const char* name : {"time_stamp", "timestamp", "timestampz", "timestamp without time zone",
                           "timestamp with time zone"})
    if (type == name) return udb_reserved_date_time;
  if (type == "date") return udb_reserved_date_only;
  for (const char* name : {"abstime", "time", "time without time zone"})
    if (type == name) return udb_reserved_time_only;
  return 0;
}

int read_int(const pqxx::field& field) {
  if (field.is_null()) return 0;
  long long value = 0;
  const char* text = field.c_str();
  std::from_chars(text, text + field.size(), value);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace

pgs_recordset::pgs_recordset(pgs_database& database, const std::wstring& name, const std::wstring&,
                             udb_relationships& relationships_, int)
    : udb_recordset(name, true),
      relationships(&relationships_),
      owner_db(&database),
      segment_bytes(pgs_copy_default_segment_bytes) {
  tk_log(2, "pgs_recordset::pgs_recordset1(%s)", name);
  std::tie(s_name, t_name) = database.split_name(name);
}

pgs_recordset::pgs_recordset(pgs_database& database, const std::wstring& name, udb_relationships& relationships_,
                             int mode)
    : udb_recordset(name, true),
      relationships(&relationships_),
      owner_db(&database),
      by_name((mode & mode_existing_table) != 0),
      segment_bytes(pgs_copy_default_segment_bytes) {
  tk_log(2, "pgs_recordset::pgs_recordset2(%s)", name);
  std::tie(s_name, t_name) = database.split_name(name);
  tk_log(2, "tname=(%s,%s)", s_name, t_name);
  init_schema();
  if (schema.empty()) {
    tk_log(2, "Empty table");
    return;
  }
  if ((mode & 0x60) != 0x60) init_indexes();
  rec_count = get_rec_count();
  tk_log(2, "Got %d records", rec_count);
}

std::string pgs_recordset::qualified_name() const {
  return engine().quote_ident(s_name) + "." + engine().quote_ident(t_name);
}

// ---- catalogue statements ----------------------------------------------------------

// Every catalogue statement takes the schema as $1 and the table as $2, and is prepared once per
// connection: planning these statements costs more than running them, once per worksheet.
pqxx::result pgs_recordset::catalogue_query(pqxx::transaction_base& tx, const char* name, const std::string& sql) const {
  const std::string schema = engine().object_name(s_name), table = engine().object_name(t_name);
  tk_log(1, "%s with $1=%s, $2=%s", name, schema, table);
  engine().connection().prepare(name, sql);
  return tx.exec_prepared(name, schema, table);
}

// The columns of the table with the texts the standard information schema gives (data_type,
// lengths, precisions, is_nullable, the default), read from the system catalogue of that one table:
// the information schema's view filters every column of the database and costs milliseconds per
// table. The visibility rule of the view (owner or a column privilege) is kept.
std::string pgs_recordset::get_table_sql() const {
  tk_log(1, "pgs_recordset::get_table_sql");
  tk_log(1, "s_name=%s, t_name=%s", s_name, t_name);
  const std::string sql =
      "SELECT a.attnum AS ordinal_position, a.attname AS column_name, "
      "CASE WHEN t.typtype = 'd' THEN "
      "CASE WHEN bt.typelem <> 0 AND bt.typlen = -1 THEN 'ARRAY' "
      "WHEN nbt.nspname = 'pg_catalog' THEN format_type(t.typbasetype, NULL) ELSE 'USER-DEFINED' END "
      "ELSE CASE WHEN t.typelem <> 0 AND t.typlen = -1 THEN 'ARRAY' "
      "WHEN nt.nspname = 'pg_catalog' THEN format_type(a.atttypid, NULL) ELSE 'USER-DEFINED' END "
      "END AS data_type, "
      "information_schema._pg_char_max_length(information_schema._pg_truetypid(a.*, t.*), "
      "information_schema._pg_truetypmod(a.*, t.*)) AS character_maximum_length, "
      "CASE WHEN a.attgenerated = '' AND pg_has_role(c.relowner, 'USAGE') THEN pg_get_expr(ad.adbin, ad.adrelid) END "
      "AS column_default, "
      "CASE WHEN a.attnotnull OR (t.typtype = 'd' AND t.typnotnull) THEN 'NO' ELSE 'YES' END AS is_nullable, "
      "information_schema._pg_numeric_precision(information_schema._pg_truetypid(a.*, t.*), "
      "information_schema._pg_truetypmod(a.*, t.*)) AS numeric_precision, "
      "information_schema._pg_numeric_precision_radix(information_schema._pg_truetypid(a.*, t.*), "
      "information_schema._pg_truetypmod(a.*, t.*)) AS numeric_precision_radix, "
      "information_schema._pg_numeric_scale(information_schema._pg_truetypid(a.*, t.*), "
      "information_schema._pg_truetypmod(a.*, t.*)) AS numeric_scale, "
      "information_schema._pg_datetime_precision(information_schema._pg_truetypid(a.*, t.*), "
      "information_schema._pg_truetypmod(a.*, t.*)) AS datetime_precision "
      "FROM pg_attribute a "
      "JOIN pg_class c ON c.oid = a.attrelid "
      "JOIN pg_namespace nc ON nc.oid = c.relnamespace "
      "JOIN pg_type t ON t.oid = a.atttypid "
      "JOIN pg_namespace nt ON nt.oid = t.typnamespace "
      "LEFT JOIN pg_attrdef ad ON ad.adrelid = a.attrelid AND ad.adnum = a.attnum "
      "LEFT JOIN (pg_type bt JOIN pg_namespace nbt ON nbt.oid = bt.typnamespace) "
      "ON t.typtype = 'd' AND t.typbasetype = bt.oid "
      "WHERE nc.nspname = $1 AND c.relname = $2"
      " AND c.relkind IN ('r', 'v', 'f', 'p') AND a.attnum > 0 AND NOT a.attisdropped "
      "AND NOT pg_is_other_temp_schema(nc.oid) "
      "AND (pg_has_role(c.relowner, 'USAGE') OR "
      "has_column_privilege(c.oid, a.attnum, 'SELECT, INSERT, UPDATE, REFERENCES')) "
      "ORDER BY a.attnum";
  tk_log(2, "Got query: %s", sql);
  return sql;
}

// The key statements select by schema as well as by name: a same-named table in another schema
// must not lend its keys.
std::string pgs_recordset::get_pk_sql() const {
  tk_log(1, "pgs_recordset::get_pk_sql");
  const std::string sql =
      "SELECT DISTINCT relname p FROM pg_class WHERE oid IN ( SELECT indexrelid FROM pg_index, pg_class, "
      "pg_namespace WHERE pg_class.relname=$2 AND pg_namespace.oid=pg_class.relnamespace AND "
      "pg_namespace.nspname=$1 AND pg_class.oid=pg_index.indrelid AND indisunique = 't' AND "
      "indisprimary = 't' )";
  tk_log(1, "QUERY=%s", sql);
  return sql;
}

std::string pgs_recordset::get_pk_detailed_sql() const {
  tk_log(1, "pgs_recordset::get_pk_detailed_sql");
  // Key columns in key order (their place in indkey), not in name order.
  const std::string sql =
      "SELECT pg_attribute.attname as column_name, format_type(pg_attribute.atttypid, pg_attribute.atttypmod), "
      "t.relname, i.relname FROM pg_class t, pg_namespace n, pg_class i, pg_index ix, pg_attribute WHERE "
      "t.oid=ix.indrelid AND i.oid=ix.indexrelid AND n.oid=t.relnamespace AND pg_attribute.attrelid=t.oid AND "
      "pg_attribute.attnum=ANY(ix.indkey) AND t.relkind='r' AND t.relname=$2"
      " AND n.nspname=$1"
      " AND indisprimary ORDER BY t.relname, i.relname, array_position(ix.indkey::int2[], pg_attribute.attnum)";
  tk_log(1, "QUERY=%s", sql);
  return sql;
}

std::string pgs_recordset::get_indices_sql() const {
  tk_log(1, "pgs_recordset::get_indices_sql");
  const std::string sql =
      "SELECT relname, indkey, indisunique   FROM pg_class, pg_index   WHERE pg_class.oid = pg_index.indexrelid     "
      "AND pg_class.oid IN (   SELECT indexrelid   FROM pg_index, pg_class, pg_namespace   WHERE pg_class.relname="
      "$2   AND pg_namespace.oid=pg_class.relnamespace   AND pg_namespace.nspname="
      "$1   AND pg_class.oid=pg_index.indrelid   AND indisunique != 't'   AND indisprimary != 't') ";
  tk_log(1, "QUERY=%s", sql);
  return sql;
}

std::string pgs_recordset::get_fk_sql() const {
  tk_log(1, "pgs_recordset::get_fk_sql");
  // The referenced table's schema comes along, and the constraint's oid, by which its column names
  // are read without opening that table.
  const std::string sql =
      "SELECT c.conname AS constraint_name, __t.relname AS table_name,  array_to_string(c.conkey, ' ') AS "
      "constraint_key, __t2.relname AS references_table, array_to_string(c.confkey, ' ') AS fk_constraint_key,  "
      "c.contype AS constraint_type, confdeltype AS on_delete, __n2.nspname AS references_schema, c.oid AS "
      "constraint_oid FROM pg_constraint c LEFT JOIN pg_class __t  ON c.conrelid  = __t.oid LEFT JOIN pg_class "
      "__t2 ON c.confrelid = __t2.oid LEFT JOIN pg_namespace __n ON __t.relnamespace = __n.oid LEFT JOIN "
      "pg_namespace __n2 ON __t2.relnamespace = __n2.oid WHERE c.contype = 'f' and __t.relname  = "
      "$2 AND __n.nspname = $1";
  tk_log(1, "QUERY=%s", sql);
  return sql;
}

std::wstring pgs_recordset::get_delete_rule(wchar_t letter) {
  tk_log(1, "pgs_recordset::get_delete_rule");
  switch (letter) {
    case L'c': return L"ON DELETE CASCADE";
    case L'r': return L"ON DELETE RESTRICT";
    case L'n': return L"ON DELETE SET NULL";
    case L'd': return L"ON DELETE SET DEFAULT";
    default: return L"";
  }
}

void pgs_recordset::get_numbers_from_string(const std::string& text, std::vector<std::wstring>& out) const {
  tk_log(1, "get_numbers_from_string('%s')", text);
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n')) ++pos;
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] != ' ' && text[pos] != '\t' && text[pos] != '\n') ++pos;
    if (start == pos) break;
    const std::string piece = text.substr(start, pos - start);
    tk_log(1, "sub=%s", piece);
    tk_log(1, "schema.size=%d", static_cast<int>(schema.size()));
    long long number = 0;
    const auto [end, ec] = std::from_chars(piece.data(), piece.data() + piece.size(), number);
    const bool read = ec == std::errc() && end == piece.data() + piece.size();
    // Catalogue numbers are attribute numbers: they match ordinal positions, not list places
    // (the two differ once a column has been dropped).
    bool found = false;
    for (std::size_t i = 0; read && i < ordinals.size(); ++i) {
      if (ordinals[i] == number) {
        out.push_back(schema[i].name);
        found = true;
        break;
      }
    }
    if (!found) tk_log(2, "Field index %d is out of range, skip it", static_cast<int>(number - 1));
  }
  tk_log(1, "get_numbers_from_string - END");
}

// ---- schema, keys, count --------------------------------------------------------------

void pgs_recordset::init_schema() {
  tk_log(2, "pgs_recordset::init_schema");
  try {
    pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "get_schema");
    read_columns(tx);
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception(std::string(), e);
  }
}

void pgs_recordset::read_columns(pqxx::transaction_base& tx) { take_columns(column_answers(tx)); }

std::vector<pgs_column_answer> pgs_recordset::column_answers(pqxx::transaction_base& tx) const {
  const pqxx::result rows = catalogue_query(tx, "tmd_table_columns", get_table_sql());
  std::vector<pgs_column_answer> answers;
  answers.reserve(rows.size());
  for (const auto& row : rows) {
    pgs_column_answer& answer = answers.emplace_back();
    answer.ordinal = read_int(row[0]);
    answer.name = row[1].c_str();
    answer.data_type = row[2].c_str();
    answer.size = read_int(row[3]);
    answer.has_default = !row[4].is_null();
    if (answer.has_default) answer.default_text = row[4].c_str();
    answer.is_nullable = row[5].c_str();
  }
  return answers;
}

void pgs_recordset::take_columns(const std::vector<pgs_column_answer>& answers) {
  bool seen_auto = false;
  for (const auto& answer : answers) {
    const std::string def = answer.has_default ? answer.default_text : std::string();
    const std::wstring column_name = tk_utf8_to_unicode(answer.name);
    const std::string& data_type = answer.data_type;
    bool automatic = starts_with_nextval(def);
    if (automatic) {
      tk_log(2, "Got auto_increment '%s'", column_name);
      if (seen_auto) {
        tk_log(3, "Multiple auto_increment columns: '%s'!", column_name);
        automatic = false;
      }
      seen_auto = true;
    }
    const VARTYPE vartype = pgs_get_vartype(data_type);
    const bool not_null = answer.is_nullable != "YES";
    const int size = answer.size;
    auto column = std::make_unique<pgs_t_ftd>(static_cast<std::uint32_t>(size), column_name, vartype, not_null,
                                              automatic, ole_variant(), 0, data_type);
    if (!def.empty() && !starts_with_nextval(def)) {
      tk_log(2, "Got def.value: '%s'", def);
      std::string value = def;
      const auto cast = value.find("'::");
      if (cast != std::string::npos) {
        tk_log(1, "Def.value must be pre-processed");
        const std::size_t from = value[0] == '\'' ? 1 : 0;
        value = cast >= from ? value.substr(from, cast - from) : std::string();
        tk_log(1, "After pre-processing: '%s'", value);
      }
      const VARTYPE value_type = vartype == VT_BSTR || vartype == VT_DATE ? VT_BSTR : vartype;
      try {
        column->value = pgs_get_variant(value_type, value.c_str());
      } catch (const tk_exception& e) {
        // A default this side cannot read is left out; the server still applies its own.
        tk_log(2, "Default not readable: %s", e.message());
      }
    }
    column->reserved = date_precision(data_type);
    ordinals.push_back(answer.ordinal);
    schema.push_back(std::move(column));
  }
}

void pgs_recordset::init_indexes() {
  tk_log(1, "pgs_recordset::init_indexes");
  try {
    pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "init_indexes");
    const pqxx::result pk = catalogue_query(tx, "tmd_primary_key", get_pk_sql());
    if (!pk.empty()) {
      udb_index key;
      key.name = tk_utf8_to_unicode(pk[0][0].c_str());
      tk_log(2, "got PK name: %s", key.name);
      for (const auto& row : catalogue_query(tx, "tmd_primary_key_columns", get_pk_detailed_sql())) {
        key.fields.push_back(tk_utf8_to_unicode(row[0].c_str()));
        tk_log(1, "got PK fld name: %s", key.fields.back());
      }
      if (!key.fields.empty()) {
        tk_log(1, "Adding primary key");
        key.unique = true;
        key.primary = true;
        add_index(key);
      }
    }
    for (const auto& row : catalogue_query(tx, "tmd_indexes", get_indices_sql())) {
      udb_index index;
      index.name = tk_utf8_to_unicode(row[0].c_str());
      get_numbers_from_string(row[1].c_str(), index.fields);
      tk_log(2, "Adding index '%s'", index.name);
      index.unique = std::string_view(row[2].c_str()) == "t";
      add_index(index);
    }
    for (const auto& row : catalogue_query(tx, "tmd_foreign_keys", get_fk_sql())) {
      udb_relationship key(tk_utf8_to_unicode(row[0].c_str()), L"",
                           s_name + L"." + tk_utf8_to_unicode(row[1].c_str()),
                           tk_utf8_to_unicode(row[7].c_str()) + L"." + tk_utf8_to_unicode(row[3].c_str()), {}, {},
                           get_delete_rule(row[6].is_null() || row[6].size() == 0 ? L' '
                                                                                    : static_cast<wchar_t>(row[6].c_str()[0])));
      get_numbers_from_string(row[2].c_str(), key.columns);
      tk_log(2, "Foreign key '%s' found:", key.name);
      tk_log(2, "fk_table='%s', pk_table='%s', rule='%s'", key.table, key.ref_table, key.rule);
      // The referenced columns by name, in key order, without opening the referenced table (which
      // would follow its own keys, endlessly for a cycle).
      const pqxx::result names = tx.exec(
          "SELECT a.attname FROM pg_constraint c CROSS JOIN LATERAL unnest(c.confkey) WITH ORDINALITY AS k(attnum, "
          "ord) JOIN pg_attribute a ON a.attrelid = c.confrelid AND a.attnum = k.attnum WHERE c.oid = " +
          std::string(row[8].c_str()) + " ORDER BY k.ord");
      for (const auto& name : names) key.ref_columns.push_back(tk_utf8_to_unicode(name[0].c_str()));
      tk_log(2, "Processing foreign key: '%s'", key.name);
      tk_log(1, "Just before adding FK into cache");
      relationships->push_back(std::move(key));
    }
    tx.commit();
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception(std::string(), e);
  }
}

int pgs_recordset::get_rec_count() {
  tk_log(1, "pgs_recordset::get_rec_count");
  const std::string sql = is_query() ? "SELECT COUNT(*) FROM (" + tk_to_utf8(t_name) + ") as query"
                                     : "SELECT COUNT(*) FROM " + qualified_name();
  tk_log(1, "Running query: %s", sql);
  try {
    pqxx::transaction<pqxx::read_committed> tx(engine().connection(), "get_rec_count");
    const pqxx::result rows = tx.exec(sql);
    const long long count = rows.at(0).at(0).as<long long>();
    return count > INT_MAX ? INT_MAX : static_cast<int>(count);
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception("Cannot get number of records (" + tk_to_ansi(is_query() ? t_name : table_name) + "): ", e);
  } catch (const std::exception& e) {
    throw pgs_exception("Cannot get number of records (" + tk_to_ansi(is_query() ? t_name : table_name) +
                        "): " + e.what());
  }
}

// ---- reading ----------------------------------------------------------------------------

std::string pgs_recordset::get_select_fields() const {
  tk_log(1, "pgs_recordset::get_select_fields");
  std::string list;
  for (const auto& column : schema) {
    if (!list.empty()) list += ", ";
    // Columns as the catalogue spells them, quoted whole.
    const std::string name = pgs_quote_raw(tk_to_utf8(column->name));
    const auto* described = dynamic_cast<const pgs_t_ftd*>(column.get());
    if (column->vartype == VT_DATE) {
      // 24-hour clock and milliseconds after a point: "HH" would fold 13:20 to 01:20.
      list += "to_char(" + name + ", 'DD-MM-YYYY HH24:MI:SS.MS') as " + name;
    } else if (column->vartype == VT_BOOL) {
      list += "CASE WHEN " + name + " THEN 'true' WHEN NOT " + name + " THEN 'false' END ";
    } else if (column->vartype == VT_R8 && described && described->orig_type == "money") {
      list += name + "::numeric";
    } else {
      list += name;
    }
  }
  tk_log(1, "res=%s", list);
  return list;
}

void pgs_recordset::reset() {
  tk_log(2, "pgs_recordset::reset");
  const std::string sql = "SELECT " + get_select_fields() + " FROM " + qualified_name();
  try {
    // The cursor belongs to the transaction: release it first.
    cursor.reset();
    read_trans.reset();
    block.reset();
    read_trans = std::make_unique<pqxx::transaction<pqxx::read_committed>>(engine().connection());
    tk_log(2, "SQL=%s", sql);
    cursor = std::make_unique<pqxx::icursorstream>(*read_trans, sql, "mycursor", cursor_stride);
    fetch_block();
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception(std::string(), e);
  }
  tk_log(2, "pgs_recordset::reset - END");
}

void pgs_recordset::fetch_block() {
  auto fresh = std::make_unique<pqxx::result>();
  *cursor >> *fresh;
  block = std::move(fresh);
  row = 0;
  eof = block->empty();
}

bool pgs_recordset::is_eof() {
  tk_log(1, "pgs_recordset::is_eof(%d)", static_cast<int>(eof));
  return eof;
}

void pgs_recordset::next() {
  tk_log(1, "pgs_recordset::next");
  if (eof || !block) return;
  if (++row < block->size()) return;
  try {
    fetch_block();
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception(std::string(), e);
  }
}

udb_record* pgs_recordset::get_item() {
  tk_log(1, "pgs_recordset::get_item");
  if (eof || !block || row >= block->size()) return nullptr;
  record = std::make_unique<udb_record>();
  const pqxx::row current = (*block)[static_cast<pqxx::result::size_type>(row)];
  for (std::size_t i = 0; i < schema.size(); ++i) {
    const t_ftd& column = schema[i];
    const pqxx::field field = current[static_cast<pqxx::row::size_type>(i)];
    ole_variant value;
    if (!field.is_null()) {
      if (column.vartype == VT_BSTR) {
        value = ole_variant::from_wstring(tk_utf8_to_unicode(field.c_str()), VT_BSTR);
      } else if (ole_is_binary(column.vartype) && field.size() >= 2 && field.c_str()[0] == '\\') {
        // bytea arrives in hex output form ("\x...."); values read as "0x....".
        value = ole_variant::from_string("0x" + std::string(field.c_str() + 2), column.vartype);
      } else {
        value = ole_variant::from_string(field.c_str(), column.vartype);
      }
    }
    record->push_back(std::make_unique<udb_field>(column.name, static_cast<int>(column.size), value,
                                                  column.b_not_null, column.auto_increment));
  }
  return record.get();
}
