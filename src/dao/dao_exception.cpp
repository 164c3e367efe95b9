#include "dao/dao_exception.h"

#include "dao/dao_engine.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

[[noreturn]] void fail_on_step(int step) {
  tk_log(1, "Failed on step #%d", step);
  throw tk_exception(tk_level_error);
}

}  // namespace

dao_exception::dao_exception() : tk_exception(std::string(), 0, tk_level_recoverable, nullptr) {
  tk_log(2, "dao_exception::dao_exception");
  dao_engine& engine = dao_engine::get_instance();
  wb_engine* source = engine.get_engine();
  if (!source) fail_on_step(1);
  std::vector<wb_error_item> errors;
  try {
    errors = source->errors();
  } catch (const std::exception&) {
    fail_on_step(2);
  }
  if (errors.empty()) fail_on_step(3);
  const wb_error_item& first = errors.front();
  set_message(tk_to_utf8(first.description));
  // A message table may give the code a fixed text; the engine's description still says why.
  set_reason(message());
  tk_log(2, "Got error: %s", message());
  set_code(make_code(first.number));
  tk_log(2, "Got error code: %08X", static_cast<unsigned>(code()));
}
