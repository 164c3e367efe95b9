#pragma once

#include <string>

#include "ole/ole_variant.h"

/// One value of a row, with the column it belongs to.
/** to_string and to_wstring are ole_variant's virtual text forms; get_type is virtual here so that
    a side can report a column type for a value it could not read (the workbook side does). */
class udb_field : public ole_variant {
public:
    int size = 0;                 ///< the column's size as the source reports it
    std::wstring name;            ///< column name
    bool b_not_null = false;      ///< the column requires a value
    bool auto_increment = false;  ///< counter column

    udb_field();
    udb_field(std::wstring name, int size, const ole_variant& value, bool b_not_null, bool auto_increment);
    ~udb_field() override = default;

    /// The VARTYPE of the held value.
    virtual VARTYPE get_type() const;
};
