#include "agent/held_log.h"

#include "tk/tk_exception.h"
#include "tk/tk_format.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"

held_log::held_log(const std::vector<std::string>& inputs) : m_logger(tk_logger::instance_ptr()), m_inputs(inputs) {
  if (m_logger) m_logger->hold();
}

held_log::~held_log() {
  if (!m_logger || !m_logger->is_held()) return;
  if (log_input())
    m_logger->discard();
  else
    m_logger->release();
}

void held_log::settle() {
  if (!m_logger || !m_logger->is_held()) return;
  if (const std::string* input = log_input()) {
    m_logger->discard();
    throw tk_exception(tk_format("Logfile name specifies a file the conversion reads: %s", *input), tk_level_error);
  }
  m_logger->release();
}

const std::string* held_log::log_input() const {
  if (!m_logger->is_enabled()) return nullptr;
  const std::string log = m_logger->file_name();
  for (const std::string& input : m_inputs)
    if (tk_is_same_file(log, input)) return &input;
  return nullptr;
}
