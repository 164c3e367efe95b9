#include "converter/init_conversion.h"

#include <ctime>

#include "converter/frame_services.h"
#include "platform/com_object.h"
#include "tk/tk_logger.h"

namespace {

void log_time(const char* format) noexcept {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  tk_log(3, format, local.tm_mday, local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min,
         local.tm_sec);
}

}  // namespace

init_conversion::init_conversion(std::atomic<bool>* finished_, int com_ready_, frame_services* timer_frame)
    : com_ready(com_ready_), finished(finished_) {
  tk_log(2, "init_conversion::ctor");
  log_time("Conversion started on %02d/%02d/%04d at %02d:%02d:%02d\n");
  if (com_ready == 0) platform::com_initialize();
  if (timer_frame) {
    try {
      timer_frame->start_timer(timer_period_ms);
    } catch (...) {
      // The constructor's failure leaves the run; the library started above must not stay started.
      if (com_ready == 0) platform::com_uninitialize();
      throw;
    }
  }
}

init_conversion::~init_conversion() {
  tk_log(2, "init_conversion::dtor");
  if (com_ready == 0) platform::com_uninitialize();
  log_time("Conversion ended on %02d/%02d/%04d at %02d:%02d:%02d\n");
  if (finished) finished->store(true);
}
