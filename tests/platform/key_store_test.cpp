#include "platform/key_store.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string key_path = "Software\\Hollowmere\\Tamarind";

// Points XDG_CONFIG_HOME at a fresh folder for one test.
class key_store_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        char templ[] = "/tmp/key_store_test.XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        root_ = templ;
        const char* old = std::getenv("XDG_CONFIG_HOME");
        had_old_ = old != nullptr;
        if (had_old_) old_ = old;
        ::setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
    }
    void TearDown() override
    {
        if (had_old_) ::setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
        else ::unsetenv("XDG_CONFIG_HOME");
        fs::remove_all(root_);
    }
    fs::path file() const { return root_ / "Hollowmere" / "Tamarind.conf"; }
    std::string read_file() const
    {
        std::ifstream in(file(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void write_file(const std::string& data) const
    {
        fs::create_directories(file().parent_path());
        std::ofstream(file(), std::ios::binary) << data;
    }

    fs::path root_;
    bool had_old_ = false;
    std::string old_;
};

using value = key_store::value;

TEST_F(key_store_test, LocationFollowsXdgAndKeyPath)
{
    EXPECT_EQ(key_store::file_for_key(key_path), file());
    EXPECT_EQ(key_store::file_for_key("Software\\..\\..\\x"), root_ / "x.conf");
    const char* home = std::getenv("HOME");
    const std::string saved_home = home != nullptr ? home : "";
    ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // not absolute: ignored
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(key_store::config_root(), fs::path("/home/someone/.config"));
    if (home != nullptr) ::setenv("HOME", saved_home.c_str(), 1);
    else ::unsetenv("HOME");
}

TEST_F(key_store_test, NewKeyCreatesFoldersButNoFileUntilFirstSet)
{
    key_store store;
    bool created = false;
    ASSERT_EQ(store.open(key_path, &created), 0);
    EXPECT_TRUE(created);
    EXPECT_TRUE(fs::is_directory(file().parent_path()));
    EXPECT_FALSE(fs::exists(file()));
    value v;
    EXPECT_EQ(store.get("missing", v), ENOENT);
}

TEST_F(key_store_test, EveryValueTypeRoundTrips)
{
    const std::vector<std::pair<std::string, value>> values = {
        {"port", value::of_number(5432)},
        {"max", value::of_number(4294967295u)},
        {"zero", value::of_number(0)},
        {"empty", value::of_text("")},
        {"umlaut \xC3\xA4 \xE2\x82\xAC \xF0\x9F\x98\x80", value::of_text("\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80")},
        {"a=b", value::of_text("x=y;z")},
        {"line\nbreak\r\\", value::of_text("first\nsecond\r\n\\n literal")},
        {"#not a comment", value::of_text(" leading and trailing ")},
    };
    {
        key_store store;
        ASSERT_EQ(store.open(key_path), 0);
        for (const auto& [name, v] : values) ASSERT_EQ(store.set(name, v), 0) << name;
    }
    key_store again;
    bool created = true;
    ASSERT_EQ(again.open(key_path, &created), 0);
    EXPECT_FALSE(created);
    for (const auto& [name, v] : values) {
        value got;
        ASSERT_EQ(again.get(name, got), 0) << name;
        EXPECT_EQ(got, v) << name;
    }
}

TEST_F(key_store_test, OverwriteKeepsOneLineAndTypeChanges)
{
    key_store store;
    ASSERT_EQ(store.open(key_path), 0);
    ASSERT_EQ(store.set("host", value::of_text("a")), 0);
    ASSERT_EQ(store.set("host", value::of_number(3)), 0);
    value got;
    ASSERT_EQ(store.get("host", got), 0);
    EXPECT_EQ(got, value::of_number(3));
    std::string data = read_file();
    EXPECT_EQ(data.find("host="), data.rfind("host="));
}

TEST_F(key_store_test, FileIsPrivate)
{
    key_store store;
    ASSERT_EQ(store.open(key_path), 0);
    ASSERT_EQ(store.set("pswd", value::of_text("secret")), 0);
    struct stat st {};
    ASSERT_EQ(::stat(file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(file().parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(key_store_test, ForeignLinesSurviveAndBadLinesAreIgnored)
{
    write_file("# a comment\r\nport=dword:12\r\ngarbage without equals\nx=dword:-1\ny=dword:99999999999\n"
               "z=sz:bad\\qescape\nw=float:1\nhost=sz:h\\=1");
    key_store store;
    ASSERT_EQ(store.open(key_path), 0);
    value got;
    ASSERT_EQ(store.get("port", got), 0);
    EXPECT_EQ(got, value::of_number(12));
    ASSERT_EQ(store.get("host", got), 0);
    EXPECT_EQ(got, value::of_text("h=1"));
    for (const char* bad : {"x", "y", "z", "w", "garbage without equals"}) EXPECT_EQ(store.get(bad, got), ENOENT) << bad;

    ASSERT_EQ(store.set("port", value::of_number(13)), 0);
    std::string data = read_file();
    for (const char* kept : {"# a comment\n", "garbage without equals\n", "x=dword:-1\n", "z=sz:bad\\qescape\n"})
        EXPECT_NE(data.find(kept), std::string::npos) << kept;
    EXPECT_NE(data.find("port=dword:13\n"), std::string::npos);
}

TEST_F(key_store_test, DamagedFileIsAnErrorAndNeverOverwritten)
{
    const std::string damaged("port=dword:1\n\0\xFF\xFE binary", 24);
    write_file(damaged);
    key_store store;
    EXPECT_EQ(store.open(key_path), EILSEQ);
    EXPECT_NE(key_store::error_text(EILSEQ).find("damaged"), std::string::npos);
    EXPECT_FALSE(store.is_open());
    EXPECT_EQ(store.set("port", value::of_number(2)), EBADF);

    // Damaged after a successful open: the set refuses and the bytes stay.
    write_file("port=dword:1\n");
    ASSERT_EQ(store.open(key_path), 0);
    write_file(damaged);
    EXPECT_EQ(store.set("port", value::of_number(2)), EILSEQ);
    EXPECT_EQ(read_file(), damaged);
}

TEST_F(key_store_test, UnreadableFileIsAnError)
{
    if (::geteuid() == 0) GTEST_SKIP() << "permission checks do not apply to root";
    write_file("port=dword:1\n");
    ::chmod(file().c_str(), 0200);
    key_store store;
    EXPECT_EQ(store.open(key_path), EACCES);
}

TEST_F(key_store_test, LeftoverTemporaryFromACrashDoesNotDisturb)
{
    key_store store;
    ASSERT_EQ(store.open(key_path), 0);
    ASSERT_EQ(store.set("port", value::of_number(1)), 0);
    // A crash between writing the temporary and the rename leaves this behind.
    std::ofstream(file().string() + ".Ab12Cd", std::ios::binary) << "port=dword:99\nhalf";
    key_store again;
    ASSERT_EQ(again.open(key_path), 0);
    value got;
    ASSERT_EQ(again.get("port", got), 0);
    EXPECT_EQ(got, value::of_number(1));
    ASSERT_EQ(again.set("user", value::of_text("u")), 0);
    ASSERT_EQ(again.get("port", got), 0);
    EXPECT_EQ(got, value::of_number(1));
}

TEST_F(key_store_test, FailedWriteReportsAndKeepsOldFile)
{
    key_store store;
    ASSERT_EQ(store.open(key_path), 0);
    ASSERT_EQ(store.set("host", value::of_text("old")), 0);
    const std::string before = read_file();

    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{16, 16};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        int rc = store.set("host", value::of_text(std::string(4096, 'x')));
        ::_exit(rc == EFBIG ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "set did not report the write failure";
    EXPECT_EQ(read_file(), before);
    for (const auto& entry : fs::directory_iterator(file().parent_path()))
        EXPECT_TRUE(entry.path() == file() || entry.path().extension() == ".lock") << entry.path();
}

TEST_F(key_store_test, TwoWritersKeepEachOthersValues)
{
    key_store first, second;
    ASSERT_EQ(first.open(key_path), 0);
    ASSERT_EQ(second.open(key_path), 0);
    ASSERT_EQ(first.set("a", value::of_number(1)), 0);
    ASSERT_EQ(second.set("b", value::of_number(2)), 0);  // opened before "a" existed
    key_store reader;
    ASSERT_EQ(reader.open(key_path), 0);
    value got;
    EXPECT_EQ(reader.get("a", got), 0);
    EXPECT_EQ(reader.get("b", got), 0);
}

TEST_F(key_store_test, ConcurrentProcessesLoseNothing)
{
    constexpr int writers = 4, per_writer = 25;
    std::vector<pid_t> pids;
    for (int w = 0; w < writers; ++w) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            key_store store;
            int failed = store.open(key_path);
            for (int i = 0; i < per_writer && failed == 0; ++i)
                failed = store.set("w" + std::to_string(w) + "_" + std::to_string(i), value::of_number(i));
            ::_exit(failed == 0 ? 0 : 1);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    key_store reader;
    ASSERT_EQ(reader.open(key_path), 0);
    for (int w = 0; w < writers; ++w)
        for (int i = 0; i < per_writer; ++i) {
            value got;
            ASSERT_EQ(reader.get("w" + std::to_string(w) + "_" + std::to_string(i), got), 0) << w << " " << i;
            EXPECT_EQ(got, value::of_number(static_cast<std::uint32_t>(i)));
        }
}

}  // namespace
