#include "converter_test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <xlsxwriter.h>

#include "converter/error_tables.h"
#include "tk/tk_string.h"

namespace conv_test {

temp_dir::temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tmd_conv_XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

temp_dir::~temp_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::wstring wide(const std::string& utf8) { return tk_utf8_to_unicode(utf8); }
std::string narrow(const std::wstring& text) { return tk_to_utf8(text); }

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

void write_workbook(const std::string& path, const std::vector<sheet_data>& sheets) {
  lxw_workbook* book = workbook_new(path.c_str());
  ASSERT_NE(book, nullptr);
  for (const sheet_data& sheet : sheets) {
    lxw_worksheet* ws = workbook_add_worksheet(book, sheet.name.c_str());
    ASSERT_NE(ws, nullptr) << sheet.name;
    for (std::size_t r = 0; r < sheet.rows.size(); ++r)
      for (std::size_t c = 0; c < sheet.rows[r].size(); ++c) {
        const cell& v = sheet.rows[r][c];
        if (const double* d = std::get_if<double>(&v))
          worksheet_write_number(ws, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c), *d, nullptr);
        else if (const std::string* s = std::get_if<std::string>(&v))
          worksheet_write_string(ws, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c), s->c_str(), nullptr);
      }
  }
  ASSERT_EQ(workbook_close(book), LXW_NO_ERROR);
}

sheet_data numbered_sheet(const std::string& name, int count, int first) {
  sheet_data sheet{name, {{std::string("name"), std::string("qty")}}};
  for (int i = first; i < first + count; ++i)
    sheet.rows.push_back({std::string("r") + std::to_string(i), static_cast<double>(i)});
  return sheet;
}

void recording_frame::add(std::string text) {
  std::lock_guard lock(mutex_);
  events_.push_back(std::move(text));
}
void recording_frame::start_timer(unsigned period) {
  ++timer_starts;
  add("timer " + std::to_string(period));
}
void recording_frame::stop_timer() { ++timer_stops; }
void recording_frame::write_log(const std::wstring& text) { add("log " + narrow(text)); }
void recording_frame::message(const std::wstring& text) { add("message " + narrow(text)); }
void recording_frame::error(const std::wstring& text) {
  std::lock_guard lock(mutex_);
  errors_.push_back(narrow(text));
}
void recording_frame::spreadsheet_started(const std::wstring& source, int sheet_count) {
  add("spreadsheet " + narrow(source) + " " + std::to_string(sheet_count));
}
void recording_frame::worksheet_started(const std::wstring& name) { add("worksheet " + narrow(name)); }
void recording_frame::worksheets_not_found(const std::vector<std::wstring>& names) {
  std::string text = "not found";
  for (const auto& n : names) text += " " + narrow(n);
  add(text);
}
void recording_frame::run_finished() {
  ++finished_runs;
  add("finished");
}
void recording_frame::show_finish_page() { ++finish_pages; }
std::vector<std::string> recording_frame::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}
std::vector<std::string> recording_frame::errors() const {
  std::lock_guard lock(mutex_);
  return errors_;
}

void recording_presenter::add(std::string text) {
  std::lock_guard lock(mutex_);
  reports_.push_back(std::move(text));
}
std::vector<std::string> recording_presenter::reports() const {
  std::lock_guard lock(mutex_);
  return reports_;
}

converter_fixture::converter_fixture() {
  if (const char* v = std::getenv("XDG_CONFIG_HOME")) had_xdg = true, old_xdg = v;
  if (const char* v = std::getenv("HOME")) had_home = true, old_home = v;
  std::filesystem::create_directory(dir.file("home"));
  std::filesystem::create_directory(dir.file("config"));
  ::setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
  ::setenv("HOME", dir.file("home").c_str(), 1);
  handler = std::make_unique<error_handler>(engine_error_table_size, engine_error_table);
  load_further_error_tables(*handler);
  handler->set_presenter(&presenter);
  handler->set_frame(&frame);
}

converter_fixture::~converter_fixture() {
  converter_.reset();
  handler.reset();
  if (had_xdg) ::setenv("XDG_CONFIG_HOME", old_xdg.c_str(), 1); else ::unsetenv("XDG_CONFIG_HOME");
  if (had_home) ::setenv("HOME", old_home.c_str(), 1); else ::unsetenv("HOME");
}

tamarind_convertor& converter_fixture::conv(tmd_front_end kind) {
  if (!converter_) {
    converter_ = std::make_unique<tamarind_convertor>(kind);
    converter_->set_frame(&frame);
  }
  return *converter_;
}

bool contains(const std::vector<std::string>& lines, const std::string& piece) {
  for (const auto& line : lines)
    if (line.find(piece) != std::string::npos) return true;
  return false;
}

}  // namespace conv_test
