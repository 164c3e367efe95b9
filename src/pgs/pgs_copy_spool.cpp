#include "pgs/pgs_copy_spool.h"

#include <unistd.h>

#include <cerrno>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

namespace {

constexpr std::size_t spool_buffer_bytes = 1 << 20;
constexpr std::size_t read_block_bytes = 4 << 20;

[[noreturn]] void spool_failed(const char* what) { throw tk_exception_ex(what, tk_level_recoverable); }

}  // namespace

pgs_copy_spool::pgs_copy_spool() { buffer.reserve(spool_buffer_bytes); }

pgs_copy_spool::~pgs_copy_spool() {
  if (file) std::fclose(file);
}

void pgs_copy_spool::append(std::string_view line, int record_number) {
  offsets.push_back(end);
  records.push_back(record_number);
  buffer.append(line);
  buffer += '\n';
  end += line.size() + 1;
  if (buffer.size() >= spool_buffer_bytes) flush();
}

void pgs_copy_spool::flush() {
  // The file is made when lines first go to it: most streams of a small table never need it.
  if (!file) {
    file = std::tmpfile();
    if (!file) spool_failed("Cannot create the temporary file for COPY data: ");
  }
  const int fd = fileno(file);
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n = ::pwrite(fd, buffer.data() + done, buffer.size() - done, static_cast<off_t>(written + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) spool_failed("Cannot write the temporary file for COPY data: ");
    done += static_cast<std::size_t>(n);
  }
  written += buffer.size();
  buffer.clear();
}

void pgs_copy_spool::clear() {
  offsets.clear();
  records.clear();
  end = 0;
  written = 0;
  buffer.clear();
}

void pgs_copy_spool::read(std::size_t first, std::size_t last, const std::function<void(const std::string&)>& sink) {
  if (first >= last) return;
  flush();
  const int fd = fileno(file);
  std::string block;
  std::string current;
  std::size_t line = first;
  while (line < last) {
    // Whole lines, about one block at a time (a single long line is read whole).
    const std::uint64_t from = offsets[line];
    std::size_t upto = line + 1;
    while (upto < last && offsets[upto] - from < read_block_bytes) ++upto;
    const std::uint64_t to = upto < offsets.size() ? offsets[upto] : end;
    block.resize(to - from);
    std::size_t got = 0;
    while (got < block.size()) {
      const ssize_t n = ::pread(fd, block.data() + got, block.size() - got, static_cast<off_t>(from + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) spool_failed("Cannot read the temporary file for COPY data: ");
      got += static_cast<std::size_t>(n);
    }
    std::size_t start = 0;
    for (std::size_t i = line; i < upto; ++i) {
      const std::size_t stop = static_cast<std::size_t>((i + 1 < offsets.size() ? offsets[i + 1] : end) - from) - 1;
      current.assign(block, start, stop - start);
      sink(current);
      start = stop + 1;
    }
    line = upto;
  }
}
