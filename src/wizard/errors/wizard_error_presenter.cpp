#include "wizard/errors/wizard_error_presenter.h"

#include <QApplication>
#include <cstdio>
#include <mutex>

#include "wizard/errors/dlg_error_continue.h"
#include "wizard/errors/dlg_error_ex.h"
#include "wizard/shell/gui_bridge.h"
#include "wizard/shell/wizard_shell.h"
#include "tk/tk_string.h"

namespace {

std::mutex hooks_mutex;
wizard_error_presenter::continue_hook continue_hook_fn;
wizard_error_presenter::internal_hook internal_hook_fn;

thread_local bool continue_impossible = false;

bool have_gui() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

}  // namespace

void wizard_error_presenter::internal_error(const std::string& message) {
  internal_hook hook;
  {
    std::lock_guard lock(hooks_mutex);
    hook = internal_hook_fn;
  }
  if (hook) {
    gui_bridge::run_and_wait([&] { hook(message); });
    return;
  }
  if (!have_gui()) {
    std::fprintf(stderr, "Internal error: %s\n", message.c_str());
    std::fflush(stderr);
    return;
  }
  // Answered unseen while the wizard closes: the program ends all the same.
  gui_bridge::run_and_wait([&] {
    dlg_error_ex dialog(tk_utf8_to_unicode(message), wizard_shell::initialized_instance());
    dialog.exec();
  });
}

void wizard_error_presenter::error(const std::string& text) { wizard_shell::logged_error(text); }

wizard_error_presenter::no_continue_scope::no_continue_scope() : m_previous(continue_impossible) {
  continue_impossible = true;
}

wizard_error_presenter::no_continue_scope::~no_continue_scope() { continue_impossible = m_previous; }

error_presenter::continue_answer wizard_error_presenter::ask_continue(const std::string& text) {
  if (continue_impossible) {
    wizard_shell::logged_error(text);
    continue_answer answer;
    answer.abort = true;
    return answer;
  }
  continue_hook hook;
  {
    std::lock_guard lock(hooks_mutex);
    hook = continue_hook_fn;
  }
  // Not shown while the wizard closes: that counts as Abort, so a run being stopped ends.
  continue_answer unseen;
  unseen.abort = true;
  if (hook) return gui_bridge::call<continue_answer>([&] { return hook(text); }, unseen);
  if (!have_gui()) {
    std::fprintf(stderr, "Error: %s\n", text.c_str());
    std::fflush(stderr);
    return {};
  }
  return gui_bridge::call<continue_answer>(
      [&] {
        dlg_error_continue dialog(tk_utf8_to_unicode(text), wizard_shell::initialized_instance());
        const int result = dialog.exec();
        continue_answer answer;
        answer.abort = result == dlg_error_continue::id_abort;
        answer.do_not_show_again = dialog.do_not_show_again();
        return answer;
      },
      unseen);
}

void wizard_error_presenter::set_continue_hook(continue_hook hook) {
  std::lock_guard lock(hooks_mutex);
  continue_hook_fn = std::move(hook);
}

void wizard_error_presenter::set_internal_hook(internal_hook hook) {
  std::lock_guard lock(hooks_mutex);
  internal_hook_fn = std::move(hook);
}
