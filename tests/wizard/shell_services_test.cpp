// The shell's services: boxes and their captions, help, the timer, the log window, the bridge
// that serves other threads, and the guard around everything Qt calls.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <new>
#include <thread>

#include "converter/exit_signal.h"
#include "converter/frame_services.h"
#include "shell_test_pages.h"
#include "support/wizard_test_app.h"
#include "tk/tk_exception.h"
#include "wizard/shell/gui_bridge.h"
#include "wizard/shell/wizard_guard.h"
#include "wizard/shell/wizard_shell.h"

using namespace wizard_test;

TEST(ShellBoxes, CaptionAndOwnerDependOnWhetherTheWizardIsSetUp) {
  environment env(false);
  wizard_shell::error(L"before any shell");
  wizard_shell& shell = env.shell();
  shell.add_page(new scripted_page(1, wiz_next, 0));
  wizard_shell::message(L"before the first page");
  env.show();
  wizard_shell::error(std::string("after \xc3\xa4"));
  wizard_shell::question(L"q?");
  const auto boxes = env.boxes().boxes();
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[0].caption, QStringLiteral("Error"));
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_EQ(boxes[1].caption, QStringLiteral("Message"));
  EXPECT_EQ(boxes[1].owner, nullptr);
  EXPECT_EQ(boxes[2].caption, QStringLiteral("Tamarind 1.0 Error"));
  EXPECT_EQ(boxes[2].text, QString::fromUtf8("after \xc3\xa4"));
  EXPECT_EQ(boxes[2].owner, &shell);
  EXPECT_EQ(boxes[3].caption, QStringLiteral("Tamarind 1.0 Question"));
  EXPECT_FALSE(boxes[3].default_no);
}

TEST(ShellBoxes, RealQuestionWithSecondDefaultAnswersNoOnEnter) {
  environment env(false);
  wizard_shell::set_box_hook({});  // the real QMessageBox
  QString caption;
  when_modal([&](QWidget* modal) {
    caption = modal->windowTitle();
    QTest::keyClick(modal, Qt::Key_Return);
  });
  EXPECT_FALSE(wizard_shell::question(L"Sure?", true));
  EXPECT_EQ(caption, QStringLiteral("Question"));
  when_modal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); });
  EXPECT_TRUE(wizard_shell::question(L"Sure?", false));
}

TEST(ShellHelp, MissingHelpFileIsAnErrorBoxAndAPresentOneGoesToTheOpener) {
  environment env(false);
  wizard_shell::set_help_dir(QString::fromStdString(env.dir().path()));
  std::vector<QString> opened;
  wizard_shell::set_help_opener([&](const QString& path) {
    opened.push_back(path);
    return true;
  });
  wizard_shell::display_help(1015);
  EXPECT_TRUE(opened.empty());
  ASSERT_EQ(env.boxes().count(), 1u);
  EXPECT_EQ(env.boxes().last_text(), QStringLiteral("Help file does not exist. Reinstall the program."));
  EXPECT_FALSE(wizard_shell::display_help_contents());
  EXPECT_EQ(env.boxes().count(), 2u);

  for (const char* name : {"1015.html", "index.html"}) {
    QFile file(QString::fromStdString(env.dir().file(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<html></html>");
  }
  wizard_shell::display_help(1015);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_TRUE(opened[0].endsWith(QStringLiteral("/1015.html")));
  EXPECT_TRUE(wizard_shell::display_help_contents());
  EXPECT_EQ(env.boxes().count(), 2u);

  // An opener that fails: the contents report it, like a missing file.
  wizard_shell::set_help_opener([](const QString&) { return false; });
  EXPECT_FALSE(wizard_shell::display_help_contents());
  EXPECT_EQ(env.boxes().count(), 3u);
}

TEST(ShellHelp, WithoutABrowserABoxSaysSoAndWhereTheHelpPagesAre) {
  environment env(false);
  wizard_shell::set_help_dir(QString::fromStdString(env.dir().path()));
  wizard_shell::set_help_opener({});
  QFile page(QString::fromStdString(env.dir().file("1015.html")));
  ASSERT_TRUE(page.open(QIODevice::WriteOnly));
  page.close();
  // xdg-open that finds no browser (it fails), then no xdg-open at all.
  const std::string bin = env.dir().file("bin");
  std::filesystem::create_directory(bin);
  std::ofstream(bin + "/xdg-open") << "#!/bin/sh\nexit 3\n";
  std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  for (const std::string& search : {bin, env.dir().file("empty")}) {
    setenv("PATH", search.c_str(), 1);
    env.boxes().clear();
    wizard_shell::display_help(1015);
    EXPECT_TRUE(wait_until([&] { return env.boxes().count() == 1; })) << search;
    EXPECT_EQ(env.boxes().last_text(),
              QString::fromStdString("No web browser could be started to show the help.\nThe help pages are in the "
                                     "folder '" + env.dir().path() + "'."));
  }
  setenv("PATH", path.c_str(), 1);
}

TEST(ShellHelp, ProgramPlacesAreBesideTheProgramThenInShare) {
  EXPECT_TRUE(wizard_shell::help_file(QStringLiteral("1010.html")).endsWith(QStringLiteral("/help/1010.html")));
}

TEST(ShellTimer, SecondStartIsAnInternalErrorAndStopActsOnlyWhenRunning) {
  environment env(false);
  wizard_shell& shell = env.shell();
  auto* page = new scripted_page(1, wiz_next, 0);
  shell.add_page(page);
  env.show();
  shell.stop_timer();  // not running: nothing
  shell.start_timer(10);
  EXPECT_THROW(shell.start_timer(10), tk_mail_assertion);
  ASSERT_TRUE(wait_until([&] { return page->ticks >= 2; }));
  shell.stop_timer();
  EXPECT_FALSE(shell.is_timer_running());
  const int ticks = page->ticks;
  pump(60);
  EXPECT_EQ(page->ticks, ticks);
}

TEST(ShellTimer, StartedFromAWorkerTicksOnTheGuiThread) {
  environment env(false);
  wizard_shell& shell = env.shell();
  auto* page = new scripted_page(1, wiz_next, 0);
  shell.add_page(page);
  env.show();
  std::thread worker([&] { shell.start_timer(10); });
  worker.join();
  ASSERT_TRUE(wait_until([&] { return page->ticks > 0; }));
  EXPECT_EQ(page->tick_thread, std::this_thread::get_id());
  std::thread stopper([&] { EXPECT_THROW(shell.start_timer(10), tk_mail_assertion); shell.stop_timer(); });
  stopper.join();
  pump(30);
  const int ticks = page->ticks;
  pump(60);
  EXPECT_EQ(page->ticks, ticks);
}

TEST(ShellLog, WritesOnlyToAPageWithALogAndQueuesFromWorkers) {
  environment env(false);
  wizard_shell& shell = env.shell();
  auto* source = new scripted_page(105, wiz_next, 0);
  auto* finish = new scripted_page(116, wiz_finish, 0, true);
  shell.add_page(source);
  shell.add_page(finish);
  env.show();
  shell.write_log(L"dropped\n");
  std::thread([&] { shell.write_log(L"also dropped\n"); }).join();
  pump(10);
  shell.next();
  auto* log = find_ctrl<QPlainTextEdit>(finish, 1016);
  ASSERT_NE(log, nullptr);
  EXPECT_TRUE(log->toPlainText().isEmpty());
  shell.write_log(L"first ");
  std::thread([&] { shell.write_log(L"second"); }).join();
  ASSERT_TRUE(wait_until([&] { return log->toPlainText().contains(QStringLiteral("second")); }));
  EXPECT_EQ(log->toPlainText(), QStringLiteral("first second"));
}

TEST(ShellBridge, WorkerBoxIsShownOnTheGuiThreadAndItsAnswerReturns) {
  environment env(false);
  std::thread::id box_thread;
  wizard_shell::set_box_hook([&](const wizard_box&) {
    box_thread = std::this_thread::get_id();
    return true;
  });
  auto answer = std::async(std::launch::async, [] { return wizard_shell::question(L"from a worker"); });
  ASSERT_TRUE(wait_until([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_TRUE(answer.get());
  EXPECT_EQ(box_thread, std::this_thread::get_id());
}

TEST(ShellBridge, ClosingAnswersWaitingAndLaterRequestsUnseen) {
  environment env(false);
  std::atomic<int> shown{0};
  wizard_shell::set_box_hook([&](const wizard_box&) {
    ++shown;
    return true;
  });
  // The GUI thread does not serve the request yet: it waits until the wizard closes.
  auto waiting = std::async(std::launch::async, [] { return wizard_shell::question(L"pending"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  gui_bridge::set_closing(true);
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_FALSE(waiting.get());
  auto later = std::async(std::launch::async, [] { return wizard_shell::question(L"later"); });
  ASSERT_EQ(later.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_FALSE(later.get());
  pump(20);
  EXPECT_EQ(shown.load(), 0) << "a request answered unseen never shows afterwards";
  gui_bridge::set_closing(false);
}

TEST(ShellGuard, TkExceptionGoesToTheHandlerOtherExceptionsToABoxBothCloseWithAnErrorStatus) {
  {
    environment env(false);
    wizard_shell& shell = env.shell();
    auto* page = new scripted_page(1, wiz_next, 0);
    auto* second = new scripted_page(2, wiz_finish, 0);
    page->next_hook = [] { throw tk_exception("Something failed", tk_level_error); };
    shell.add_page(page);
    shell.add_page(second);
    env.show();
    shell.next();
    EXPECT_FALSE(shell.isVisible());
    EXPECT_EQ(shell.result(), 1);
    EXPECT_EQ(shell.forced_status(), 1);
    ASSERT_EQ(env.boxes().count(), 1u);
    EXPECT_EQ(env.boxes().last_text(), QStringLiteral("Something failed"));
    EXPECT_EQ(env.handler().reported().level1, 1u) << "reported through the handler";
    EXPECT_EQ(second->count("init"), 0u);
  }
  {
    environment env(false);
    wizard_shell& shell = env.shell();
    auto* page = new scripted_page(1, wiz_next, 0);
    page->next_hook = [] { throw std::bad_alloc(); };
    shell.add_page(page);
    env.show();
    shell.next();
    EXPECT_FALSE(shell.isVisible());
    EXPECT_EQ(shell.forced_status(), 1);
    ASSERT_EQ(env.boxes().count(), 1u);
    EXPECT_EQ(env.boxes().boxes()[0].caption, QStringLiteral("Tamarind 1.0 Error"));
    EXPECT_EQ(env.boxes().last_text(), QString::fromUtf8(std::bad_alloc().what()));
    EXPECT_EQ(env.handler().reported().total(), 0u);
  }
}

TEST(ShellGuard, InternalErrorInAPageClosesTheWizardWith255) {
  environment env(false);
  std::vector<std::string> internal;
  wizard_error_presenter::set_internal_hook([&](const std::string& text) { internal.push_back(text); });
  wizard_shell& shell = env.shell();
  auto* page = new scripted_page(1, wiz_next, 0);
  page->next_hook = [] { TK_ASSERT_SITE("..\\TK/tk_singl", 59); };
  shell.add_page(page);
  shell.add_page(new scripted_page(2, wiz_finish, 0));
  env.show();
  shell.next();
  EXPECT_FALSE(shell.isVisible());
  EXPECT_EQ(shell.forced_status(), 255);
  ASSERT_EQ(internal.size(), 1u);
  EXPECT_EQ(internal[0], "Internal error: \ncode=2e2e5c544b2f746b5f73696e676c5c3539");
}

TEST(ShellGuard, GuardOutsideAnyWizardReportsAndReturnsFalse) {
  environment env(false);
  EXPECT_TRUE(wizard_guard([] {}));
  EXPECT_FALSE(wizard_guard([] { throw std::runtime_error("plain"); }));
  EXPECT_EQ(env.boxes().last_text(), QStringLiteral("plain"));
  EXPECT_EQ(wizard_guarded([] { return 7; }, -1), 7);
  EXPECT_EQ(wizard_guarded([]() -> int { throw std::runtime_error("x"); }, -1), -1);
}

TEST(ShellFrame, MissingWorksheetsMakeOneBoxAndTheFinishPageFollowsTheRun) {
  environment env(false);
  wizard_shell& shell = env.shell();
  six_pages p = add_six_pages(shell);
  env.show();
  shell.frame().worksheets_not_found({L"Sheet9", L"Other"});
  EXPECT_EQ(env.boxes().count(), 1u);
  EXPECT_EQ(env.boxes().last_text(),
            QStringLiteral("These worksheets were not found in the workbook:\nSheet9\nOther"));
  for (int i = 0; i < 4; ++i) shell.next();
  ASSERT_EQ(shell.currentId(), 107);
  std::thread([&] { shell.frame().show_finish_page(); }).join();
  ASSERT_TRUE(wait_until([&] { return shell.currentId() == 116; }));
  EXPECT_EQ(p.finish->count("init"), 1u);
}

TEST(ShellGuard, PageInitThatThrowsClosesTheWizardAfterAnErrorBoxNotContinue) {
  environment env(false);
  wizard_shell& shell = env.shell();
  auto* first = new scripted_page(1, wiz_next, 0);
  auto* second = new scripted_page(2, wiz_finish, 0);
  second->init_hook = [] { throw tk_exception("cannot list", tk_level_recoverable); };
  shell.add_page(first);
  shell.add_page(second);
  env.show();
  shell.next();
  pump(10);
  EXPECT_FALSE(shell.isVisible());
  EXPECT_EQ(shell.forced_status(), 1);
  // Nothing can go on after it: OK, never a Continue that quits.
  EXPECT_TRUE(env.continue_questions().empty());
  ASSERT_EQ(env.boxes().count(), 1u);
  EXPECT_EQ(env.boxes().last_text(), QStringLiteral("cannot list"));
}

TEST(ShellClosingFromWorker, ExitSignalWhileADialogIsOpenClosesTheDialogThenTheWizard) {
  environment env(false);
  wizard_shell& shell = env.shell();
  auto* page = new scripted_page(1, wiz_next, 0);
  shell.add_page(page);
  env.show();
  QDialog nested(&shell);
  nested.setObjectName(QStringLiteral("nested"));
  std::thread worker;
  QTimer::singleShot(20, [&] { worker = std::thread([&] { shell.end_wizard(255); }); });
  nested.exec();  // the end closes it
  worker.join();
  ASSERT_TRUE(wait_until([&] { return !shell.isVisible(); }));
  EXPECT_EQ(shell.forced_status(), 255);
  EXPECT_EQ(page->count("stop"), 1u);
}

namespace {

/// A page whose worker asks a question; its stop waits for that worker as a page does (events
/// going), but only for a while, so that a close that could never join it fails instead of hanging.
class asking_worker_page : public wizard_page_base {
 public:
  asking_worker_page() : wizard_page_base(1, wiz_next, 0) {}
  ~asking_worker_page() override {
    if (m_worker.joinable()) m_worker.join();
  }
  void start() {
    m_worker = std::thread([this] {
      answer.store(wizard_shell::question(L"Go on?"));
      finished.store(true);
    });
  }
  void stop_work() noexcept override {
    if (stopped) return;
    stopped = true;
    joined_at_stop = wait_until([this] { return finished.load(); }, 3000);
  }

  std::atomic<bool> finished{false};
  std::atomic<bool> answer{false};
  bool stopped = false;
  bool joined_at_stop = false;

 private:
  std::thread m_worker;
};

}  // namespace

TEST(ShellClosingFromWorker, ClosingWhileAWorkersBoxIsUpLetsTheBoxEndBeforeTheWorkIsStopped) {
  {
    SCOPED_TRACE("the box answered by a hook that ends the wizard");
    environment env(false);
    wizard_shell& shell = env.shell();
    auto* page = new asking_worker_page;
    shell.add_page(page);
    env.show();
    wizard_shell::set_box_hook([&](const wizard_box&) {
      shell.end_wizard(0);  // as a guard does when a slot fails while the box is up
      return true;
    });
    page->start();
    ASSERT_TRUE(wait_until([&] { return !shell.isVisible(); }, 10000));
    EXPECT_TRUE(page->stopped);
    EXPECT_TRUE(page->joined_at_stop) << "the close waited for a worker that waited for the close";
    EXPECT_TRUE(page->answer.load()) << "the box was answered";
    EXPECT_EQ(shell.forced_status(), 0);
  }
  {
    SCOPED_TRACE("a real box, the wizard ended from inside its event loop");
    environment env(false);
    wizard_shell& shell = env.shell();
    auto* page = new asking_worker_page;
    shell.add_page(page);
    env.show();
    wizard_shell::set_box_hook({});
    bool box_seen = false;
    when_modal([&](QWidget* modal) {
      box_seen = qobject_cast<QMessageBox*>(modal) != nullptr;
      shell.end_wizard(0);
    });
    page->start();
    ASSERT_TRUE(wait_until([&] { return !shell.isVisible(); }, 10000));
    EXPECT_TRUE(box_seen);
    EXPECT_TRUE(page->stopped);
    EXPECT_TRUE(page->joined_at_stop) << "the close waited for a worker that waited for the close";
    EXPECT_FALSE(page->answer.load()) << "a box closed by the end answers No";
  }
}
