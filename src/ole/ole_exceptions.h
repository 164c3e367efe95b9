#pragma once
// The two errors of value conversion, both level 1.
#include "platform/auto_types.h"
#include "tk/tk_exception.h"

/// "Cannot cast from source type to destination type": a conversion between two types that is not possible.
class ole_cast_exception : public tk_exception {
public:
    ole_cast_exception();
};

/// "The operating type is not supported yet": a value type an operation does not handle.
class ole_type_exception : public tk_exception {
public:
    ole_type_exception();
};

/// True for VT_BSTR and VT_DATE, the values that are quoted as literals.
bool ole_is_string_or_date(VARTYPE vt);
