#include "pgs/pgs_t_ftd.h"

#include "tk/tk_logger.h"

pgs_t_ftd::pgs_t_ftd(std::uint32_t size, std::wstring name, VARTYPE vartype, bool b_not_null, bool auto_increment,
                     const ole_variant& value, int reserved, std::string orig_type_)
    : t_ftd(size, std::move(name), vartype, b_not_null, auto_increment, value, reserved),
      orig_type(std::move(orig_type_)) {
  tk_log(1, "pgs_t_ftd::ctor(size=%d,name=%s)", static_cast<int>(size), this->name);
  tk_log(1, "orig_type=%s", orig_type);
}
