// The error dialogs and the wizard's presenter: what the user sees for each level, on which
// thread, and what the buttons do.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "converter/exit_signal.h"
#include "shell_test_pages.h"
#include "support/wizard_test_app.h"
#include "tk/tk_exception.h"
#include "wizard/errors/dlg_error_continue.h"
#include "wizard/errors/dlg_error_ex.h"

using namespace wizard_test;

namespace {

/// A tk_exception with a code, as the database sides raise them.
class coded_exception : public tk_exception {
 public:
  coded_exception(const std::string& text, int code, int level) : tk_exception(text, code, level, nullptr) {}
};

QPushButton* button(QWidget* dialog, int id) { return find_ctrl<QPushButton>(dialog, id); }

}  // namespace

TEST(ErrorContinueDialog, ButtonsGiveTheirIdsAndEscapeContinues) {
  environment env(false);
  {
    dlg_error_continue dialog(L"Sheet1: bad value");
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Error"));
    EXPECT_EQ(find_ctrl<QLabel>(&dialog, 1320)->text(), QStringLiteral("Sheet1: bad value"));
    EXPECT_EQ(find_ctrl<QCheckBox>(&dialog, 1222)->text(), QStringLiteral("&Do not show this dialog box again"));
    EXPECT_TRUE(button(&dialog, 2)->isDefault());
    EXPECT_EQ(button(&dialog, 2)->text(), QStringLiteral("Continue"));
    when_modal([](QWidget* modal) { button(modal, 1)->click(); });
    EXPECT_EQ(dialog.exec(), 1);
    EXPECT_FALSE(dialog.do_not_show_again());
  }
  {
    dlg_error_continue dialog(L"x");
    when_modal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    EXPECT_EQ(dialog.exec(), 2);
  }
  {
    dlg_error_continue dialog(L"x");
    when_modal([](QWidget* modal) {
      find_ctrl<QCheckBox>(modal, 1222)->click();
      find_ctrl<QCheckBox>(modal, 1222)->click();
      find_ctrl<QCheckBox>(modal, 1222)->click();
      QTest::keyClick(modal, Qt::Key_Return);
    });
    EXPECT_EQ(dialog.exec(), 2);
    EXPECT_TRUE(dialog.do_not_show_again());
  }
}

TEST(InternalErrorDialog, CopyFillsTheClipboardAndEscapeIsOk) {
  environment env(false);
  {
    dlg_error_ex dialog(L"Internal error: \ncode=41");
    EXPECT_TRUE(button(&dialog, 1112)->isDefault());
    EXPECT_EQ(button(&dialog, 1108)->text(), QStringLiteral("Copy to clipboard"));
    when_modal([](QWidget* modal) { button(modal, 1108)->click(); });
    EXPECT_EQ(dialog.exec(), 1108);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Internal error: \ncode=41"));
  }
  {
    dlg_error_ex dialog(L"x");
    when_modal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    EXPECT_EQ(dialog.exec(), 1);
  }
}

TEST(InternalErrorDialog, SendBugMailsTheTextWithTheWizardsTitle) {
  environment env(false);
  // A stand-in mail program that writes its arguments into a file.
  const std::string record = env.dir().file("mail.txt");
  const std::string script = env.dir().file("xdg-email");
  {
    std::ofstream out(script);
    out << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << record << ".part'\nmv '" << record
        << ".part' '" << record << "'\n";
  }
  ASSERT_EQ(std::system(("chmod +x '" + script + "'").c_str()), 0);
  const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (env.dir().path() + ":" + old_path).c_str(), 1);

  wizard_shell& shell = env.shell();
  shell.add_page(new scripted_page(1, wiz_next, 0));
  env.show();
  {
    dlg_error_ex dialog(L"Internal error: \ncode=42", &shell);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Tamarind 1.0 Error"));
    when_modal([](QWidget* modal) { button(modal, 1112)->click(); }, &shell);
    EXPECT_EQ(dialog.exec(), 1112);
  }
  setenv("PATH", old_path.c_str(), 1);
  ASSERT_TRUE(wait_until([&] { return std::ifstream(record).good(); }, 10000));
  std::stringstream text;
  text << std::ifstream(record).rdbuf();
  EXPECT_NE(text.str().find("Bug report on Tamarind 1.0\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("code=42"), std::string::npos);
  EXPECT_NE(text.str().find("support@hollowmere.example"), std::string::npos);
}

TEST(WizardPresenter, WorkersRecoverableErrorIsAskedOnTheGuiThreadWithContextAndMappedText) {
  environment env(false);
  wizard_shell& shell = env.shell();
  shell.add_page(new scripted_page(1, wiz_next, 0));
  env.show();
  std::thread::id asked_on;
  std::string asked;
  wizard_error_presenter::set_continue_hook([&](const std::string& text) {
    asked_on = std::this_thread::get_id();
    asked = text;
    return error_presenter::continue_answer{};
  });
  env.handler().set_context(L"Sheet1", 5);
  auto done = std::async(std::launch::async, [&] {
    env.handler().handle(coded_exception("password authentication failed", -30082, tk_level_recoverable), false);
  });
  ASSERT_TRUE(wait_until([&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  done.get();
  EXPECT_EQ(asked_on, std::this_thread::get_id());
  EXPECT_EQ(asked, "Sheet1, record #5: Incorrect username or password");
  EXPECT_EQ(shell.errors(), std::vector<std::string>{asked});
}

TEST(WizardPresenter, ContinueWithTickSilencesLaterErrorsAbortEndsTheRun) {
  environment env(false);
  wizard_shell& shell = env.shell();
  shell.add_page(new scripted_page(1, wiz_next, 0));
  env.show();
  int asked = 0;
  wizard_error_presenter::set_continue_hook([&](const std::string&) {
    ++asked;
    return error_presenter::continue_answer{true, true};  // Abort, box ticked
  });
  EXPECT_THROW(env.handler().handle(tk_exception("first", tk_level_recoverable), false), tk_final_exception);
  EXPECT_FALSE(env.handler().is_quiet()) << "Abort leaves the switch alone";

  wizard_error_presenter::set_continue_hook([&](const std::string&) {
    ++asked;
    return error_presenter::continue_answer{false, true};  // Continue, box ticked
  });
  env.handler().handle(tk_exception("second", tk_level_recoverable), false);
  EXPECT_TRUE(env.handler().is_quiet());
  env.handler().handle(tk_exception("third", tk_level_recoverable), false);
  EXPECT_EQ(asked, 2);
  // A level-1 error shows no box any more but still ends the run.
  EXPECT_THROW(env.handler().handle(tk_exception("fourth", tk_level_error), false), tk_final_exception);
  EXPECT_EQ(env.boxes().count(), 0u);
  // 25 errors reported, 20 listed.
  for (int i = 0; i < 25; ++i) env.handler().handle(tk_exception("more\nlines", tk_level_recoverable), true);
  const auto listed = shell.errors();
  ASSERT_EQ(listed.size(), 20u);
  EXPECT_EQ(listed.back(), "more lines");
}

TEST(WizardPresenter, RealContinueDialogFromAWorkerAndTheUnseenAnswerWhileClosing) {
  environment env(false);
  env.use_real_error_dialogs();
  wizard_shell& shell = env.shell();
  shell.add_page(new scripted_page(1, wiz_next, 0));
  env.show();
  QString caption;
  when_modal(
      [&](QWidget* modal) {
        caption = modal->windowTitle();
        button(modal, 1)->click();  // Abort
      },
      &shell);
  auto aborted = std::async(std::launch::async, [&] {
    try {
      env.handler().handle(tk_exception("bad row", tk_level_recoverable), false);
    } catch (const tk_final_exception&) {
      return true;
    }
    return false;
  });
  ASSERT_TRUE(wait_until([&] { return aborted.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_TRUE(aborted.get());
  EXPECT_EQ(caption, QStringLiteral("Tamarind 1.0 Error"));

  // While the wizard closes nobody is asked: the run is ended as by Abort.
  shell.end_wizard(0);
  auto late = std::async(std::launch::async, [&] {
    try {
      env.handler().handle(tk_exception("late", tk_level_recoverable), false);
    } catch (const tk_final_exception&) {
      return true;
    }
    return false;
  });
  ASSERT_EQ(late.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_TRUE(late.get());
}

TEST(WizardPresenter, InternalErrorShowsTheDialogThenEndsWith255) {
  environment env(false);
  env.use_real_error_dialogs();
  QString text;
  when_modal([&](QWidget* modal) {
    text = find_ctrl<QLabel>(modal, 1320)->text();
    button(modal, 1)->click();
  });
  try {
    env.handler().handle(tk_mail_assertion("..\\TK/tk_singl", 59), true);
    FAIL() << "an internal error must end the program";
  } catch (const tmd_exit_signal& signal) {
    EXPECT_EQ(signal.status(), 255);
  }
  EXPECT_EQ(text, QStringLiteral("Internal error: \ncode=2e2e5c544b2f746b5f73696e676c5c3539"));
}
