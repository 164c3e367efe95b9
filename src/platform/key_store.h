#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

/// One settings key (the registry key of the Windows programs) kept in one text file.
///
/// The key path "Software\Hollowmere\Tamarind" lives in <config>/Hollowmere/Tamarind.conf, where <config> is
/// $XDG_CONFIG_HOME when it is set and absolute, else ~/.config. The file is UTF-8, one value a line:
///
///     name=dword:<decimal 0..4294967295>
///     name=sz:<text>
///
/// In names and texts a backslash, a line feed and a carriage return are written "\\", "\n", "\r"; an "=" in a
/// name is written "\=", and a "#" that begins a name "\#" (lines beginning with "#" are comments). Any other line (a comment, a line another version wrote) is ignored when read and kept
/// verbatim when the file is written back.
///
/// Every `set` locks the key (flock on "<file>.lock"), reads the file afresh, changes that one value and
/// replaces the file whole: a temporary in the same folder (mode 0600), fsync, rename. So two processes keep
/// each other's values, and a crash leaves either the old file or the new one, never a half. A file that cannot
/// be read, or that is not text (a NUL byte, invalid UTF-8, larger than 16 MiB), is reported by its error code
/// and never written over.
class key_store {
public:
    enum class kind { dword, text };

    struct value {
        kind type = kind::dword;
        std::uint32_t number = 0;
        std::string text;  // UTF-8

        static value of_number(std::uint32_t n) { return {kind::dword, n, {}}; }
        static value of_text(std::string t) { return {kind::text, 0, std::move(t)}; }
        bool operator==(const value&) const = default;
    };

    /// Largest key file read; a larger one is taken as damaged.
    static constexpr std::uintmax_t max_file_size = 16u << 20;

    key_store() = default;
    key_store(const key_store&) = delete;
    key_store& operator=(const key_store&) = delete;

    /// The folder under which the keys live: $XDG_CONFIG_HOME if set and absolute, else $HOME/.config.
    static std::filesystem::path config_root();
    /// The file of a key path: "Software\" is dropped and "\" separates folders; ".conf" is appended.
    static std::filesystem::path file_for_key(const std::string& key_path);

    /// Opens the key, creating its folders (mode 0700) when missing; the file itself appears with the first
    /// `set`. `created` tells whether the key had no file yet. Returns 0 or an errno value (EILSEQ: damaged).
    int open(const std::string& key_path, bool* created = nullptr);
    void close();
    bool is_open() const { return open_; }
    const std::filesystem::path& file() const { return file_; }

    /// 0 and the value; ENOENT when the key has no value of that name; EBADF when no key is open.
    int get(const std::string& name, value& out) const;
    /// Stores one value as described above. 0 or an errno value; on failure the file is unchanged.
    int set(const std::string& name, const value& v);

    /// The file's lines as parsed (exposed for the format's own tests).
    struct line {
        std::string raw;      // the line as read or as it will be written
        bool is_value = false;
        std::string name;
        value val;
    };

    /// A readable text for an error code of open and set.
    static std::string error_text(int code);

    /// Text form of one value line, and its parse (false for any line that is not a value line).
    static std::string format_line(const std::string& name, const value& v);
    static bool parse_line(const std::string& raw, line& out);

private:
    int read_lines(std::vector<line>& lines) const;
    int write_lines(const std::vector<line>& lines) const;

    bool open_ = false;
    std::filesystem::path file_;
    std::vector<line> lines_;
};
