#include "connect_test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <pqxx/pqxx>

#include "pg_test.h"

namespace connect_test {

help_pages::help_pages(const wizard_test::temp_dir& dir, std::initializer_list<int> contexts) {
  QDir(QString::fromStdString(dir.path())).mkpath(QStringLiteral("help"));
  const QString folder = QString::fromStdString(dir.file("help"));
  for (int context : contexts) {
    QFile page(folder + QStringLiteral("/%1.html").arg(context));
    if (page.open(QIODevice::WriteOnly)) page.write("<html></html>");
  }
  wizard_shell::set_help_dir(folder);
  wizard_shell::set_help_opener([this](const QString& path) {
    opened << QFileInfo(path).fileName();
    return true;
  });
}

help_pages::~help_pages() {
  wizard_shell::set_help_opener({});
  wizard_shell::set_help_dir(QString());
}

void connect_to_test_server(tamarind_convertor& converter) {
  const std::string port = env_text("PGPORT");
  converter.set_connection_params(env_text("PGHOST").c_str(), env_text("PGUSER").c_str(),
                                  env_text("PGPASSWORD").c_str(), port.empty() ? 0 : std::stoi(port));
  converter.connect_pgs_server();
}

void run_sql(const std::string& sql, const std::string& db) {
  pqxx::connection connection(tamarind_test::server_connection_string(db));
  pqxx::nontransaction work(connection);
  work.exec(sql);
}

scratch_database::scratch_database(const std::string& prefix, bool create)
    : m_name(tamarind_test::unique_database_name(prefix)) {
  if (create) run_sql("CREATE DATABASE \"" + m_name + "\"");
}

scratch_database::~scratch_database() {
  try {
    run_sql("DROP DATABASE IF EXISTS \"" + m_name + "\" WITH (FORCE)");
  } catch (...) {
  }
}

bool scratch_database::exists() const {
  pqxx::connection connection(tamarind_test::server_connection_string());
  pqxx::nontransaction work(connection);
  return !work.exec("SELECT 1 FROM pg_database WHERE datname = " + work.quote(m_name)).empty();
}

}  // namespace connect_test
