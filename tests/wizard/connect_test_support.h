#pragma once
// Helpers of the welcome, connection and source page tests: answering the overwrite warnings,
// fixture workbooks and the server's connection settings.
#include <QDialog>
#include <QStringList>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>

#include "support/wizard_test_app.h"

namespace connect_test {

/// Answers the next modal dialog with `action`; should none be answered in time, any modal
/// dialog still up is rejected, so a test fails instead of hanging. Lives for the test's scope.
class modal_answer {
 public:
  explicit modal_answer(std::function<void(QWidget*)> action, int limit_ms = 10000) {
    wizard_test::when_modal(std::move(action));
    m_safety.setSingleShot(true);
    QObject::connect(&m_safety, &QTimer::timeout, [] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->reject();
    });
    m_safety.start(limit_ms);
  }

 private:
  QTimer m_safety;
};

/// Help pages for these contexts in a scratch folder that the shell looks in, and an opener that
/// records the names of the pages it is given; both are undone when the object goes.
class help_pages {
 public:
  help_pages(const wizard_test::temp_dir& dir, std::initializer_list<int> contexts);
  ~help_pages();
  QStringList opened;
};

/// A file of the repository's test fixtures.
inline std::string fixture(const std::string& relative) {
  return std::string(TAMARIND_SOURCE_DIR) + "/tests/fixtures/" + relative;
}

inline std::wstring wide(const std::string& text) { return QString::fromStdString(text).toStdWString(); }

/// The environment's value, or empty.
inline std::string env_text(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

/// Connects the converter to the test server with the PG* settings.
void connect_to_test_server(tamarind_convertor& converter);

/// Runs one statement on the test server (database `db`), outside the converter.
void run_sql(const std::string& sql, const std::string& db = "postgres");

/// Creates a database on the test server and drops it when the object goes.
class scratch_database {
 public:
  explicit scratch_database(const std::string& prefix, bool create = true);
  ~scratch_database();
  const std::string& name() const noexcept { return m_name; }
  bool exists() const;

 private:
  std::string m_name;
};

}  // namespace connect_test
