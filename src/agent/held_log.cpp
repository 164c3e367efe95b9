#include "agent/held_log.h"

#include "converter/run_log.h"

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
    throw log_file_input_error(*input);
  }
  m_logger->release();
}

const std::string* held_log::log_input() const { return log_file_input(*m_logger, m_inputs); }
