// Writes a seeded benchmark workbook (.xlsx) and the very same values as CSV, one file per worksheet,
// so that a CSV loaded by COPY holds exactly what a converted workbook must hold.
//
//   corvel_bench_generate --shape=narrow|wide|text|keyed --rows=N [--sheets=K] [--seed=S]
//                         --xlsx=FILE --csv-dir=DIR
//
// DIR receives <table>.csv (header line, then the rows), manifest.tsv ("table<TAB>rows" lines) and
// schema.sql (a plain table definition for each worksheet, used when no converted table is at hand).
// Tables are the worksheet names in lower case.
#include <xlsxwriter.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

enum class column_kind { integer, real, date, short_text, boolean, row_number, long_text };

struct column {
  std::string head;
  column_kind kind;
};

struct options {
  std::string shape;
  long rows = -1;
  int sheets = 1;
  std::uint64_t seed = 20240601;
  std::string xlsx;
  std::string csv_dir;
};

// The five kinds of the narrow row, in the order the wide row repeats them.
constexpr column_kind narrow_kinds[] = {column_kind::integer, column_kind::real, column_kind::date,
                                        column_kind::short_text, column_kind::boolean};

std::vector<column> columns_of(const std::string& shape) {
  if (shape == "narrow") {
    return {{"num", column_kind::integer},
            {"amount", column_kind::real},
            {"day", column_kind::date},
            {"label", column_kind::short_text},
            {"flag", column_kind::boolean}};
  }
  if (shape == "wide") {
    std::vector<column> cols;
    for (int i = 0; i < 60; ++i) {
      char head[8];
      std::snprintf(head, sizeof head, "c%02d", i + 1);
      cols.push_back({head, narrow_kinds[i % 5]});
    }
    return cols;
  }
  if (shape == "text") return {{"id", column_kind::row_number}, {"body", column_kind::long_text}};
  if (shape == "keyed") {
    // The narrow row behind a key that counts the rows: a table with that key refuses chosen rows.
    std::vector<column> cols = columns_of("narrow");
    cols.insert(cols.begin(), {"id", column_kind::row_number});
    return cols;
  }
  throw std::invalid_argument("unknown shape " + shape);
}

const char* sql_type(column_kind kind) {
  switch (kind) {
    case column_kind::integer:
    case column_kind::row_number: return "bigint";
    case column_kind::real: return "double precision";
    case column_kind::date: return "date";
    case column_kind::boolean: return "boolean";
    default: return "text";
  }
}

// Days since 1970-01-01 to a proleptic Gregorian yyyy-mm-dd (H. Hinnant's civil_from_days).
std::string iso_date(long days) {
  days += 719468;
  const long era = (days >= 0 ? days : days - 146096) / 146097;
  const long doe = days - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  const long d = doy - (153 * mp + 2) / 5 + 1;
  const long m = mp < 10 ? mp + 3 : mp - 9;
  const long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char text[32];
  std::snprintf(text, sizeof text, "%04ld-%02ld-%02ld", y, m, d);
  return text;
}

std::string csv_quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

class cell_source {
 public:
  explicit cell_source(std::uint64_t seed) : rng_(seed) {}

  std::uint64_t below(std::uint64_t n) { return rng_() % n; }

  // Whole numbers of either sign, as a workbook holds them: doubles.
  long long integer() { return static_cast<long long>(below(4000000001ULL)) - 2000000000LL; }

  // The double the workbook file holds: the writer prints 16 significant digits, so the value is
  // taken back from that text before it goes to the CSV in its shortest exact form.
  double real() {
    const double v = static_cast<double>(static_cast<long long>(below(200000000001ULL)) - 100000000000LL) / 100.0;
    char text[40];
    std::snprintf(text, sizeof text, "%.16G", v);
    return std::strtod(text, nullptr);
  }

  // A workbook date serial between 1950-01-01 and 2049-12-31 (serial 25569 is 1970-01-01).
  long date_serial() { return 18264 + static_cast<long>(below(36525)); }

  bool boolean() { return below(2) == 1; }

  std::string short_text() {
    static const char* words[] = {"alpha", "Zürich", "São Paulo", "Łódź", "O'Brien", "a,b", "say \"hi\"",
                                  "Ærø", "delta", "echo", "Øresund", "naïve café", "x-ray", "Straße"};
    return std::string(words[below(std::size(words))]) + " " + std::to_string(below(100000));
  }

  // Long text of mixed scripts with tabs, line feeds, backslashes and quotes, sometimes with blanks
  // at either end. Never a backslash before a full stop: psql's \copy would take a line holding only
  // "\." inside a quoted field for the end of its data.
  std::string long_text() {
    static const char* words[] = {"lorem", "Ipsum", "dolor", "Größe", "façade", "smørrebrød", "άλφα", "Ωμέγα",
                                  "жизнь", "Москва", "漢字", "東京都", "한국어", "עברית", "العربية", "😀🚀",
                                  "€100", "a—b", "C:\\temp\\x", "1,5", "it's", "\"quoted\"", "naïve", "ﬁ"};
    static const char* separators[] = {" ", " ", " ", " ", " ", "\t", "\n", ", ", ". ", " \\ ", "\\", "\n\n", " \" ", "'"};
    const std::uint64_t target = 20 + below(1500);
    std::string out;
    if (below(10) == 0) out += "  ";
    std::uint64_t chars = 0;
    while (chars < target) {
      const std::string_view word = words[below(std::size(words))];
      out += word;
      chars += code_points(word);
      if (chars >= target) break;
      const std::string_view sep = separators[below(std::size(separators))];
      out += sep;
      chars += sep.size();
    }
    if (below(10) == 0) out += " \t";
    return out;
  }

 private:
  static std::uint64_t code_points(std::string_view text) {
    std::uint64_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80 ? 1 : 0;
    return n;
  }

  std::mt19937_64 rng_;
};

std::string lower_ascii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

void check(lxw_error error, const char* what) {
  if (error != LXW_NO_ERROR) throw std::runtime_error(std::string(what) + ": " + lxw_strerror(error));
}

void write_sheet(lxw_workbook* wb, lxw_format* date_format, const std::string& name,
                 const std::vector<column>& cols, long rows, cell_source& source, const options& opt,
                 std::ofstream& manifest, std::ofstream& schema) {
  lxw_worksheet* ws = workbook_add_worksheet(wb, name.c_str());
  if (ws == nullptr) throw std::runtime_error("cannot add worksheet " + name);
  const std::string table = lower_ascii(name);
  std::ofstream csv(opt.csv_dir + "/" + table + ".csv", std::ios::binary);
  if (!csv) throw std::runtime_error("cannot write " + opt.csv_dir + "/" + table + ".csv");

  schema << "CREATE TABLE \"" << table << "\" (";
  for (std::size_t c = 0; c < cols.size(); ++c) {
    const auto col = static_cast<lxw_col_t>(c);
    check(worksheet_write_string(ws, 0, col, cols[c].head.c_str(), nullptr), "header");
    csv << (c ? "," : "") << cols[c].head;
    schema << (c ? ", " : "") << '"' << cols[c].head << "\" " << sql_type(cols[c].kind);
  }
  schema << ");\n";
  csv << '\n';

  std::string line;
  char number[64];
  for (long r = 1; r <= rows; ++r) {
    const auto row = static_cast<lxw_row_t>(r);
    line.clear();
    for (std::size_t c = 0; c < cols.size(); ++c) {
      const auto col = static_cast<lxw_col_t>(c);
      if (c) line += ',';
      switch (cols[c].kind) {
        case column_kind::integer: {
          const long long v = source.integer();
          check(worksheet_write_number(ws, row, col, static_cast<double>(v), nullptr), "number");
          line += std::to_string(v);
          break;
        }
        case column_kind::row_number:
          check(worksheet_write_number(ws, row, col, static_cast<double>(r), nullptr), "number");
          line += std::to_string(r);
          break;
        case column_kind::real: {
          const double v = source.real();
          check(worksheet_write_number(ws, row, col, v, nullptr), "number");
          const auto end = std::to_chars(number, number + sizeof number, v).ptr;
          line.append(number, end);
          break;
        }
        case column_kind::date: {
          const long serial = source.date_serial();
          check(worksheet_write_number(ws, row, col, static_cast<double>(serial), date_format), "date");
          line += iso_date(serial - 25569);
          break;
        }
        case column_kind::boolean: {
          const bool v = source.boolean();
          check(worksheet_write_boolean(ws, row, col, v ? 1 : 0, nullptr), "boolean");
          line += v ? "true" : "false";
          break;
        }
        case column_kind::short_text:
        case column_kind::long_text: {
          const std::string v = cols[c].kind == column_kind::short_text ? source.short_text() : source.long_text();
          check(worksheet_write_string(ws, row, col, v.c_str(), nullptr), "text");
          line += csv_quoted(v);
          break;
        }
      }
    }
    line += '\n';
    csv << line;
  }
  if (!csv.flush()) throw std::runtime_error("write error on " + table + ".csv");
  manifest << table << '\t' << rows << '\n';
}

bool take(const char* arg, const char* name, std::string& value) {
  const std::size_t n = std::strlen(name);
  if (std::strncmp(arg, name, n) != 0) return false;
  value = arg + n;
  return true;
}

options parse(int argc, char** argv) {
  options opt;
  for (int i = 1; i < argc; ++i) {
    std::string v;
    if (take(argv[i], "--shape=", v)) opt.shape = v;
    else if (take(argv[i], "--rows=", v)) opt.rows = std::strtol(v.c_str(), nullptr, 10);
    else if (take(argv[i], "--sheets=", v)) opt.sheets = static_cast<int>(std::strtol(v.c_str(), nullptr, 10));
    else if (take(argv[i], "--seed=", v)) opt.seed = std::strtoull(v.c_str(), nullptr, 10);
    else if (take(argv[i], "--xlsx=", v)) opt.xlsx = v;
    else if (take(argv[i], "--csv-dir=", v)) opt.csv_dir = v;
    else throw std::invalid_argument(std::string("unknown argument ") + argv[i]);
  }
  // A worksheet holds at most 1,048,576 rows, the header included.
  if (opt.rows < 0 || opt.rows > 1048575 || opt.sheets < 1 || opt.sheets > 999 || opt.xlsx.empty() ||
      opt.csv_dir.empty()) {
    throw std::invalid_argument(
        "usage: corvel_bench_generate --shape=narrow|wide|text|keyed --rows=N [--sheets=K] [--seed=S] "
        "--xlsx=FILE --csv-dir=DIR");
  }
  return opt;
}

std::string sheet_name(const options& opt, int index) {
  if (opt.sheets == 1) {
    if (opt.shape == "narrow") return "Narrow";
    if (opt.shape == "wide") return "Wide";
    if (opt.shape == "keyed") return "Keyed";
    return "Texts";
  }
  char name[16];
  std::snprintf(name, sizeof name, "Sheet%03d", index + 1);
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const options opt = parse(argc, argv);
    const std::vector<column> cols = columns_of(opt.shape);
    std::ofstream manifest(opt.csv_dir + "/manifest.tsv");
    std::ofstream schema(opt.csv_dir + "/schema.sql");
    if (!manifest || !schema) throw std::runtime_error("cannot write into " + opt.csv_dir);

    lxw_workbook_options wb_options{};
    wb_options.constant_memory = LXW_TRUE;  // rows go to disk as written: memory stays flat
    lxw_workbook* wb = workbook_new_opt(opt.xlsx.c_str(), &wb_options);
    if (wb == nullptr) throw std::runtime_error("cannot create " + opt.xlsx);
    lxw_format* date_format = workbook_add_format(wb);
    format_set_num_format(date_format, "yyyy-mm-dd");

    cell_source source(opt.seed);
    for (int s = 0; s < opt.sheets; ++s) {
      write_sheet(wb, date_format, sheet_name(opt, s), cols, opt.rows, source, opt, manifest, schema);
    }
    check(workbook_close(wb), "closing the workbook");
    if (!manifest.flush() || !schema.flush()) throw std::runtime_error("write error in " + opt.csv_dir);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "corvel_bench_generate: %s\n", e.what());
    return 1;
  }
}
