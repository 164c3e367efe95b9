// Writes rows of five columns (integer, double, date, short text, boolean) through pgs_recordset and
// loads the same rows as CSV with psql's \copy, then prints both times and their ratio; then the same
// load with one refused row in the middle, and with --bad-every=K every K-th row refused. The server
// comes from the PG* variables.
//
//   pgs_copy_bench [--rows=N] [--segment-bytes=B] [--repeat=K] [--bad-every=K]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include <pqxx/pqxx>

#include "pgs/pgs_copy_stream.h"
#include "pgs/pgs_database.h"
#include "pgs/pgs_engine.h"
#include "pgs/pgs_recordset.h"
#include "tk/tk_string.h"
#include "udb/udb_types.h"

namespace {

using clock_type = std::chrono::steady_clock;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Row i's values, the same for the CSV file and for the records.
struct row_values {
  int n;
  double x;
  int year, month, day;
  std::string text;
  bool flag;
};

row_values values_of(long i) {
  return {static_cast<int>(i), static_cast<double>(i) * 1.25 + 0.5, 2000 + static_cast<int>(i % 25),
          1 + static_cast<int>(i % 12), 1 + static_cast<int>(i % 28), "item " + std::to_string(i % 1000), i % 3 == 0};
}

udb_schema bench_columns() {
  udb_schema columns;
  columns.push_back(std::make_unique<t_ftd>(0, L"n", VT_I4, false, false, ole_variant(), 0));
  columns.push_back(std::make_unique<t_ftd>(0, L"x", VT_R8, false, false, ole_variant(), 0));
  columns.push_back(std::make_unique<t_ftd>(0, L"d", VT_DATE, false, false, ole_variant(), udb_reserved_date_only));
  columns.push_back(std::make_unique<t_ftd>(20, L"s", VT_BSTR, false, false, ole_variant(), 0));
  columns.push_back(std::make_unique<t_ftd>(0, L"b", VT_BOOL, false, false, ole_variant(), 0));
  return columns;
}

void fill_record(udb_record& record, long i, bool poisoned) {
  const row_values v = values_of(i);
  SYSTEMTIME st{};
  st.year = static_cast<std::uint16_t>(v.year);
  st.month = static_cast<std::uint16_t>(v.month);
  st.day = static_cast<std::uint16_t>(v.day);
  record = udb_record();
  record.push_back(std::make_unique<udb_field>(L"n", 0, poisoned ? ole_variant(L"not a number") : ole_variant(v.n),
                                               false, false));
  record.push_back(std::make_unique<udb_field>(L"x", 0, ole_variant(v.x), false, false));
  record.push_back(std::make_unique<udb_field>(L"d", 0, ole_variant(st), false, false));
  record.push_back(std::make_unique<udb_field>(L"s", 20, ole_variant(tk_utf8_to_unicode(v.text)), false, false));
  record.push_back(std::make_unique<udb_field>(L"b", 0, ole_variant(v.flag), false, false));
}

struct load_result {
  double seconds = 0;           // the whole load, records built on the way as a reader would
  double building_seconds = 0;  // of which building the records
  std::size_t row_errors = 0;
};

load_result load_through_recordset(pgs_database& db, const std::wstring& table, long rows, long bad_row,
                                   std::size_t segment_bytes, long bad_every = 0) {
  std::unique_ptr<udb_recordset> created = db.create_table(table, bench_columns(), udb_indexes());
  auto* rs = static_cast<pgs_recordset*>(created.get());
  if (segment_bytes) rs->set_copy_segment_bytes(segment_bytes);
  load_result result;
  udb_record record;
  const auto start = clock_type::now();
  for (long i = 1; i <= rows; ++i) {
    const auto before = clock_type::now();
    fill_record(record, i, i == bad_row || (bad_every > 0 && i % bad_every == 0));
    result.building_seconds += seconds_since(before);
    rs->append_record(record);
    result.row_errors += rs->take_row_errors().size();
  }
  rs->finish();
  result.row_errors += rs->take_row_errors().size();
  result.seconds = seconds_since(start);
  return result;
}

double time_record_building(long rows) {
  udb_record record;
  const auto start = clock_type::now();
  for (long i = 1; i <= rows; ++i) fill_record(record, i, false);
  return seconds_since(start);
}

std::string write_csv(long rows) {
  char path[] = "/tmp/pgs_copy_bench_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) throw std::runtime_error("cannot create the CSV file");
  FILE* out = fdopen(fd, "w");
  for (long i = 1; i <= rows; ++i) {
    const row_values v = values_of(i);
    std::fprintf(out, "%d,%.17g,%04d-%02d-%02d,%s,%s\n", v.n, v.x, v.year, v.month, v.day, v.text.c_str(),
                 v.flag ? "true" : "false");
  }
  std::fclose(out);
  return path;
}

double load_with_psql(const std::string& database, const std::string& table, const std::string& csv) {
  const std::string command = "psql -X -q -v ON_ERROR_STOP=1 -d '" + database + "' -c \"\\copy " + table + " FROM '" +
                              csv + "' WITH (FORMAT csv)\"";
  const auto start = clock_type::now();
  if (std::system(command.c_str()) != 0) throw std::runtime_error("psql \\copy failed");
  return seconds_since(start);
}

long option(int argc, char** argv, const std::string& name, long fallback) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind(name + "=", 0) == 0) return std::atol(arg.c_str() + name.size() + 1);
  }
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = option(argc, argv, "--rows", 1000000);
  const auto segment_bytes = static_cast<std::size_t>(option(argc, argv, "--segment-bytes", 0));
  const long repeat = std::max(1L, option(argc, argv, "--repeat", 1));
  const long bad_every = option(argc, argv, "--bad-every", 0);
  try {
    pgs_engine engine;
    engine.connect(env("PGHOST"), env("PGUSER"), env("PGPASSWORD"), "", std::atoi(env("PGPORT").c_str()));
    const std::wstring name = L"tmd_copy_bench_" + std::to_wstring(::getpid());
    std::unique_ptr<pgs_database> db = engine.create_db(name);
    const std::string csv = write_csv(rows);
    std::printf("rows: %ld, segment bytes: %zu\n", rows, segment_bytes ? segment_bytes : pgs_copy_default_segment_bytes);
    std::printf("building the records alone: %.3f s\n", time_record_building(rows));
    for (long r = 0; r < repeat; ++r) {
      const std::wstring suffix = std::to_wstring(r);
      const load_result clean = load_through_recordset(*db, L"public.clean" + suffix, rows, 0, segment_bytes);
      db->create_table(L"public.by_psql" + suffix, bench_columns(), udb_indexes());
      const double psql = load_with_psql(engine.current_database(), "public.by_psql" + tk_to_utf8(suffix), csv);
      const load_result bad = load_through_recordset(*db, L"public.bad" + suffix, rows, rows / 2, segment_bytes);
      if (bad_every > 0) {
        const load_result many = load_through_recordset(*db, L"public.many" + suffix, rows, 0, segment_bytes, bad_every);
        std::printf("every %ld-th row refused:  %.3f s, %zu row errors, ratio to clean %.2f\n", bad_every, many.seconds,
                    many.row_errors, many.seconds / clean.seconds);
      }
      const double clean_writing = clean.seconds - clean.building_seconds;
      const double bad_writing = bad.seconds - bad.building_seconds;
      std::printf("pgs_recordset, clean:      %.3f s (writing %.3f s + building records %.3f s)\n", clean.seconds,
                  clean_writing, clean.building_seconds);
      std::printf("psql \\copy (CSV):          %.3f s\n", psql);
      std::printf("ratio clean / \\copy:       %.2f with record building, %.2f writing alone (goal <= 1.30)\n",
                  clean.seconds / psql, clean_writing / psql);
      std::printf("pgs_recordset, 1 bad row:  %.3f s (writing %.3f s), %zu row error(s)\n", bad.seconds, bad_writing,
                  bad.row_errors);
      std::printf("ratio bad / clean:         %.2f, writing alone %.2f (goal <= 1.50)\n", bad.seconds / clean.seconds,
                  bad_writing / clean_writing);
    }
    std::remove(csv.c_str());
    db.reset();
    engine.delete_db(name);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pgs_copy_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
