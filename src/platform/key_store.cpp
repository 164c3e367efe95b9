#include "platform/key_store.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* header_line =
    "# Tamarind settings. One value a line: name=dword:<decimal> or name=sz:<text>;"
    " \\\\, \\n, \\r escaped, and = in names as \\=.";

void escape_into(std::string& out, const std::string& text, bool is_name)
{
    // A name must not make its line look like a comment.
    if (is_name && !text.empty() && text[0] == '#') out += '\\';
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '=':
            if (is_name) out += "\\=";
            else out += c;
            break;
        default: out += c;
        }
    }
}

// Reads an escaped run from `pos` up to an unescaped `stop` (or the end when stop is 0).
bool unescape(const std::string& raw, std::size_t& pos, char stop, std::string& out)
{
    while (pos < raw.size()) {
        char c = raw[pos];
        if (stop != 0 && c == stop) return true;
        ++pos;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos == raw.size()) return false;
        char e = raw[pos++];
        switch (e) {
        case '\\': out += '\\'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case '=': out += '='; break;
        case '#': out += '#'; break;
        default: return false;
        }
    }
    return stop == 0;
}

bool is_valid_utf8(const std::string& s)
{
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        auto b = static_cast<unsigned char>(s[i]);
        if (b == 0) return false;
        if (b < 0x80) {
            ++i;
            continue;
        }
        int len;
        std::uint32_t cp;
        if (b >= 0xC2 && b <= 0xDF) { len = 2; cp = b & 0x1F; }
        else if (b >= 0xE0 && b <= 0xEF) { len = 3; cp = b & 0x0F; }
        else if (b >= 0xF0 && b <= 0xF4) { len = 4; cp = b & 0x07; }
        else return false;
        if (n - i < static_cast<std::size_t>(len)) return false;
        for (int k = 1; k < len; ++k) {
            auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += len;
    }
    return true;
}

// Creates each missing folder of `dir` with mode 0700.
int make_folders(const fs::path& dir)
{
    fs::path partial;
    for (const auto& part : dir) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int write_all(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Holds an exclusive flock for the life of the object.
class key_lock {
public:
    explicit key_lock(const fs::path& lock_file)
    {
        fd_ = ::open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = errno;
                return;
            }
        }
    }
    ~key_lock()
    {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    key_lock(const key_lock&) = delete;
    key_lock& operator=(const key_lock&) = delete;
    int error() const { return error_; }

private:
    int fd_ = -1;
    int error_ = 0;
};

}  // namespace

fs::path key_store::config_root()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return fs::path(xdg);
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* pw = ::getpwuid(::getuid());
        home = (pw != nullptr && pw->pw_dir != nullptr) ? pw->pw_dir : "/";
    }
    return fs::path(home) / ".config";
}

fs::path key_store::file_for_key(const std::string& key_path)
{
    std::string rest = key_path;
    constexpr std::string_view software = "Software\\";
    if (rest.compare(0, software.size(), software) == 0) rest.erase(0, software.size());
    fs::path result = config_root();
    std::size_t start = 0;
    std::vector<std::string> parts;
    while (start <= rest.size()) {
        std::size_t end = rest.find('\\', start);
        if (end == std::string::npos) end = rest.size();
        std::string part = rest.substr(start, end - start);
        // Components that would climb out of the config folder are not folder names here.
        if (!part.empty() && part != "." && part != "..") parts.push_back(part);
        start = end + 1;
    }
    if (parts.empty()) parts.push_back("settings");
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) result /= parts[i];
    result /= parts.back() + ".conf";
    return result;
}

std::string key_store::error_text(int code)
{
    switch (code) {
    case EILSEQ: return "the file is damaged (it is not a settings text file)";
    case EFBIG: return "the file is too large for a settings file";
    default: return std::strerror(code);
    }
}

std::string key_store::format_line(const std::string& name, const value& v)
{
    std::string out;
    escape_into(out, name, true);
    if (v.type == kind::dword) {
        out += "=dword:";
        out += std::to_string(v.number);
    } else {
        out += "=sz:";
        escape_into(out, v.text, false);
    }
    return out;
}

bool key_store::parse_line(const std::string& raw, line& out)
{
    out = line{};
    out.raw = raw;
    if (raw.empty() || raw[0] == '#') return false;
    std::size_t pos = 0;
    std::string name;
    if (!unescape(raw, pos, '=', name)) return false;
    ++pos;  // the '='
    std::string_view rest(raw);
    rest.remove_prefix(pos);
    if (rest.starts_with("dword:")) {
        rest.remove_prefix(6);
        std::uint32_t n = 0;
        auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), n);
        if (ec != std::errc() || end != rest.data() + rest.size() || rest.empty()) return false;
        out.val = value::of_number(n);
    } else if (rest.starts_with("sz:")) {
        pos += 3;
        std::string text;
        if (!unescape(raw, pos, 0, text)) return false;
        out.val = value::of_text(std::move(text));
    } else {
        return false;
    }
    out.name = std::move(name);
    out.is_value = true;
    return true;
}

int key_store::read_lines(std::vector<line>& lines) const
{
    lines.clear();
    int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int e = errno;
        ::close(fd);
        return e;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    }
    std::string data;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            ::close(fd);
            return e;
        }
        if (n == 0) break;
        data.append(buf, static_cast<std::size_t>(n));
        if (data.size() > max_file_size) {
            ::close(fd);
            return EFBIG;
        }
    }
    ::close(fd);
    if (!is_valid_utf8(data)) return EILSEQ;

    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        std::string raw = data.substr(start, end - start);
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        line l;
        parse_line(raw, l);
        lines.push_back(std::move(l));
        start = end + 1;
    }
    return 0;
}

int key_store::write_lines(const std::vector<line>& lines) const
{
    std::string data;
    for (const auto& l : lines) {
        data += l.raw;
        data += '\n';
    }
    std::string templ = file_.string() + ".XXXXXX";
    int fd = ::mkostemp(templ.data(), O_CLOEXEC);  // mode 0600
    if (fd < 0) return errno;
    int error = write_all(fd, data);
    if (error == 0 && ::fchmod(fd, 0600) != 0) error = errno;
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(templ.c_str(), file_.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(templ.c_str());
        return error;
    }
    // Make the rename itself durable; a failure here leaves a complete file either way.
    int dir = ::open(file_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

int key_store::open(const std::string& key_path, bool* created)
{
    close();
    file_ = file_for_key(key_path);
    if (int e = make_folders(file_.parent_path()); e != 0) return e;
    std::vector<line> lines;
    int e = read_lines(lines);
    if (e == ENOENT) {
        lines.clear();
        if (created != nullptr) *created = true;
    } else if (e != 0) {
        return e;
    } else if (created != nullptr) {
        *created = false;
    }
    lines_ = std::move(lines);
    open_ = true;
    return 0;
}

void key_store::close()
{
    open_ = false;
    lines_.clear();
}

int key_store::get(const std::string& name, value& out) const
{
    if (!open_) return EBADF;
    for (const auto& l : lines_) {
        if (l.is_value && l.name == name) {
            out = l.val;
            return 0;
        }
    }
    return ENOENT;
}

int key_store::set(const std::string& name, const value& v)
{
    if (!open_) return EBADF;
    if (!is_valid_utf8(name) || (v.type == kind::text && !is_valid_utf8(v.text))) return EILSEQ;
    key_lock lock(file_.string() + ".lock");
    if (lock.error() != 0) return lock.error();

    std::vector<line> lines;
    int e = read_lines(lines);
    if (e == ENOENT) {
        lines.clear();
        line header;
        header.raw = header_line;
        lines.push_back(std::move(header));
    } else if (e != 0) {
        return e;
    }

    line changed;
    changed.raw = format_line(name, v);
    changed.is_value = true;
    changed.name = name;
    changed.val = v;
    bool replaced = false;
    for (auto& l : lines) {
        if (l.is_value && l.name == name) {
            l = changed;
            replaced = true;
            break;
        }
    }
    if (!replaced) lines.push_back(std::move(changed));

    if (e = write_lines(lines); e != 0) return e;
    lines_ = std::move(lines);
    return 0;
}
