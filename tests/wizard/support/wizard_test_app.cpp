#include "support/wizard_test_app.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include "converter/error_tables.h"
#include "wizard/dialogs/file_dialog.h"
#include "wizard/shell/gui_bridge.h"

namespace wizard_test {

QApplication& app() {
  static QApplication* instance = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "test_wizard";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *instance;
}

// ---- boxes ---------------------------------------------------------------------------------

box_recorder::box_recorder() {
  wizard_shell::set_box_hook([this](const wizard_box& box) {
    std::lock_guard lock(m_mutex);
    m_boxes.push_back(box);
    if (box.type != wizard_box::kind::question) return false;
    if (m_answers.empty()) return m_default;
    const bool answer = m_answers.front();
    m_answers.erase(m_answers.begin());
    return answer;
  });
}

box_recorder::~box_recorder() { wizard_shell::set_box_hook({}); }

void box_recorder::answer_next(bool yes) {
  std::lock_guard lock(m_mutex);
  m_answers.push_back(yes);
}

void box_recorder::set_default_answer(bool yes) {
  std::lock_guard lock(m_mutex);
  m_default = yes;
}

std::vector<wizard_box> box_recorder::boxes() const {
  std::lock_guard lock(m_mutex);
  return m_boxes;
}

std::size_t box_recorder::count() const {
  std::lock_guard lock(m_mutex);
  return m_boxes.size();
}

QString box_recorder::last_text() const {
  std::lock_guard lock(m_mutex);
  return m_boxes.empty() ? QString() : m_boxes.back().text;
}

void box_recorder::clear() {
  std::lock_guard lock(m_mutex);
  m_boxes.clear();
  m_answers.clear();
}

// ---- scratch folder ------------------------------------------------------------------------

temp_dir::temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tmd_wizard_XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder");
  m_path = pattern;
}

temp_dir::~temp_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

// ---- environment ---------------------------------------------------------------------------

environment::environment(bool with_converter) {
  app();
  if (const char* config = std::getenv("XDG_CONFIG_HOME")) {
    m_had_config = true;
    m_saved_config = config;
  }
  setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1);
  // A test that waits too long for a dialog fails instead of hanging.
  gui_bridge::set_wait_limit(std::chrono::milliseconds(20000));
  m_timed_out_at_start = gui_bridge::timed_out_waits();
  m_handler = std::make_unique<error_handler>(engine_error_table_size, engine_error_table);
  load_further_error_tables(*m_handler);
  m_presenter = std::make_unique<wizard_error_presenter>();
  m_handler->set_presenter(m_presenter.get());
  m_boxes = std::make_unique<box_recorder>();
  wizard_error_presenter::set_continue_hook([this](const std::string& text) {
    std::lock_guard lock(m_error_mutex);
    m_continue_questions.push_back(text);
    return error_presenter::continue_answer{};
  });
  wizard_error_presenter::set_internal_hook([this](const std::string& text) {
    std::lock_guard lock(m_error_mutex);
    m_internal_errors.push_back(text);
  });
  if (with_converter) m_converter = std::make_unique<tamarind_convertor>(tmd_front_end::wizard);
}

environment::~environment() {
  destroy_shell();
  EXPECT_EQ(gui_bridge::timed_out_waits(), m_timed_out_at_start)
      << "a request of another thread waited past the limit and was declined unseen";
  m_converter.reset();
  m_handler->set_presenter(nullptr);
  m_handler.reset();
  m_presenter.reset();
  m_boxes.reset();
  wizard_error_presenter::set_continue_hook({});
  wizard_error_presenter::set_internal_hook({});
  wizard_shell::set_help_opener({});
  wizard_shell::set_help_dir({});
  file_dialog::set_run_hook({});
  gui_bridge::set_wait_limit(std::nullopt);
  gui_bridge::set_closing(false);
  if (m_had_config)
    setenv("XDG_CONFIG_HOME", m_saved_config.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
}

std::vector<std::string> environment::continue_questions() const {
  std::lock_guard lock(m_error_mutex);
  return m_continue_questions;
}

std::vector<std::string> environment::internal_errors() const {
  std::lock_guard lock(m_error_mutex);
  return m_internal_errors;
}

void environment::use_real_error_dialogs() {
  wizard_error_presenter::set_continue_hook({});
  wizard_error_presenter::set_internal_hook({});
}

wizard_shell& environment::shell() {
  if (!m_shell) {
    m_shell = std::make_unique<wizard_shell>(L"Tamarind 1.0", 501, 311, 312);
    m_handler->set_frame(&m_shell->frame());
    if (m_converter) m_converter->set_frame(&m_shell->frame());
  }
  return *m_shell;
}

void environment::show() {
  shell().show();
  pump();
}

void environment::destroy_shell() {
  if (!m_shell) return;
  if (m_converter) m_converter->set_frame(nullptr);
  m_handler->set_frame(nullptr);
  m_shell->hide();
  m_shell.reset();
  pump(0);
}

// ---- waits ---------------------------------------------------------------------------------

bool wait_until(const std::function<bool()>& condition, int timeout_ms) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() > timeout_ms) return condition();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::sendPostedEvents();
  }
  return true;
}

void pump(int ms) {
  QElapsedTimer clock;
  clock.start();
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::sendPostedEvents();
  } while (clock.elapsed() < ms);
}

void when_modal(std::function<void(QWidget*)> action, QWidget* except, int timeout_ms) {
  auto* timer = new QTimer(&app());
  auto started = std::make_shared<QElapsedTimer>();
  started->start();
  QPointer<QWidget> skip(except);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, action, skip, started, timeout_ms] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != skip.data() && modal->isVisible()) {
      timer->stop();
      timer->deleteLater();
      action(modal);
      return;
    }
    if (started->elapsed() > timeout_ms) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(10);
}

}  // namespace wizard_test
