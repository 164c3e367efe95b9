// The progress and finish pages over a scripted run: the bar and the status line on each tick,
// the move to the finish page, the outcome shown there, Cancel during a run, help, and saving
// the settings.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>

#include "run_scripted_convertor.h"
#include "support/wizard_test_app.h"
#include "tk/tk_string.h"
#include "udb/udb_profile.h"
#include "wizard/app/ui_messages.h"
#include "wizard/app/wizard_log.h"
#include "wizard/dialogs/file_dialog.h"
#include "wizard/pages/gui_finish_page.h"
#include "wizard/pages/progress_page.h"
#include "wizard/page/wizard_page.h"
#include "wizard/shell/gui_bridge.h"

using namespace wizard_test;
using run_test::scripted_convertor;

namespace {

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// The shell as a run sees it: the progress page first (as after a quick launch), then the
/// finish page. The page starts the run when the wizard is shown.
class RunPages : public ::testing::Test {
 protected:
  RunPages() : env(false) {}
  ~RunPages() override {
    // The pages stop the run before the converter goes.
    env.destroy_shell();
    converter.reset();
  }

  scripted_convertor& make_converter() {
    converter = std::make_unique<scripted_convertor>();
    return *converter;
  }

  void build() {
    converter->set_frame(&env.shell().frame());
    env.shell().add_page(progress = new progress_page);
    env.shell().add_page(finish = new gui_finish_page_t(ui_msg_conversion_succeeded, ui_messages[0]));
    finish->set_profile_ext(ui_profile_ext);
  }

  void start() {
    build();
    env.show();
    ASSERT_TRUE(wait_until([&] { return converter->started(); }));
  }

  bool reaches_finish_page() {
    return wait_until([&] { return env.shell().currentId() == 116; });
  }

  QProgressBar* bar() { return find_ctrl<QProgressBar>(progress, 1321); }
  QString status() { return find_ctrl<QLabel>(progress, 1323)->text(); }
  bool enabled(QWizard::WizardButton which) { return env.shell().button(which)->isEnabled(); }

  environment env;
  std::unique_ptr<scripted_convertor> converter;
  progress_page* progress = nullptr;
  gui_finish_page_t* finish = nullptr;
};

}  // namespace

TEST_F(RunPages, TicksShowTheProgressAndTheRunEndsOnTheFinishPageOnce) {
  scripted_convertor& c = make_converter();
  c.sheets = {{L"S1", 7, {}}, {L"S2", 12, {}}};
  QSignalSpy pages(&env.shell(), &QWizard::currentIdChanged);
  start();
  EXPECT_EQ(env.shell().currentId(), 107);
  EXPECT_FALSE(enabled(QWizard::BackButton));
  EXPECT_FALSE(enabled(QWizard::NextButton));
  EXPECT_FALSE(enabled(QWizard::FinishButton));
  EXPECT_TRUE(enabled(QWizard::CancelButton));
  EXPECT_FALSE(find_ctrl<QLabel>(progress, 1324)->isHidden());
  EXPECT_TRUE(find_ctrl<QLabel>(progress, 1325)->isHidden());

  // Before the first worksheet the status line stays empty.
  pump(450);
  EXPECT_EQ(bar()->value(), 0);
  EXPECT_TRUE(status().isEmpty());

  c.open_gate();
  ASSERT_TRUE(wait_until([&] { return bar()->value() == 50; }));
  ASSERT_TRUE(wait_until([&] { return status() == QStringLiteral("Processing worksheet 'S1' (row #7)"); }));
  EXPECT_EQ(env.shell().currentId(), 107);

  c.open_gate();
  ASSERT_TRUE(reaches_finish_page());
  EXPECT_EQ(bar()->value(), 100);
  pump(500);  // later ticks must not move the wizard again
  EXPECT_EQ(pages.count(), 2);  // 107 on show, 116 once
  EXPECT_FALSE(env.shell().is_timer_running());
  EXPECT_FALSE(progress->is_running());
}

TEST_F(RunPages, AFinishedRunShowsSuccessWithOnlyFinishEnabled) {
  scripted_convertor& c = make_converter();
  c.sheets = {{L"S1", 1, {}}};
  c.gated = false;
  start();
  ASSERT_TRUE(reaches_finish_page());
  EXPECT_EQ(find_ctrl<QLabel>(finish, 1314)->text(), QString::fromStdWString(ui_msg_conversion_succeeded));
  EXPECT_TRUE(find_ctrl<QPlainTextEdit>(finish, 1016)->isHidden());
  EXPECT_EQ(find_ctrl<QLabel>(finish, 1313)->text(), QStringLiteral("Conversion is Completed"));
  EXPECT_EQ(find_ctrl<QLabel>(finish, 1313)->font().pointSize(), 13);
  EXPECT_TRUE(enabled(QWizard::FinishButton));
  EXPECT_FALSE(enabled(QWizard::CancelButton));
  EXPECT_FALSE(enabled(QWizard::HelpButton));
  EXPECT_FALSE(enabled(QWizard::BackButton));
  EXPECT_EQ(env.shell().focusWidget(), env.shell().button(QWizard::FinishButton));

  // Escape and the close box do nothing once Cancel is off; Finish closes with 1.
  QTest::keyClick(&env.shell(), Qt::Key_Escape);
  pump();
  EXPECT_TRUE(env.shell().isVisible());
  QTest::mouseClick(env.shell().button(QWizard::FinishButton), Qt::LeftButton);
  pump();
  EXPECT_EQ(env.shell().result(), 1);
}

TEST_F(RunPages, ReportedErrorsAreListedReadOnlyWithLineFeedsAsBlanks) {
  wizard_error_presenter::set_continue_hook([](const std::string&) { return error_presenter::continue_answer{}; });
  scripted_convertor& c = make_converter();
  c.sheets = {{L"S1", 3, {"first\nline"}}, {L"S2", 4, {"second"}}};
  c.gated = false;
  start();
  ASSERT_TRUE(reaches_finish_page());
  EXPECT_EQ(find_ctrl<QLabel>(finish, 1314)->text(), QString::fromStdWString(ui_messages[0]));
  auto* list = find_ctrl<QPlainTextEdit>(finish, 1016);
  EXPECT_FALSE(list->isHidden());
  EXPECT_TRUE(list->isReadOnly());
  EXPECT_EQ(list->toPlainText(), QStringLiteral("S1: first line\n\nS2: second\n\n"));
  EXPECT_FALSE(list->textCursor().hasSelection());
}

TEST_F(RunPages, WorksheetsNotFoundDuringTheRunAreToldInABoxAndListedOnTheFinishPage) {
  scripted_convertor& c = make_converter();
  c.sheets = {{L"S1", 1, {}}};
  c.missing = {L"S2"};
  c.gated = false;
  start();
  ASSERT_TRUE(reaches_finish_page());
  ASSERT_EQ(env.boxes().count(), 1u);
  EXPECT_EQ(env.boxes().last_text(), QStringLiteral("These worksheets were not found in the workbook:\nS2"));
  EXPECT_EQ(find_ctrl<QLabel>(finish, 1314)->text(), QString::fromStdWString(ui_messages[0]));
  EXPECT_EQ(find_ctrl<QPlainTextEdit>(finish, 1016)->toPlainText(), QStringLiteral("Worksheet S2 not found\n\n"));
}

TEST_F(RunPages, ErrorsCountedBeforeTheRunDoNotSpoilASuccess) {
  // A profile loaded before (say) named a worksheet the workbook lacks.
  env.handler().count_reported_error();
  scripted_convertor& c = make_converter();
  c.sheets = {{L"S1", 1, {}}};
  c.gated = false;
  start();
  ASSERT_TRUE(reaches_finish_page());
  EXPECT_EQ(find_ctrl<QLabel>(finish, 1314)->text(), QString::fromStdWString(ui_msg_conversion_succeeded));
}

TEST_F(RunPages, AFailedRunIsToldTrulyWithTheCountOfTheErrorsNotListed) {
  wizard_error_presenter::set_continue_hook([](const std::string&) { return error_presenter::continue_answer{}; });
  scripted_convertor& c = make_converter();
  std::vector<std::string> refused;
  for (int i = 1; i <= 25; ++i) refused.push_back("refused row " + std::to_string(i));
  c.sheets = {{L"S1", 30, refused}};
  c.gated = false;
  // The program's log, as its start makes it; the settings name a file over an old one.
  wizard_log program_log;
  const std::string log = env.dir().file("run.log");
  std::ofstream(log) << "old trace\n";
  c.set_logfile(log);
  env.shell().add_page(new wizard_page_base(103, wiz_next, 0));
  build();
  env.show();
  // Reported before the run (a profile that failed to load): not an error of the run.
  env.handler().handle(tk_exception("before the run", tk_level_recoverable), true);
  ASSERT_EQ(env.handler().listed_errors().size(), 1u);
  env.shell().next();
  ASSERT_TRUE(reaches_finish_page());

  EXPECT_EQ(find_ctrl<QLabel>(finish, 1313)->text(), QStringLiteral("Conversion Ended with Errors"));
  EXPECT_EQ(find_ctrl<QLabel>(finish, 1314)->text(), QString::fromStdWString(ui_messages[0]));
  const QString list = find_ctrl<QPlainTextEdit>(finish, 1016)->toPlainText();
  EXPECT_TRUE(list.startsWith(QStringLiteral("S1: refused row 1\n\n"))) << "not the error before the run";
  EXPECT_FALSE(list.contains(QStringLiteral("refused row 21")));
  EXPECT_TRUE(list.endsWith(QString::fromStdString("5 further errors are not listed here; the log file '" + log +
                                                   "' holds every error.")))
      << list.toStdString();
  // The log holds what corvel's holds: emptied first, the run's start and every error, once.
  const std::string trace = read_text(log);
  EXPECT_EQ(trace.find("old trace"), std::string::npos);
  EXPECT_NE(trace.find("Conversion started on"), std::string::npos);
  EXPECT_NE(trace.find("Error:\nS1: refused row 25\r\n"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("refused row 25\r\nS1: refused row 25"), std::string::npos);
}

TEST_F(RunPages, WithoutALogFileTheListHoldsEveryErrorAndALogThatIsAnInputIsRefused) {
  wizard_error_presenter::set_continue_hook([](const std::string&) { return error_presenter::continue_answer{}; });
  for (const bool log_is_the_workbook : {false, true}) {
    wizard_log program_log;
    scripted_convertor& c = make_converter();
    c.sheets = {{L"S1", 30, std::vector<std::string>(25, "refused")}};
    c.gated = false;
    // A log file that is the workbook: nothing is converted, the workbook is kept.
    const std::string book = env.dir().file("book.xlsx");
    std::ofstream(book) << "workbook bytes";
    c.set_src(tk_utf8_to_unicode(book));
    if (log_is_the_workbook) c.set_logfile(book);
    build();
    env.show();
    ASSERT_TRUE(reaches_finish_page());
    const QString list = find_ctrl<QPlainTextEdit>(finish, 1016)->toPlainText();
    EXPECT_EQ(list.count(QStringLiteral("S1: refused\n\n")), log_is_the_workbook ? 0 : 25) << "every error";
    EXPECT_FALSE(list.contains(QStringLiteral("further")));
    EXPECT_EQ(list.startsWith(QStringLiteral("Logfile name specifies a file the conversion reads: ")), log_is_the_workbook);
    EXPECT_EQ(read_text(book), "workbook bytes");
    env.destroy_shell();
    converter.reset();
    env.handler().set_context(std::wstring());
  }
}

TEST_F(RunPages, ALongWorksheetNameIsShortenedSoTheRowCounterStaysOnTheStatusLine) {
  scripted_convertor& c = make_converter();
  c.sheets = {{std::wstring(200, L'W'), 7, {}}, {L"S2", 1, {}}};
  start();
  const int width = env.shell().width();
  c.open_gate();
  ASSERT_TRUE(wait_until([&] { return status().endsWith(QStringLiteral("(row #7)")); }));
  auto* label = find_ctrl<QLabel>(progress, 1323);
  EXPECT_LE(label->fontMetrics().horizontalAdvance(status()), label->contentsRect().width());
  EXPECT_EQ(env.shell().width(), width) << "the window keeps its width";
}

TEST_F(RunPages, ACsvSourceMovesOnlyTheBar) {
  scripted_convertor& c = make_converter();
  c.set_from_xls(false);
  c.sheets = {{L"S1", 5, {}}, {L"S2", 5, {}}};
  start();
  EXPECT_TRUE(find_ctrl<QLabel>(progress, 1324)->isHidden());
  EXPECT_FALSE(find_ctrl<QLabel>(progress, 1325)->isHidden());
  c.open_gate();
  ASSERT_TRUE(wait_until([&] { return c.sheets_converted() == 1; }));
  pump(450);
  EXPECT_TRUE(status().isEmpty());
  c.open_gate();
  ASSERT_TRUE(reaches_finish_page());
  EXPECT_TRUE(status().isEmpty());
}

TEST_F(RunPages, CancelNoKeepsTheRunGoing) {
  scripted_convertor& c = make_converter();
  c.sheets = {{L"S1", 1, {}}};
  start();
  // The question says what becomes of the worksheet under way: mode 1 rolls it back.
  for (auto [mode, fate] : {std::pair{3, "sent so far stay in its table"}, {1, "keeps its table as it was and none"}}) {
    c.set_mode(mode);
    env.boxes().answer_next(false);
    QTest::mouseClick(env.shell().button(QWizard::CancelButton), Qt::LeftButton);
    pump();
    EXPECT_TRUE(env.boxes().last_text().startsWith(QStringLiteral("Are you sure you want to exit the wizard?\n")));
    EXPECT_TRUE(env.boxes().last_text().contains(QLatin1String(fate))) << mode;
  }
  ASSERT_EQ(env.boxes().count(), 2u);
  EXPECT_TRUE(env.boxes().boxes().front().default_no);
  EXPECT_TRUE(progress->is_running());
  EXPECT_FALSE(c.stop_requested());
  c.open_gate();
  EXPECT_TRUE(reaches_finish_page());
}

TEST_F(RunPages, HelpWithoutItsFileIsReportedAndTheRunGoesOn) {
  scripted_convertor& c = make_converter();
  c.sheets = {{L"S1", 1, {}}};
  wizard_shell::set_help_opener([](const QString&) { return true; });
  wizard_shell::set_help_dir(QString::fromStdString(env.dir().path()));  // holds no help
  start();
  QTest::keyClick(&env.shell(), Qt::Key_F1);
  pump();
  EXPECT_EQ(env.boxes().last_text(), QStringLiteral("Help file does not exist. Reinstall the program."));
  EXPECT_TRUE(progress->is_running());
  EXPECT_EQ(env.shell().currentId(), 107);
  c.open_gate();
  EXPECT_TRUE(reaches_finish_page());
}

TEST_F(RunPages, AnErrorBeforeTheRunStartsIsReportedAndTheRunCountsAsFinished) {
  scripted_convertor& c = make_converter();
  c.body = [] { throw std::runtime_error("cannot start"); };
  build();
  env.show();
  ASSERT_TRUE(wait_until([&] { return c.is_finished(); }));
  ASSERT_TRUE(wait_until([&] { return env.boxes().count() == 1; }));
  EXPECT_EQ(env.boxes().last_text(), QStringLiteral("cannot start"));
  EXPECT_EQ(env.boxes().boxes().front().type, wizard_box::kind::error);
  EXPECT_TRUE(wait_until([&] { return !progress->is_running(); }));
}

TEST_F(RunPages, AnInternalErrorOfTheRunClosesTheWizardWith255) {
  std::string shown;
  wizard_error_presenter::set_internal_hook([&](const std::string& text) { shown = text; });
  scripted_convertor& c = make_converter();
  c.body = [] { throw tk_mail_assertion("tmd_conv", 329); };
  build();
  env.show();
  ASSERT_TRUE(wait_until([&] { return env.shell().forced_status().has_value(); }));
  EXPECT_EQ(*env.shell().forced_status(), 255);
  EXPECT_FALSE(shown.empty());
  EXPECT_TRUE(wait_until([&] { return !env.shell().isVisible(); }));
  EXPECT_TRUE(c.is_finished());
}

// ---- Cancel during a run ------------------------------------------------------------------

TEST(RunCancel, YesStopsTheRunAtAnyPointJoinsAndClosesWithOne) {
  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> delay(0, 40);
  int cancelled = 0;
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    environment env(false);
    auto converter = std::make_unique<scripted_convertor>();
    converter->gated = false;
    converter->pause = std::chrono::milliseconds(5);
    for (int i = 0; i < 20; ++i) converter->sheets.push_back({L"S" + std::to_wstring(i), i, {}});
    converter->set_frame(&env.shell().frame());
    auto* progress = new progress_page;
    env.shell().add_page(progress);
    env.shell().add_page(new gui_finish_page_t(ui_msg_conversion_succeeded, ui_messages[0]));
    env.show();
    pump(delay(random));
    if (env.shell().currentId() != 107) {
      // The run was quicker than the click: nothing left to cancel.
      env.destroy_shell();
      continue;
    }
    env.boxes().answer_next(true);
    QElapsedTimer clock;
    clock.start();
    env.shell().button(QWizard::CancelButton)->click();
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_FALSE(progress->is_running());
    if (!converter->stop_requested()) {
      // The run ended while the question was open: nothing was stopped, the finish page says so.
      EXPECT_EQ(converter->sheets_converted(), 20);
      EXPECT_TRUE(wait_until([&] { return env.shell().currentId() == 116; }));
      EXPECT_TRUE(env.shell().isVisible());
      env.destroy_shell();
      continue;
    }
    EXPECT_FALSE(env.shell().isVisible());
    EXPECT_EQ(env.shell().result(), 1);
    EXPECT_FALSE(env.shell().is_timer_running());
    EXPECT_EQ(env.shell().forced_status(), std::optional<int>(1));
    // Under load the stop may come after the last worksheet: only a run cut short counts.
    if (converter->sheets_converted() < 20) ++cancelled;
    env.destroy_shell();
    converter.reset();
  }
  // Most rounds must really have stopped a run under way.
  EXPECT_GT(cancelled, 40);
}

TEST_F(RunPages, ARunThatEndsBeforeYesIsShownOnTheFinishPageNotClosedAsStopped) {
  scripted_convertor& c = make_converter();
  c.sheets = {{L"S1", 1, {}}};
  start();
  wizard_shell::set_box_hook([&](const wizard_box&) {  // Yes once the run has ended behind the question
    c.open_gate();
    return wait_until([&] { return !progress->is_running(); });
  });
  env.shell().button(QWizard::CancelButton)->click();
  EXPECT_TRUE(reaches_finish_page() && env.shell().isVisible()) << "not closed as if the run had been stopped";
  EXPECT_FALSE(progress->on_cancel()) << "nor by a Cancel between the run's end and the finish page";
  wizard_shell::set_box_hook({});
}

// ---- saving the settings ------------------------------------------------------------------

namespace {

class RunSaveSettings : public ::testing::Test {
 protected:
  RunSaveSettings() {
    env.converter().set_dest(L"sales");
    page = new gui_finish_page_t(ui_msg_conversion_succeeded, ui_messages[0]);
    page->set_profile_ext(ui_profile_ext);
    env.shell().add_page(page);
  }
  void pick(std::optional<std::wstring> path) {
    file_dialog::set_run_hook([this, path](const file_dialog& dialog) {
      filter = dialog.qt_filter();
      title = dialog.title();
      return path;
    });
  }
  std::size_t files() const {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(env.dir().path()))
      if (entry.path().extension() == ".tmd") ++count;
    return count;
  }

  environment env;
  gui_finish_page_t* page = nullptr;
  QString filter, title;
};

}  // namespace

TEST_F(RunSaveSettings, CancelWritesNothing) {
  pick(std::nullopt);
  EXPECT_EQ(page->on_store(), 0);
  EXPECT_EQ(filter, QStringLiteral("Profile Files (.tmd) (*.tmd);;All Files (*.*) (*)"));
  EXPECT_EQ(title, QStringLiteral("Select Profile File"));
  EXPECT_EQ(files(), 0u);
  EXPECT_EQ(env.boxes().count(), 0u);
}

TEST_F(RunSaveSettings, ANameWithoutExtensionGetsItAndHoldsTheSettings) {
  pick(tk_utf8_to_unicode(env.dir().file("x")));
  env.show();
  QTest::mouseClick(find_ctrl<QPushButton>(page, 1116), Qt::LeftButton);
  pump();
  ASSERT_TRUE(std::filesystem::exists(env.dir().file("x.tmd")));
  udb_profile profile;
  ASSERT_TRUE(profile.load(tk_utf8_to_unicode(env.dir().file("x.tmd"))));
  EXPECT_EQ(profile.get_value(udb_profile::generic_section, L"dest"), L"sales");
  EXPECT_EQ(env.boxes().count(), 0u);
}

TEST_F(RunSaveSettings, ARunGivenNoWorksheetIsNotSavedAndTheBoxSaysWhy) {
  env.converter().choose_no_worksheet();  // its profile would name none: every worksheet
  pick(tk_utf8_to_unicode(env.dir().file("x")));
  page->on_store();
  EXPECT_TRUE(title.isEmpty()) << "no file was asked for";
  EXPECT_EQ(files(), 0u);
  EXPECT_EQ(env.boxes().last_text(), QString::fromWCharArray(ui_msg_nothing_to_save));
}

TEST_F(RunSaveSettings, ARefusedWriteIsReported) {
  const std::string path = env.dir().file("no/such/folder/x.tmd");
  pick(tk_utf8_to_unicode(path));
  page->on_store();
  ASSERT_EQ(env.boxes().count(), 1u);
  EXPECT_EQ(env.boxes().boxes().front().type, wizard_box::kind::error);
  EXPECT_EQ(env.boxes().last_text(), QString::fromStdString("Cannot save profile file '" + path + "'."));
}

TEST_F(RunSaveSettings, AnExtensionOfTheWrongLengthIsAnInternalError) {
  pick(tk_utf8_to_unicode(env.dir().file("x")));
  page->set_profile_ext(L"tm");
  EXPECT_THROW(page->on_store(), tk_mail_assertion);
  page->set_profile_ext(L"abcde");
  EXPECT_THROW(page->on_store(), tk_mail_assertion);
  page->set_profile_ext(L"abcd");
  page->on_store();
  EXPECT_TRUE(std::filesystem::exists(env.dir().file("x.abcd")));
}
