// A whole conversion in the real program window, by the keyboard alone, against the test server:
// Enter for Next, the labels' Alt keys and typing. CTest runs it under xvfb-run (an X server of
// its own) with the xcb platform.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <functional>
#include <pqxx/pqxx>

#include "pg_test.h"
#include "support/wizard_test_app.h"
#include "wizard/app/program_start.h"

namespace {

std::string env_text(const char* name) { return std::getenv(name) ? std::getenv(name) : ""; }

/// A key as the X server delivers it: to the focus widget. A mnemonic clicks a moment later.
void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::keyClick(QApplication::focusWidget(), key, modifiers);
  QTest::qWait(300);
}

void type(const std::string& text) {
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(QApplication::focusWidget(), QString::fromStdString(text));
}

}  // namespace

TEST(KeyboardRun, AWholeConversionInARealWindowWithTheKeyboardOnly) {
  TAMARIND_REQUIRE_SERVER();
  if (env_text("DISPLAY").empty()) GTEST_SKIP() << "no X display (run it under xvfb-run)";
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  wizard_test::environment env(false);  // the QApplication on that display, a scratch key store
  const std::string db = tamarind_test::unique_database_name("tmd_keys");
  const std::string host = env_text("PGHOST").empty() ? "localhost" : env_text("PGHOST");
  const std::vector<std::pair<int, std::function<void()>>> steps = {
      {103, [] { press(Qt::Key_Return); }},
      {134,
       [&] {
         press(Qt::Key_R, Qt::AltModifier), press(Qt::Key_O, Qt::AltModifier), type(host);
         press(Qt::Key_P, Qt::AltModifier), type(env_text("PGPORT"));
         press(Qt::Key_U, Qt::AltModifier), type(env_text("PGUSER"));
         press(Qt::Key_S, Qt::AltModifier), type(env_text("PGPASSWORD"));
         press(Qt::Key_Return);
       }},
      {105,
       [&] {
         press(Qt::Key_E, Qt::AltModifier), type(std::string(TAMARIND_SOURCE_DIR) + "/samples/sample.xlsx");
         press(Qt::Key_P, Qt::AltModifier), type(db);
         press(Qt::Key_Return);
       }},
      {127, [] { press(Qt::Key_L, Qt::AltModifier), press(Qt::Key_Return); }},  // Add a&ll >
      {116, [] { press(Qt::Key_Return); }},                                     // Finish
  };
  std::vector<int> seen;
  wizard_start_options options;
  options.exec = [&](wizard_shell& shell) {
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
      const std::size_t next = seen.size();
      if (next < steps.size() && shell.currentId() == steps[next].first &&
          QApplication::activeModalWidget() == &shell) {
        seen.push_back(steps[next].first);
        steps[next].second();
      }
    });
    QTimer::singleShot(90000, &shell, [&] { shell.end_wizard(99); });  // never hangs
    driver.start(100);
    return shell.run();
  };
  EXPECT_EQ(run_wizard_program(env.handler(), std::string(), options), 1) << "Finish";
  EXPECT_EQ(seen, (std::vector<int>{103, 134, 105, 127, 116}));
  EXPECT_EQ(env.boxes().count(), 0u) << env.boxes().last_text().toStdString();
  try {
    {
      pqxx::connection connection(tamarind_test::server_connection_string(db));
      EXPECT_EQ(pqxx::nontransaction(connection).exec1("SELECT count(*) FROM public.orders")[0].as<int>(), 5);
    }
    pqxx::connection admin(tamarind_test::server_connection_string());
    pqxx::nontransaction(admin).exec("DROP DATABASE IF EXISTS " + db + " WITH (FORCE)");
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what();
  }
}
