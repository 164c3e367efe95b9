#include "e2e_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

#include <pqxx/pqxx>
#include <xlsxwriter.h>

extern char** environ;

namespace e2e {

namespace {

std::string env_or(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

bool is_empty_dir(const std::filesystem::path& dir) {
  std::error_code error;
  return std::filesystem::is_empty(dir, error) && !error;
}

/// The environment of the child: ours, with HOME and XDG_CONFIG_HOME replaced.
std::vector<std::string> child_environment(const std::string& home, const std::string& config) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    if (text.rfind("HOME=", 0) == 0 || text.rfind("XDG_CONFIG_HOME=", 0) == 0) continue;
    result.push_back(text);
  }
  result.push_back("HOME=" + home);
  result.push_back("XDG_CONFIG_HOME=" + config);
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (std::string& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

std::string quote_ident(const std::string& name) {
  std::string result = "\"";
  for (char c : name) result += c == '"' ? std::string("\"\"") : std::string(1, c);
  return result + "\"";
}

std::string quote_literal(const std::string& text) {
  std::string result = "'";
  for (char c : text) result += c == '\'' ? std::string("''") : std::string(1, c);
  return result + "'";
}

lxw_datetime parse_iso(const std::string& iso) {
  lxw_datetime when{};
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  double second = 0;
  std::sscanf(iso.c_str(), "%d-%d-%d %d:%d:%lf", &year, &month, &day, &hour, &minute, &second);
  when.year = year;
  when.month = month;
  when.day = day;
  when.hour = hour;
  when.min = minute;
  when.sec = second;
  return when;
}

}  // namespace

// ---- scratch folders -------------------------------------------------------------------------

scratch_dir::scratch_dir() {
  std::random_device random;
  m_path = std::filesystem::temp_directory_path() /
           ("tmd_e2e_" + std::to_string(::getpid()) + "_" + std::to_string(random()));
  std::filesystem::create_directories(m_path);
}

scratch_dir::~scratch_dir() {
  std::error_code ignored;
  // A test may have made a file read-only; removal needs only the folder's permission.
  std::filesystem::remove_all(m_path, ignored);
}

std::string scratch_dir::write(const std::string& name, const std::string& bytes) const {
  const std::string path = file(name);
  std::ofstream stream(path, std::ios::binary);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

// ---- running corvel ------------------------------------------------------------------------

run_result run_corvel(const std::vector<std::string>& args, int timeout_s) {
  scratch_dir sandbox;
  const std::filesystem::path home = sandbox.path() / "home";
  const std::filesystem::path config = sandbox.path() / "config";
  std::filesystem::create_directories(home);
  std::filesystem::create_directories(config);

  std::vector<std::string> argv_texts = {CORVEL_PATH};
  argv_texts.insert(argv_texts.end(), args.begin(), args.end());
  std::vector<std::string> env_texts = child_environment(home.string(), config.string());
  std::vector<char*> argv = pointers(argv_texts);
  std::vector<char*> envp = pointers(env_texts);

  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, CORVEL_PATH, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (spawned != 0) {
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    throw std::runtime_error(std::string("cannot start corvel: ") + std::strerror(spawned));
  }

  run_result result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_streams = 2;
  while (open_streams > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      ::kill(pid, SIGKILL);
      break;
    }
    if (::poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_streams;
      }
    }
  }
  for (const pollfd& fd : fds)
    if (fd.fd >= 0) ::close(fd.fd);
  int wait_status = 0;
  while (::waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
  }
  if (!result.timed_out && WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
  result.config_untouched = is_empty_dir(home) && is_empty_dir(config);
  return result;
}

std::vector<std::string> server_options(bool with_credentials) {
  std::vector<std::string> result = {"--host=" + env_or("PGHOST", "localhost"), "--pgport=" + env_or("PGPORT", "5432")};
  if (with_credentials) {
    result.push_back("--user=" + env_or("PGUSER", ""));
    result.push_back("--pswd=" + env_or("PGPASSWORD", ""));
  }
  return result;
}

std::vector<std::string> dead_server_options() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 1;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  if (fd >= 0) ::close(fd);
  return {"--host=127.0.0.1", "--pgport=" + std::to_string(port)};
}

std::vector<std::string> join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// ---- databases -------------------------------------------------------------------------------

database_guard::database_guard(const std::string& prefix) : m_name(tamarind_test::unique_database_name(prefix)) {
  std::transform(m_name.begin(), m_name.end(), m_name.begin(), [](unsigned char c) { return std::tolower(c); });
}

database_guard::~database_guard() {
  if (!tamarind_test::server_configured()) return;
  try {
    pqxx::connection connection(tamarind_test::server_connection_string("postgres"));
    pqxx::nontransaction work(connection);
    work.exec("DROP DATABASE IF EXISTS " + quote_ident(m_name) + " WITH (FORCE)");
  } catch (const std::exception& e) {
    ADD_FAILURE() << "cannot drop " << m_name << ": " << e.what();
  }
}

bool database_guard::exists() const {
  pqxx::connection connection(tamarind_test::server_connection_string("postgres"));
  pqxx::nontransaction work(connection);
  return !work.exec("SELECT 1 FROM pg_database WHERE datname = " + quote_literal(m_name)).empty();
}

void database_guard::create() const {
  pqxx::connection connection(tamarind_test::server_connection_string("postgres"));
  pqxx::nontransaction work(connection);
  work.exec("CREATE DATABASE " + quote_ident(m_name));
}

void database_guard::execute(const std::string& sql) const {
  pqxx::connection connection(tamarind_test::server_connection_string(m_name));
  pqxx::nontransaction work(connection);
  work.exec(sql);
}

std::vector<std::string> database_guard::rows(const std::string& sql) const {
  pqxx::connection connection(tamarind_test::server_connection_string(m_name));
  pqxx::nontransaction work(connection);
  std::vector<std::string> result;
  for (const auto& row : work.exec(sql)) {
    std::string line;
    for (const auto& field : row) {
      if (!line.empty() || field.num() > 0) line += '|';
      line += field.is_null() ? std::string("<null>") : std::string(field.c_str());
    }
    result.push_back(line);
  }
  return result;
}

std::vector<std::string> database_guard::tables() const {
  return rows(
      "SELECT table_schema || '.' || table_name FROM information_schema.tables WHERE table_type = 'BASE TABLE' "
      "AND table_schema NOT IN ('pg_catalog', 'information_schema') ORDER BY 1");
}

std::vector<std::string> database_guard::columns(const std::string& schema, const std::string& table) const {
  return rows("SELECT column_name || ':' || data_type FROM information_schema.columns WHERE table_schema = " +
              quote_literal(schema) + " AND table_name = " + quote_literal(table) + " ORDER BY ordinal_position");
}

int database_guard::index_count() const {
  return std::stoi(rows("SELECT count(*) FROM pg_indexes WHERE schemaname NOT IN ('pg_catalog', "
                        "'information_schema')")
                       .at(0));
}

// ---- workbooks -------------------------------------------------------------------------------

void write_workbook(const std::string& path, const std::vector<sheet>& sheets, bool streamed) {
  lxw_workbook_options options{};
  options.constant_memory = streamed ? LXW_TRUE : LXW_FALSE;
  lxw_workbook* book = workbook_new_opt(path.c_str(), &options);
  if (!book) throw std::runtime_error("cannot create " + path);
  lxw_format* date_format = workbook_add_format(book);
  format_set_num_format(date_format, "yyyy-mm-dd");
  lxw_format* stamp_format = workbook_add_format(book);
  format_set_num_format(stamp_format, "yyyy-mm-dd hh:mm:ss.000");
  for (const sheet& s : sheets) {
    lxw_worksheet* worksheet = workbook_add_worksheet(book, s.name.c_str());
    if (!worksheet) throw std::runtime_error("cannot add the worksheet " + s.name);
    for (std::size_t r = 0; r < s.rows.size(); ++r) {
      for (std::size_t c = 0; c < s.rows[r].size(); ++c) {
        const cell& v = s.rows[r][c];
        const auto row = static_cast<lxw_row_t>(r);
        const auto col = static_cast<lxw_col_t>(c);
        switch (v.type) {
          case cell::kind::text: worksheet_write_string(worksheet, row, col, v.text.c_str(), nullptr); break;
          case cell::kind::number: worksheet_write_number(worksheet, row, col, v.number, nullptr); break;
          case cell::kind::boolean: worksheet_write_boolean(worksheet, row, col, v.number != 0, nullptr); break;
          case cell::kind::date: {
            lxw_datetime when = parse_iso(v.text);
            worksheet_write_datetime(worksheet, row, col, &when, v.text.size() > 10 ? stamp_format : date_format);
            break;
          }
          case cell::kind::blank: break;
        }
      }
    }
  }
  if (workbook_close(book) != LXW_NO_ERROR) throw std::runtime_error("cannot write " + path);
}

std::vector<sheet> book_sheets() {
  return {
      {"Sheet1",
       {{cell::str("id"), cell::str("name"), cell::str("amount")},
        {cell::num(1), cell::str("Alpha"), cell::num(10.5)},
        {cell::num(2), cell::str("Beta"), cell::num(-3.25)},
        {cell::num(3), cell::str("Gamma"), cell::num(1000000)}}},
      {"Sheet2",
       {{cell::str("code"), cell::str("born")},
        {cell::str("A1"), cell::date("2001-02-03")},
        {cell::str("B2"), cell::date("1999-12-31")}}},
  };
}

}  // namespace e2e
