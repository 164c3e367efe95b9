#include "udb/t_ftd.h"

#include "tk/tk_logger.h"
#include "udb/udb_field.h"

t_ftd::t_ftd(const udb_field& source, const ole_variant& value, int reserved)
    : size(static_cast<std::uint32_t>(source.size)),
      name(source.name),
      vartype(source.get_type()),
      auto_increment(source.auto_increment),
      b_not_null(source.b_not_null),
      value(value),
      reserved(reserved)
{
    tk_log(1, "t_ftd::ctor1");
    log_fields();
}

t_ftd::t_ftd(std::uint32_t size, std::wstring name, VARTYPE vartype, bool b_not_null, bool auto_increment,
             const ole_variant& value, int reserved, std::wstring second_text)
    : size(size),
      name(std::move(name)),
      vartype(vartype),
      second_text(std::move(second_text)),
      auto_increment(auto_increment),
      b_not_null(b_not_null),
      value(value),
      reserved(reserved)
{
    tk_log(1, "t_ftd::ctor2");
    log_fields();
}

void t_ftd::log_fields() const
{
    tk_log(1, "\tfield name='%s', vartype=%d, size=%d, b_not_null=%d, reserved=%d", name,
           static_cast<int>(vartype), static_cast<int>(size), b_not_null ? 1 : 0, reserved);
}
