#pragma once
// Which source names (worksheets, columns, indexes) PostgreSQL takes as they are, and safe
// replacements for the others. Lengths are bytes of UTF-8, as the server counts them.
#include <string>
#include <vector>

#include "tk/tk_singleton.h"
#include "udb/udb_indexes.h"
#include "udb/udb_record.h"
#include "udb/udb_schema.h"
#include "udb/udb_validator.h"

/// At most 63 bytes, a letter or digit first, then letters, digits, blank, '$', '.', '_'.
class pgs_validator : public udb_validator {
 public:
  pgs_validator();
  bool is_acceptable(const std::wstring& name) override;
  std::wstring get_safe_name(const std::wstring& name) override;
};

/// Column names of one table; the source's column names start as names in use. The names of the
/// server's system columns (xmin, ctid, ...) are taken in every table: a column named so is renamed
/// as a duplicate would be.
class pgs_fn_validator : public pgs_validator {
 public:
  explicit pgs_fn_validator(const udb_schema& columns);
  explicit pgs_fn_validator(const udb_record& fields);
  bool is_acceptable(const std::wstring& name) override;
};

/// True when the server gives every table a system column of this name (as the server holds it,
/// after folding).
bool pgs_is_system_column_name(const std::string& server_name);

/// Table names; both lists start as names in use.
class pgs_tn_validator : public pgs_validator {
 public:
  pgs_tn_validator(const std::vector<std::wstring>& first, const std::vector<std::wstring>& second);
};

/// Index names, unique for the whole process: it lives with the engine and is never cleared.
class pgs_in_validator : public tk_singleton<pgs_in_validator>, public pgs_validator {
 public:
  pgs_in_validator() = default;
  /// Adds the names of a table's source indexes to the names in use.
  void seed(const udb_indexes& indexes);
};
