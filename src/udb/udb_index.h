#pragma once

#include <string>
#include <vector>

/// One index of a table, as a back end reports it or a table builder wants it.
struct udb_index {
    std::wstring name;
    bool unique = false;
    bool primary = false;
    std::vector<std::wstring> fields;  ///< column names in key order
};
