#pragma once
// How names and values are written into SQL and into the libpq connection string.
//
// One rule for every database, schema, table, column, index and constraint name: fold A-Z to
// lower case (unless the engine is case-sensitive), encode as UTF-8, fit PostgreSQL's 63-byte limit
// (pgs_fit_name), then quote it whole with '"' doubled. The name created and the name looked up in
// the catalogue come from the same pgs_object_name, so they can never differ.
#include <cstdint>
#include <string>
#include <utility>

/// PostgreSQL's identifier limit (NAMEDATALEN - 1), in bytes of UTF-8.
inline constexpr std::size_t pgs_max_name_bytes = 63;

/// Lower-cases A-Z only, as the server folds unquoted names; other letters stay.
std::wstring pgs_fold_name(const std::wstring& name, bool case_sensitive);

/// A UTF-8 name that fits 63 bytes: shorter names stay; a longer one keeps its longest whole-character
/// prefix within 54 bytes, then "_" and eight lower-case hex digits of a hash of the whole name, so two
/// long names that share a prefix stay distinct and the same name always fits to the same result.
std::string pgs_fit_name(const std::string& utf8);

/// The server-side spelling of a name: folded, UTF-8, fitted. Use it for catalogue literals too.
std::string pgs_object_name(const std::wstring& name, bool case_sensitive);

/// True for a schema of the server's own, given as the server spells it: information_schema and
/// every name beginning "pg_" (pg_catalog, pg_toast, the per-session pg_temp_N whose tables vanish
/// when the session ends). No conversion creates a table there.
bool pgs_is_system_schema(const std::string& server_name);

/// Quotes an already-final UTF-8 name: "x" with every '"' doubled. Never splits at a dot.
std::string pgs_quote_raw(const std::string& utf8_name);

/// pgs_quote_raw(pgs_object_name(name)): columns, indexes, constraints, schemas, databases.
std::string pgs_quote_ident(const std::wstring& name, bool case_sensitive);

/// Splits a table name at its first '.' into schema and table and quotes each part:
/// "schema"."table", or "table" when there is no dot. Only for table names.
std::string pgs_quote_table(const std::wstring& name, bool case_sensitive);

/// An SQL string literal: apostrophes doubled, enclosed in apostrophes. Sound because the
/// connection sets standard_conforming_strings on (backslashes are plain characters).
std::string pgs_sql_literal(const std::string& utf8);
std::wstring pgs_sql_literal(const std::wstring& text);

/// A libpq connection-string value: enclosed in apostrophes, '\' and '\'' each escaped with '\'.
std::string pgs_conninfo_value(const std::string& value);

/// Connection strings for one connect: `primary` names the database, `fallback` is the same without
/// it (the server's default database for the user). Empty user, password and host and a zero port
/// are left out, so libpq takes them from its environment; a connect timeout is always set.
struct pgs_conninfo {
  std::string primary;
  std::string fallback;
};
pgs_conninfo pgs_build_conninfo(const std::string& host, const std::string& user,
                                const std::string& password, const std::string& dbname, int port);

/// Replaces every occurrence of a non-empty secret in a text by "***" (error texts shown or logged).
std::string pgs_mask_secret(std::string text, const std::string& secret);
