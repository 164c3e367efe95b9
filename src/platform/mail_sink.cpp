#include "platform/mail_sink.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>
#include <vector>

extern char** environ;

mail_sink::mail_sink(std::string program) : m_program(std::move(program)) {}

bool mail_sink::send(const mail_message& mail) const noexcept {
  try {
    // xdg-email refuses an option whose value is empty, so an empty subject or body is left out.
    std::vector<std::string> args{m_program, "--utf8"};
    if (!mail.subject.empty()) args.insert(args.end(), {"--subject", mail.subject});
    if (!mail.body.empty()) args.insert(args.end(), {"--body", mail.body});
    if (!mail.to.empty()) args.push_back(mail.to);
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    if (posix_spawnp(&pid, m_program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;

    // The child may outlive this call by minutes; reap it in the background so it leaves no zombie.
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
    return true;
  } catch (...) {
    return false;
  }
}
