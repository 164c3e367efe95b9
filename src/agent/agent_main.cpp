#include "agent/agent_main.h"

#include <cstdio>
#include <exception>

#include "agent/agent_messages.h"
#include "agent/agent_options.h"
#include "agent/console_frame.h"
#include "agent/console_presenter.h"
#include "converter/error_handler.h"
#include "converter/error_tables.h"
#include "converter/exit_signal.h"
#include "converter/run_log.h"
#include "converter/tamarind_convertor.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

void fatal_console_exit(const std::string& text) {
  // The text may hold a path or a server message: it is an argument, never the format.
  tk_log(3, "%s", text);
  const tamarind_convertor* converter = tamarind_convertor::instance_ptr();
  if (!converter) TK_ASSERT_SITE("../..\\TK/tk_singl", 66);
  if (!converter->is_silent()) console_write_line(stderr, text);
  throw tmd_exit_signal(tmd_exit_signal::failure_status);
}

namespace {

bool converter_is_silent() {
  const tamarind_convertor* converter = tamarind_convertor::instance_ptr();
  return converter && converter->is_silent();
}

/// Detaches the console from the handler and the converter before the console goes.
class console_attachment {
 public:
  console_attachment(error_handler& handler, tamarind_convertor& converter, console_frame& frame,
                     console_presenter& presenter)
      : m_handler(handler), m_converter(converter) {
    handler.set_presenter(&presenter);
    handler.set_frame(&frame);
    converter.set_frame(&frame);
  }
  ~console_attachment() {
    m_converter.set_frame(nullptr);
    m_handler.set_frame(nullptr);
    m_handler.set_presenter(nullptr);
  }
  console_attachment(const console_attachment&) = delete;
  console_attachment& operator=(const console_attachment&) = delete;

 private:
  error_handler& m_handler;
  tamarind_convertor& m_converter;
};

int run_agent(int argc, char** argv) {
  console_frame frame(stdout, stderr, converter_is_silent);
  console_presenter presenter(stdout);

  error_handler handler(engine_error_table_size, engine_error_table);
  load_further_error_tables(handler);
  tamarind_convertor converter(tmd_front_end::agent);
  console_attachment attachment(handler, converter, frame, presenter);

  try {
    if (argc <= 1 || !parse_cmd_line(argc, argv)) fatal_console_exit(agent_usage_text());
    converter.connect_pgs_server();
    converter.check_dest();
    converter();
  } catch (const tk_exception& e) {
    // Level 0 returns here; level 1 and internal errors end the program from inside.
    handler.handle(e, false);
  } catch (const std::exception& e) {
    fatal_console_exit(e.what());
  }
  std::fflush(stdout);
  return handler.reported().total() == 0 ? 0 : 1;
}

/// A log that lost lines fails the run that was otherwise clean. It is reported also in a silent
/// run: the log is where such a run reports, and it is incomplete.
int status_with_log(int status) {
  const std::string failure = log_failure_text();
  if (failure.empty()) return status;
  console_write_line(stderr, failure);
  return status == 0 ? 1 : status;
}

}  // namespace

int agent_main(int argc, char** argv) {
  // The trace log stays off until "--logfile=" or a profile names a file; only level-3 lines
  // reach it then. It outlives the run's objects, so that every line they write is counted.
  run_logger logger;
  int status = 0;
  try {
    status = run_agent(argc, argv);
  } catch (const tmd_exit_signal& signal) {
    // Thrown where the program must end; every object of the run has been destroyed in order.
    std::fflush(stdout);
    status = signal.status();
  }
  return status_with_log(status);
}
