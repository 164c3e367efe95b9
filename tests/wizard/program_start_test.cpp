// The program start: texts, the pages of the interactive wizard, the quick launch and its
// failures, and a GUI that cannot start.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <filesystem>
#include <fstream>
#include <pqxx/pqxx>

#include "connect_test_support.h"
#include "pg_test.h"
#include "support/wizard_test_app.h"
#include "tk/tk_format.h"
#include "tk/tk_string.h"
#include "wizard/app/program_start.h"
#include "wizard/app/ui_messages.h"
#include "wizard/page/wizard_page.h"

using namespace wizard_test;

namespace {

std::string fixture(const std::string& name) { return std::string(TAMARIND_SOURCE_DIR) + "/tests/fixtures/real/" + name; }

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

}  // namespace

TEST(ProgramTexts, TableHoldsEveryEntryVerbatim) {
  ASSERT_EQ(ui_messages_count, 34u);
  EXPECT_EQ(std::wstring(ui_messages[5]), L"Select data sourse and destination");
  EXPECT_EQ(std::wstring(ui_messages[2]),
            L"Failed to load Data Access Objects (DAO) support library.\r\nPlease reinstall the application to repair it.\r\n");
  EXPECT_EQ(std::wstring(ui_messages[12]), L"Source file doesn't comply with MS Excel format");
  EXPECT_EQ(std::wstring(ui_messages[31]), std::wstring(ui_messages[0]));
  EXPECT_EQ(std::wstring(ui_messages[32]), std::wstring(ui_messages[1]));
  EXPECT_EQ(std::wstring(ui_messages[33]), L"There are no tables selected. Continue anyway?");
  EXPECT_EQ(tk_wformat(ui_messages[27], std::wstring(L"S1"), 7L), L"Processing worksheet 'S1' (row #7)");
  EXPECT_EQ(tk_wformat(ui_messages[28], std::wstring(L"S1"), 7L, 9L), L"Processing worksheet 'S1' (row 7 of 9)");
  EXPECT_EQ(wizard_title(), L"Tamarind 1.0");
  for (std::size_t i = 0; i < ui_messages_count; ++i) EXPECT_FALSE(std::wstring(ui_messages[i]).empty()) << i;
}

TEST(ProgramStart, CommandLineIsTheArgumentsJoinedByOneBlank) {
  EXPECT_EQ(wizard_command_line({"tamarind"}), "");
  EXPECT_EQ(wizard_command_line({"tamarind", "/d/My Profile.tmd"}), "/d/My Profile.tmd");
  EXPECT_EQ(wizard_command_line({"tamarind", "/d/My", "Profile.tmd"}), "/d/My Profile.tmd");
}

TEST(ProgramStart, WithoutArgumentTheSixPagesRunInOrderFromTheWelcomePage) {
  environment env(false);
  std::vector<int> order;
  int start = 0;
  QString title, tables_title, tables_subtitle;
  wizard_start_options options;
  options.exec = [&](wizard_shell& shell) {
    order = shell.page_order();
    start = shell.startId();
    if (wizard_page_base* tables = shell.page_by_id(127)) {
      tables_title = tables->title();
      tables_subtitle = tables->subTitle();
    }
    title = QString::fromStdWString(shell.title());
    return 1;
  };
  EXPECT_EQ(run_wizard_program(env.handler(), "", options), 1);
  EXPECT_EQ(order, (std::vector<int>{103, 134, 105, 127, 107, 116}));
  EXPECT_EQ(start, 103);
  EXPECT_EQ(title, QStringLiteral("Tamarind 1.0"));
  EXPECT_EQ(tables_title, QStringLiteral("Step 3 of 4"));
  EXPECT_EQ(tables_subtitle, QStringLiteral("Select tables to convert"));
  EXPECT_EQ(env.boxes().count(), 0u);
}

TEST(ProgramStart, QuickLaunchWithAProfileThatDoesNotLoadStopsBeforeAnyConnection) {
  environment env(false);
  bool shown = false;
  wizard_start_options options;
  options.exec = [&](wizard_shell&) {
    shown = true;
    return 1;
  };
  // A file that is no profile (a key before any section), and a file that does not exist.
  const std::string broken = env.dir().file("broken.tmd");
  write_file(broken, "mode=1\n[Generic settings]\n");
  // A file that is no profile gets our box; a missing file is the loader's own error, reported
  // through the handler as a box. Either way: one box, no wizard.
  EXPECT_EQ(run_wizard_program(env.handler(), broken, options), 1);
  ASSERT_EQ(env.boxes().count(), 1u);
  EXPECT_EQ(env.boxes().last_text(), QString::fromStdString("Cannot load profile file '" + broken + "'."));
  env.boxes().clear();
  EXPECT_EQ(run_wizard_program(env.handler(), env.dir().file("missing.tmd"), options), 1);
  EXPECT_EQ(env.boxes().count(), 1u);
  EXPECT_EQ(env.handler().reported().level1, 1u);
  // An option is read as a profile path, and fails as one.
  env.boxes().clear();
  EXPECT_EQ(run_wizard_program(env.handler(), "--help", options), 1);
  EXPECT_EQ(env.boxes().count(), 1u);
  EXPECT_FALSE(shown);
}

TEST(ProgramStart, QuickLaunchWithAProfileThatFailsKeepsTheStoredSettings) {
  environment env(false);
  {
    tamarind_convertor stored(tmd_front_end::wizard);
    stored.set_connection_params("kept.example", "keeper", "pw", 5433);
    stored.set_dest(L"kept");
  }  // written to the key store here
  const std::string book = std::string(TAMARIND_SOURCE_DIR) + "/tests/fixtures/xls/";
  const std::string notes = env.dir().file("notes.xls");
  write_file(notes, "just some text, not a workbook");
  const std::string no_workbook = env.dir().file("no_workbook.tmd");
  write_file(no_workbook, "[Generic settings]\nsrc=" + notes + "\ndest=other\n"
                          "[pgs settings]\nhost=other.example\nuser=intruder\npassword=x\nport=6000\n");
  const std::string bad_port = env.dir().file("bad_port.tmd");
  write_file(bad_port, "[Generic settings]\nsrc=" + book + "basic.xls\ndest=other\n"
                       "[pgs settings]\nhost=other.example\nuser=intruder\nport=99999\n");
  wizard_start_options options;
  options.exec = [](wizard_shell&) { return 1; };
  for (const std::string& profile : {no_workbook, bad_port}) {
    SCOPED_TRACE(profile);
    env.boxes().clear();
    EXPECT_EQ(run_wizard_program(env.handler(), profile, options), 1);
    EXPECT_EQ(env.boxes().count(), 1u);
    // What the program stored on its way out is what the user had, not the half-read profile.
    tamarind_convertor reread(tmd_front_end::wizard);
    EXPECT_EQ(reread.get_host(), "kept.example");
    EXPECT_EQ(reread.get_user(), "keeper");
    EXPECT_EQ(reread.get_port(), 5433);
    EXPECT_EQ(reread.get_dest(), L"kept");
    EXPECT_TRUE(reread.get_src().empty());
  }
}

TEST(ProgramStart, QuickLaunchWithAnInvalidModeIsReportedOnceWithoutTheWizard) {
  environment env(false);
  const std::string profile = env.dir().file("mode.tmd");
  write_file(profile, "[Generic settings]\nmode=9\ndest=other\n");
  bool shown = false;
  wizard_start_options options;
  options.exec = [&](wizard_shell&) {
    shown = true;
    return 1;
  };
  EXPECT_EQ(run_wizard_program(env.handler(), profile, options), 1);
  EXPECT_FALSE(shown);
  ASSERT_EQ(env.boxes().count(), 1u);
  EXPECT_EQ(env.boxes().last_text(), QStringLiteral("Invalid merge/overwrite mode"));
  EXPECT_EQ(env.boxes().boxes()[0].caption, QStringLiteral("Error")) << "no wizard window behind it";
}

TEST(ProgramStart, QuickLaunchWhoseServerRefusesIsReportedOnceWithOkAndFails) {
  environment env(false);
  const std::string profile = env.dir().file("refused.tmd");
  write_file(profile, "[Generic settings]\nsrc=" + fixture("lo_typed.xlsx") +
                          "\ndest=tamarind_never\nmode=2\n[pgs settings]\nhost=127.0.0.1\nport=1\nuser=nobody\n");
  int asked = 0;
  wizard_error_presenter::set_continue_hook([&](const std::string&) {
    ++asked;
    return error_presenter::continue_answer{};
  });
  bool shown = false;
  wizard_start_options options;
  options.exec = [&](wizard_shell&) {
    shown = true;
    return 1;
  };
  EXPECT_EQ(run_wizard_program(env.handler(), profile, options), 1);
  EXPECT_FALSE(shown);
  EXPECT_EQ(env.handler().reported().total(), 1u);
  EXPECT_EQ(asked, 0) << "Continue cannot continue here";
  EXPECT_EQ(env.boxes().count(), 1u);
  // libpq indents its hint line with a tab: shown as one line without the gap.
  EXPECT_TRUE(env.boxes().last_text().contains(QStringLiteral("refused Is the server running")))
      << env.boxes().last_text().toStdString();
  EXPECT_FALSE(env.boxes().last_text().contains(QLatin1Char('\t')));
}

TEST(ServerProgramStart, QuickLaunchConvertsUnattendedAndEndsOnTheFinishPage) {
  TAMARIND_REQUIRE_SERVER();
  environment env(false);
  const std::string db = tamarind_test::unique_database_name("wiz_quick");
  auto env_or = [](const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return std::string(value && *value ? value : fallback);
  };
  const std::string profile = env.dir().file("quick.tmd");
  write_file(profile, "[Generic settings]\nsrc=" + fixture("lo_typed.xlsx") + "\ndest=" + db +
                          "\nmode=0\n[pgs settings]\nhost=" + env_or("PGHOST", "localhost") +
                          "\nport=" + env_or("PGPORT", "5432") + "\nuser=" + env_or("PGUSER", "postgres") +
                          "\npassword=" + env_or("PGPASSWORD", "") + "\n[Selected Tables]\nData\n");
  std::vector<int> order;
  bool reached_finish = false;
  wizard_start_options options;
  options.exec = [&](wizard_shell& shell) {
    order = shell.page_order();
    shell.show();
    reached_finish = wait_until([&] { return shell.currentId() == 116; }, 60000);
    pump(50);
    if (QAbstractButton* finish = shell.button(QWizard::FinishButton)) finish->click();
    wait_until([&] { return !shell.isVisible(); }, 5000);
    return shell.result();
  };
  const int status = run_wizard_program(env.handler(), profile, options);
  EXPECT_EQ(order, (std::vector<int>{107, 116}));
  EXPECT_TRUE(reached_finish);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(env.handler().reported().total(), 0u);
  pqxx::connection connection(tamarind_test::server_connection_string());
  pqxx::nontransaction work(connection);
  const auto tables = [&] {
    pqxx::connection target(tamarind_test::server_connection_string(db));
    pqxx::nontransaction read(target);
    return read.exec1("SELECT count(*) FROM data")[0].as<int>();
  }();
  EXPECT_GT(tables, 0) << "the worksheet's rows arrived";
  work.exec("DROP DATABASE IF EXISTS " + work.quote_name(db));
}

// Loading is part of the unattended run: a worksheet the profile names that the workbook lacks
// ends the run with errors, listed on the finish page.
TEST(ServerProgramStart, QuickLaunchToldOfAMissingWorksheetEndsWithErrorsListingIt) {
  TAMARIND_REQUIRE_SERVER();
  environment env(false);
  connect_test::scratch_database db("wiz_quick", false);
  const std::string profile = env.dir().file("quick.tmd");
  write_file(profile, "[Generic settings]\nsrc=" + fixture("lo_typed.xlsx") + "\ndest=" + db.name() +
                          "\n[pgs settings]\nhost=" + connect_test::env_text("PGHOST") + "\nport=" +
                          connect_test::env_text("PGPORT") + "\nuser=" + connect_test::env_text("PGUSER") +
                          "\npassword=" + connect_test::env_text("PGPASSWORD") + "\n[Selected Tables]\nData\nNoSuchSheet\n");
  std::vector<std::string> listed;
  wizard_start_options options;
  options.exec = [&](wizard_shell& shell) {
    shell.show();
    EXPECT_TRUE(wait_until([&] { return shell.currentId() == 116; }, 60000));
    listed = shell.errors();
    return 1;
  };
  run_wizard_program(env.handler(), profile, options);
  EXPECT_EQ(listed, std::vector<std::string>{"Worksheet NoSuchSheet not found"});
}

// ---- the GUI cannot start ------------------------------------------------------------------

namespace {

struct run_result {
  int status = -1;
  QString error_text;
};

run_result run_program_without_display(const QString& display, const std::string& config_dir) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
  environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
  environment.remove(QStringLiteral("DISPLAY"));
  if (!display.isEmpty()) environment.insert(QStringLiteral("DISPLAY"), display);
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(config_dir));
  environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
  QProcess process;
  process.setProcessEnvironment(environment);
  process.start(QStringLiteral(TAMARIND_WIZARD_EXE), {});
  run_result result;
  if (!process.waitForFinished(30000)) {
    process.kill();
    process.waitForFinished(5000);
    return result;
  }
  result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
  result.error_text = QString::fromUtf8(process.readAllStandardError());
  return result;
}

}  // namespace

TEST(ProgramStart, NoDisplayEndsWith255AndAClearLineBeforeAnySettingIsWritten) {
  environment env(false);
  for (const QString& display : {QString(), QStringLiteral(":99")}) {
    const run_result result = run_program_without_display(display, env.dir().path());
    EXPECT_EQ(result.status, 255) << display.toStdString() << result.error_text.toStdString();
    EXPECT_TRUE(result.error_text.contains(QStringLiteral("Failed to initialize GUI library")))
        << result.error_text.toStdString();
    EXPECT_TRUE(std::filesystem::is_empty(env.dir().path())) << "no settings file";
  }
}

TEST(ProgramStart, StartsUnderARealXServer) {
  if (QStandardPaths::findExecutable(QStringLiteral("xvfb-run")).isEmpty()) GTEST_SKIP() << "no xvfb-run";
  environment env(false);
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(env.dir().path()));
  QProcess process;
  process.setProcessEnvironment(environment);
  // The wizard waits for the user; `timeout` ends it after a while with 124 unless it failed first.
  process.start(QStringLiteral("xvfb-run"),
                {QStringLiteral("-a"), QStringLiteral("timeout"), QStringLiteral("4"), QStringLiteral(TAMARIND_WIZARD_EXE)});
  ASSERT_TRUE(process.waitForFinished(60000));
  const QString errors = QString::fromUtf8(process.readAllStandardError());
  EXPECT_EQ(process.exitCode(), 124) << errors.toStdString();
  EXPECT_FALSE(errors.contains(QStringLiteral("Failed to initialize GUI library")));
}
