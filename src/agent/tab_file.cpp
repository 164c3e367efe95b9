#include "agent/tab_file.h"

#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "agent/agent_main.h"
#include "agent/agent_messages.h"
#include "platform/unicode_text.h"
#include "tk/tk_format.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"
#include "tk/tk_string.h"

namespace {

struct file_closer {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

constexpr char utf8_bom[] = "\xEF\xBB\xBF";

bool starts_with_bom(const std::string& line) { return line.compare(0, 3, utf8_bom) == 0; }

bool is_valid_utf8(const std::string& bytes) {
  // Decoding turns every invalid sequence into U+FFFD, so only valid text encodes back unchanged.
  return platform::utf8_encode(platform::utf8_decode(bytes)) == bytes;
}

[[noreturn]] void refuse_missing() { throw tab_file_error(agent_messages[agent_msg_tab_file_missing]); }

[[noreturn]] void refuse_special() {
  throw tab_file_error("Table names file is a FIFO, a socket or a device, not a regular file.");
}

/// Opens a regular file for reading. Never waits: a FIFO put in the file's place after the test
/// is opened without blocking and refused.
std::FILE* open_regular_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) refuse_missing();
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  std::FILE* file = regular ? ::fdopen(fd, "rb") : nullptr;
  if (file) return file;
  ::close(fd);
  if (S_ISDIR(st.st_mode) || regular) refuse_missing();
  refuse_special();
}

[[noreturn]] void refuse_long_line(int line_number) {
  throw tab_file_error(tk_format("Table names file has a line longer than %d bytes (line %d).",
                                 static_cast<int>(tab_file_max_line_bytes), line_number));
}

/// Reads one line without its line end into `line`; false at the end of the file. Stops reading
/// as soon as the line is known to be too long, so endless input cannot hang the reader.
bool read_line(std::FILE* file, std::string& line, int line_number) {
  line.clear();
  bool any = false;
  int c;
  while ((c = std::getc(file)) != EOF) {
    any = true;
    if (c == '\n') break;
    line += static_cast<char>(c);
    // One byte more than the longest line may still be the CR of a CR LF.
    if (line.size() > tab_file_max_line_bytes + 1) refuse_long_line(line_number);
  }
  if (std::ferror(file)) refuse_missing();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > tab_file_max_line_bytes) refuse_long_line(line_number);
  return any;
}

}  // namespace

std::vector<std::wstring> read_tab_file(const std::string& path) {
  tk_log(1, "process_tab_file(%s)", path);
  // Tested before opening: opening a device can act on it.
  if (tk_is_special_file(path)) refuse_special();
  // A folder or anything else that does not open as a file counts as missing.
  std::unique_ptr<std::FILE, file_closer> file(open_regular_file(path));

  enum class encoding { undecided, utf8, legacy_or_utf8 };
  encoding kind = encoding::undecided;
  std::vector<std::string> lines;
  bool all_valid_utf8 = true;
  std::string line;
  for (int number = 1; read_line(file.get(), line, number); ++number) {
    if (line.empty()) continue;
    if (kind == encoding::undecided) {
      if (starts_with_bom(line)) {
        kind = encoding::utf8;
        line.erase(0, 3);
        if (line.empty()) continue;  // a line holding only the mark names nothing
      } else {
        kind = encoding::legacy_or_utf8;
      }
    }
    if (kind == encoding::legacy_or_utf8 && all_valid_utf8) all_valid_utf8 = is_valid_utf8(line);
    lines.push_back(std::move(line));
  }

  std::vector<std::wstring> names;
  names.reserve(lines.size());
  const bool utf8 = kind == encoding::utf8 || all_valid_utf8;
  for (const std::string& bytes : lines)
    names.push_back(utf8 ? tk_utf8_to_unicode(bytes) : tk_cp1252_to_unicode(bytes));
  return names;
}

std::vector<std::wstring> process_tab_file(const std::string& path) {
  try {
    return read_tab_file(path);
  } catch (const tab_file_error& e) {
    fatal_console_exit(e.what());
  }
}
