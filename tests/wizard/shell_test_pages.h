#pragma once
// A scriptable page for the shell and page tests: records what the shell called, answers as told.
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "wizard/page/wizard_page.h"
#include "wizard/shell/wizard_shell.h"

namespace wizard_test {

class scripted_page : public wizard_page_base {
 public:
  scripted_page(int id, int buttons, int flags, bool with_log = false) : wizard_page_base(id, buttons, flags) {
    if (with_log) {
      auto* layout = new QVBoxLayout(this);
      auto* log = new QPlainTextEdit(this);
      set_ctrl_id(log, 1016);
      log->setReadOnly(true);
      layout->addWidget(log);
    }
  }

  bool page_init() override {
    calls.push_back("init");
    if (init_hook) init_hook();
    return init_result;
  }
  int on_next() override {
    calls.push_back("next");
    if (next_hook) next_hook();
    return next_result;
  }
  int on_back() override {
    calls.push_back("back");
    return 0;
  }
  bool on_kill_active() override {
    calls.push_back("kill");
    return kill_result;
  }
  bool on_finish() override {
    calls.push_back("finish");
    return finish_result;
  }
  void on_help() override { calls.push_back("help"); }
  void on_timer() override {
    ++ticks;
    tick_thread = std::this_thread::get_id();
  }
  void stop_work() noexcept override { calls.push_back("stop"); }

  std::size_t count(const std::string& call) const {
    std::size_t n = 0;
    for (const auto& c : calls) n += c == call;
    return n;
  }

  std::vector<std::string> calls;
  bool init_result = true;
  int next_result = 0;
  bool kill_result = true;
  bool finish_result = true;
  std::function<void()> init_hook;
  std::function<void()> next_hook;
  int ticks = 0;
  std::thread::id tick_thread;
};

/// The six pages of the wizard as the shell sees them (ids, masks, flags).
struct six_pages {
  scripted_page* welcome;
  scripted_page* connection;
  scripted_page* source;
  scripted_page* tables;
  scripted_page* progress;
  scripted_page* finish;
};

inline six_pages add_six_pages(wizard_shell& shell) {
  six_pages p{};
  p.welcome = new scripted_page(103, wiz_next, psp_hide_header | psp_has_help);
  p.connection = new scripted_page(134, wiz_back | wiz_next, psp_has_help);
  p.source = new scripted_page(105, wiz_back | wiz_next, psp_has_help);
  p.tables = new scripted_page(127, wiz_back | wiz_next, psp_has_help);
  p.progress = new scripted_page(107, wiz_back | wiz_next, psp_has_help);
  p.finish = new scripted_page(116, wiz_finish, psp_hide_header, true);
  for (scripted_page* page : {p.welcome, p.connection, p.source, p.tables, p.progress, p.finish}) shell.add_page(page);
  return p;
}

}  // namespace wizard_test
