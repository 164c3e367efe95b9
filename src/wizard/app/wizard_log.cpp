#include "wizard/app/wizard_log.h"

#include <limits>

#include "converter/error_handler.h"
#include "converter/tamarind_convertor.h"
#include "tk/tk_string.h"

namespace {

wizard_log* current = nullptr;

/// A run whose errors no log file holds lists every one of them.
void set_list_limit(const tk_logger& logger) {
  const bool logged = logger.is_enabled() && !logger.is_held();
  if (error_handler* handler = error_handler::instance_ptr())
    handler->set_listed_limit(logged ? error_handler::max_listed_errors : std::numeric_limits<std::size_t>::max());
}

}  // namespace

wizard_log::wizard_log() {
  m_logger.hold();
  current = this;
}

wizard_log::~wizard_log() {
  if (current == this) current = nullptr;
  if (m_logger.is_held()) m_logger.discard();
}

void wizard_log::note_input(const std::wstring& path) {
  if (current) current->m_inputs.push_back(tk_to_utf8(path));
}

void wizard_log::begin_run(const tamarind_convertor& converter) {
  if (!current) return;
  run_logger& logger = current->m_logger;
  if (logger.is_held()) {
    // The converter's setting is what counts: a profile that failed to load after naming a log
    // file was undone there, not here.
    const std::string& file = converter.get_logfile();
    if (file.empty()) {
      logger.discard();
    } else {
      logger.set_file_name(file);
      logger.set_enabled(true);
      std::vector<std::string> inputs = current->m_inputs;
      inputs.push_back(tk_to_utf8(converter.get_src()));
      if (const std::string* input = log_file_input(logger, inputs)) {
        logger.discard();
        set_list_limit(logger);
        throw log_file_input_error(*input);
      }
      logger.release();
    }
  }
  set_list_limit(logger);
}
