#pragma once
// Shared pieces of the workbook-source tests: a scratch folder, the scripted engine installed as
// the engine factory for one test, and a reader that can be instantiated.
#include <memory>
#include <set>
#include <string>

#include "dao/xls_reader.h"
#include "workbook/fake/wb_fake_engine.h"

namespace dao_test {

/// A fresh folder, removed with its files when the object goes.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void write_bytes(const std::string& path, const std::string& bytes);
std::wstring wide(const std::string& utf8);

/// Installs a scripted engine as the factory (keys in `failing` give none) and restores the
/// previous factory at the end of the test.
class fake_engine_scope {
 public:
  explicit fake_engine_scope(std::set<int> failing = {});
  ~fake_engine_scope();
  wb_fake_script& script() { return *script_; }

 private:
  std::shared_ptr<wb_fake_script> script_;
  wb_engine_factory previous_;
};

/// A text column of the scripted engine.
wb_fake_field text_field(const std::wstring& name, long size = 255);
wb_fake_field typed_field(const std::wstring& name, int type, long size = 8);

/// The reader with the converter's remaining duties stubbed.
class test_reader : public xls_reader {
 public:
  bool test_connection() override { return true; }
  void set_source(const std::wstring& path) { src = path; }
  const name_map& selected_tables() const { return selected; }
};

}  // namespace dao_test
