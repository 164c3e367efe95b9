#include "tk/tk_singleton.h"

#include "tk/tk_logger.h"

void tk_singleton_log_missing() noexcept {
  tk_log(3, "tk_singleton::dtor: no instance registered (..\\TK/tk_singl 46)");
}
