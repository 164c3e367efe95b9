// A whole conversion in the real program window on an X server of its own (Xvfb), driven by the
// keyboard alone, against the test server: Enter for Next, the labels' Alt keys to reach the
// entries, typing into them; then the tables are looked at on the server.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <pqxx/pqxx>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "pg_test.h"
#include "support/wizard_test_app.h"
#include "wizard/app/program_start.h"
#include "wizard/shell/wizard_shell.h"

namespace {

std::string env_text(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

/// Xvfb on a display number it picks itself (-displayfd), stopped with the object.
class xvfb_server {
 public:
  xvfb_server() {
    int fds[2];
    if (pipe(fds) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    char buffer[16] = {};
    const ssize_t got = m_pid > 0 ? read(fds[0], buffer, sizeof buffer - 1) : -1;
    close(fds[0]);
    if (got > 0) m_display = ":" + std::string(buffer, static_cast<std::size_t>(got - (buffer[got - 1] == '\n')));
  }
  ~xvfb_server() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
  }
  xvfb_server(const xvfb_server&) = delete;
  xvfb_server& operator=(const xvfb_server&) = delete;

  /// Empty when the server did not start.
  const std::string& display() const noexcept { return m_display; }

 private:
  pid_t m_pid = -1;
  std::string m_display;
};

/// The widget a key press reaches, as the X server would deliver it: the application's focus
/// widget, else the topmost modal window.
QWidget* key_target(wizard_shell& shell) {
  if (QWidget* focus = QApplication::focusWidget()) return focus;
  QWidget* window = QApplication::activeModalWidget();
  return window ? window : &shell;
}

void press(wizard_shell& shell, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::keyClick(key_target(shell), key, modifiers);
  // A button's mnemonic clicks it a moment later (animated), as a user would see it.
  QTest::qWait(300);
}

void type(wizard_shell& shell, const std::string& text) {
  QTest::keyClick(key_target(shell), Qt::Key_A, Qt::ControlModifier);  // replaces what is there
  QTest::keyClicks(key_target(shell), QString::fromStdString(text));
}

long long scalar(const std::string& db, const std::string& sql) {
  pqxx::connection connection(tamarind_test::server_connection_string(db));
  pqxx::nontransaction tx(connection);
  return tx.exec1(sql)[0].as<long long>();
}

}  // namespace

TEST(KeyboardRun, AWholeConversionInARealWindowWithTheKeyboardOnly) {
  TAMARIND_REQUIRE_SERVER();
  if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) GTEST_SKIP() << "Xvfb is not installed";
  xvfb_server x;
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";
  setenv("DISPLAY", x.display().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  wizard_test::environment env(false);  // the QApplication on that display, a scratch key store
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
  const std::string db = tamarind_test::unique_database_name("tmd_keys");
  const std::string workbook = std::string(TAMARIND_SOURCE_DIR) + "/samples/sample.xlsx";
  const std::string host = env_text("PGHOST").empty() ? "localhost" : env_text("PGHOST");

  // Each step waits for its page, then acts with keys only.
  struct step {
    int page;
    std::function<void(wizard_shell&)> keys;
  };
  const std::vector<step> steps = {
      {103, [](wizard_shell& s) { press(s, Qt::Key_Return); }},
      {134,
       [&](wizard_shell& s) {
         press(s, Qt::Key_R, Qt::AltModifier);  // &Remote
         press(s, Qt::Key_O, Qt::AltModifier);  // H&ost
         type(s, host);
         press(s, Qt::Key_P, Qt::AltModifier);  // &Port
         type(s, env_text("PGPORT"));
         press(s, Qt::Key_U, Qt::AltModifier);  // &User name
         type(s, env_text("PGUSER"));
         press(s, Qt::Key_S, Qt::AltModifier);  // User pa&ssword
         type(s, env_text("PGPASSWORD"));
         press(s, Qt::Key_Return);
       }},
      {105,
       [&](wizard_shell& s) {
         press(s, Qt::Key_E, Qt::AltModifier);  // MS &Excel spreadsheet name
         type(s, workbook);
         press(s, Qt::Key_P, Qt::AltModifier);  // &PostgreSQL database name
         type(s, db);
         press(s, Qt::Key_Return);
       }},
      {127,
       [](wizard_shell& s) {
         press(s, Qt::Key_L, Qt::AltModifier);  // Add a&ll >
         press(s, Qt::Key_Return);
       }},
      {116, [](wizard_shell& s) { press(s, Qt::Key_Return); }},  // Finish has the focus
  };

  std::size_t next_step = 0;
  std::vector<int> seen;
  wizard_start_options options;
  options.exec = [&](wizard_shell& shell) {
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
      if (QApplication::activeModalWidget() && QApplication::activeModalWidget() != &shell) return;
      if (next_step >= steps.size() || shell.currentId() != steps[next_step].page) return;
      seen.push_back(shell.currentId());
      steps[next_step++].keys(shell);
    });
    // Gives up rather than hang: whatever is open is closed.
    QTimer::singleShot(90000, &shell, [&] { shell.end_wizard(99); });
    driver.start(100);
    return shell.run();
  };
  const int status = run_wizard_program(env.handler(), std::string(), options);

  EXPECT_EQ(seen, (std::vector<int>{103, 134, 105, 127, 116}));
  EXPECT_EQ(status, 1) << "Finish";
  EXPECT_EQ(env.boxes().count(), 0u) << env.boxes().last_text().toStdString();
  EXPECT_TRUE(env.continue_questions().empty());
  try {
    EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.orders"), 5);
    EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.products"), 5);
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what();
  }
  try {
    pqxx::connection connection(tamarind_test::server_connection_string());
    pqxx::nontransaction(connection).exec("DROP DATABASE IF EXISTS " + db + " WITH (FORCE)");
  } catch (...) {
  }
}
