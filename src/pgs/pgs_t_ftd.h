#pragma once
#include <string>

#include "udb/t_ftd.h"

/// A column of a PostgreSQL table as the catalogue describes it: the descriptor plus the type
/// name the catalogue reports.
struct pgs_t_ftd : t_ftd {
  std::string orig_type;

  pgs_t_ftd(std::uint32_t size, std::wstring name, VARTYPE vartype, bool b_not_null, bool auto_increment,
            const ole_variant& value, int reserved, std::string orig_type);
};
