#include "ole/ole_exceptions.h"

ole_cast_exception::ole_cast_exception()
    : tk_exception("Cannot cast from source type to destination type", tk_level_error)
{
}

ole_type_exception::ole_type_exception() : tk_exception("The operating type is not supported yet", tk_level_error) {}

bool ole_is_string_or_date(VARTYPE vt) { return vt == VT_BSTR || vt == VT_DATE; }
