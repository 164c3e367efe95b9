#include "udb/udb_field.h"

#include "tk/tk_logger.h"

udb_field::udb_field()
{
    tk_log(1, "udb_field::empty ctor");
}

udb_field::udb_field(std::wstring name, int size, const ole_variant& value, bool b_not_null, bool auto_increment)
    : ole_variant(value), size(size), name(std::move(name)), b_not_null(b_not_null), auto_increment(auto_increment)
{
    tk_log(1, "udb_field::ctor #2");
    tk_log(1, "name=%s, size=%d", this->name, size);
}

VARTYPE udb_field::get_type() const
{
    tk_log(1, "ole_variant::get_type");
    return ole_variant::get_type();
}
