#include "agent_test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "agent/agent_main.h"

namespace agent_test {

scratch_dir::scratch_dir() {
  std::random_device random;
  m_path = std::filesystem::temp_directory_path() /
           ("tmd_agent_" + std::to_string(::getpid()) + "_" + std::to_string(random()));
  std::filesystem::create_directories(m_path);
}

scratch_dir::~scratch_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::string scratch_dir::write(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path file = m_path / name;
  std::ofstream stream(file, std::ios::binary);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return file.string();
}

agent_result run_agent(const std::vector<std::string>& args) {
  std::vector<std::string> storage;
  storage.reserve(args.size() + 1);
  storage.push_back("corvel");
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);

  agent_result result;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  result.status = agent_main(static_cast<int>(storage.size()), argv.data());
  result.err = testing::internal::GetCapturedStderr();
  result.out = testing::internal::GetCapturedStdout();
  return result;
}

int unused_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  int port = 1;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  if (fd >= 0) ::close(fd);  // bound but never listening: nothing accepts there
  return port;
}

std::string sample_workbook() { return std::string(TAMARIND_SOURCE_DIR) + "/samples/sample.xlsx"; }

}  // namespace agent_test
