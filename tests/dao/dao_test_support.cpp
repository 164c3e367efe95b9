#include "dao_test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "tk/tk_string.h"

namespace dao_test {

temp_dir::temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "dao_test_XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

temp_dir::~temp_dir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::wstring wide(const std::string& utf8) { return tk_utf8_to_unicode(utf8); }

fake_engine_scope::fake_engine_scope(std::set<int> failing)
    : script_(std::make_shared<wb_fake_script>()), previous_(wb_install_fake_engine(script_, std::move(failing))) {}

fake_engine_scope::~fake_engine_scope() { wb_set_engine_factory(previous_); }

wb_fake_field text_field(const std::wstring& name, long size) {
  wb_fake_field f;
  f.name = name;
  f.type = wb_dao_text;
  f.size = size;
  return f;
}

wb_fake_field typed_field(const std::wstring& name, int type, long size) {
  wb_fake_field f;
  f.name = name;
  f.type = type;
  f.size = size;
  return f;
}

}  // namespace dao_test
