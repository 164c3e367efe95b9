#pragma once
// Name rules of the engine's own database files: no maximum length, seven characters that may not
// appear in a name, and no blank at either end.
#include "udb/udb_indexes.h"
#include "udb/udb_schema.h"
#include "udb/udb_validator.h"

class dao_validator : public udb_validator {
 public:
  dao_validator();
  /// False for an empty name and a name that begins or ends with a blank; else the common test.
  bool is_acceptable(const std::wstring& name) override;
  /// The common safe name of the trimmed name.
  std::wstring get_safe_name(const std::wstring& name) override;
};

/// Column names: every column of the field list counts as in use.
class dao_fn_validator : public dao_validator {
 public:
  explicit dao_fn_validator(const udb_schema& fields);
};

/// Index names: every index of the list counts as in use.
class dao_in_validator : public dao_validator {
 public:
  explicit dao_in_validator(const udb_indexes& indexes);
};
