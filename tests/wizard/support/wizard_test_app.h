#pragma once
// What every wizard test needs: the QApplication (offscreen), a scratch key store, the error
// handler with the wizard's presenter, the converter, a shell attached to both, recorded boxes,
// and waits that process events and always end.
#include <QApplication>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "converter/error_handler.h"
#include "converter/tamarind_convertor.h"
#include "wizard/errors/wizard_error_presenter.h"
#include "wizard/shell/wizard_shell.h"

namespace wizard_test {

/// The one QApplication of the test program, made on first use (QT_QPA_PLATFORM=offscreen
/// unless the caller chose a platform).
QApplication& app();

/// Records every box of wizard_shell instead of showing it, and answers questions from a script.
class box_recorder {
 public:
  box_recorder();
  ~box_recorder();
  box_recorder(const box_recorder&) = delete;
  box_recorder& operator=(const box_recorder&) = delete;

  /// The answers of the next questions, in order (true for Yes); afterwards `default_answer`.
  void answer_next(bool yes);
  void set_default_answer(bool yes);
  std::vector<wizard_box> boxes() const;
  std::size_t count() const;
  /// The last box's text, or empty.
  QString last_text() const;
  void clear();

 private:
  mutable std::mutex m_mutex;
  std::vector<wizard_box> m_boxes;
  std::vector<bool> m_answers;
  bool m_default = false;
};

/// A scratch folder, removed with its content when the object goes.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  const std::string& path() const noexcept { return m_path; }
  std::string file(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

/// The objects a wizard test works in. The key store lives in a scratch folder (XDG_CONFIG_HOME),
/// so no test reads or writes the user's settings.
class environment {
 public:
  /// `with_converter` false: no tamarind_convertor (tests that build their own, or the program start).
  explicit environment(bool with_converter = true);
  /// Fails the test when a request of another thread waited past the limit (it was declined
  /// unseen, so the test would otherwise pass on a box nobody saw).
  ~environment();
  environment(const environment&) = delete;
  environment& operator=(const environment&) = delete;

  error_handler& handler() { return *m_handler; }
  tamarind_convertor& converter() { return *m_converter; }
  box_recorder& boxes() { return *m_boxes; }
  const temp_dir& dir() const { return m_dir; }

  /// The shell ("Tamarind 1.0", 501, 311, 312), made on first use and attached as the converter's
  /// and the handler's frame. Add pages, then show().
  wizard_shell& shell();
  /// Shows the shell (not modal) and lets the first page activate.
  void show();
  /// Destroys the shell now (its pages stop their work).
  void destroy_shell();

  /// The error dialogs are replaced by recorders, so a stray error never blocks a test: the
  /// Continue/Abort dialog answers Continue, the internal-error dialog just records (the handler
  /// still ends the program with its exit signal). The texts, oldest first:
  std::vector<std::string> continue_questions() const;
  std::vector<std::string> internal_errors() const;
  /// Shows the real dialogs instead (answer them with when_modal).
  void use_real_error_dialogs();

 private:
  temp_dir m_dir;
  unsigned m_timed_out_at_start = 0;
  std::string m_saved_config;
  bool m_had_config = false;
  std::unique_ptr<error_handler> m_handler;
  std::unique_ptr<wizard_error_presenter> m_presenter;
  std::unique_ptr<box_recorder> m_boxes;
  std::unique_ptr<tamarind_convertor> m_converter;
  std::unique_ptr<wizard_shell> m_shell;
  mutable std::mutex m_error_mutex;
  std::vector<std::string> m_continue_questions;
  std::vector<std::string> m_internal_errors;
};

/// Processes events until the condition holds or the time is up; the condition's last value.
bool wait_until(const std::function<bool()>& condition, int timeout_ms = 5000);
/// Processes events for a while.
void pump(int ms = 20);

/// Runs `action` on the next modal widget other than `except` once it appears (polled on the GUI
/// thread); gives up after the time limit. Use before the call that opens the dialog.
void when_modal(std::function<void(QWidget*)> action, QWidget* except = nullptr, int timeout_ms = 5000);

/// The control "id_<id>" below a widget, of a type.
template <class T>
T* find_ctrl(QWidget* parent, int id) {
  return parent->findChild<T*>(QStringLiteral("id_%1").arg(id));
}

}  // namespace wizard_test
