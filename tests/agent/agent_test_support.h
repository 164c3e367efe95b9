#pragma once
// Helpers for the agent's in-process tests: a scratch folder, files written byte for byte, and
// agent_main run with an argument vector while both console streams are captured.
#include <filesystem>
#include <string>
#include <vector>

namespace agent_test {

/// A fresh folder, removed with everything in it when the object goes.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;

  const std::filesystem::path& path() const noexcept { return m_path; }
  /// Writes the bytes exactly as given and returns the file's path.
  std::string write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path m_path;
};

struct agent_result {
  int status = -1;
  std::string out;
  std::string err;
};

/// agent_main with "corvel" followed by `args`; both streams captured apart.
agent_result run_agent(const std::vector<std::string>& args);

/// A TCP port on 127.0.0.1 that nothing listens on (a connection there is refused at once).
int unused_port();

/// The bundled sample workbook.
std::string sample_workbook();

}  // namespace agent_test
