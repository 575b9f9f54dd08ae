// kwtool as a file tool, end to end: what it does to the output it is given
// (an existing file, the input itself, a device node, a FIFO, a symbolic
// link, a terminal), what a replaced or new file keeps (mode, owner, group,
// times), and that an interrupt or a full disk leaves no temporary file and
// the old target as it was. Plus the options file tools are expected to
// have: --version, default names, -c, -t, --rm, -k, -q, -v.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kwtool_test_util.h"

#if !defined(_WIN32)
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using kwtest::run_kwtool;
using kwtest::run_kwtool_bytes;

std::string noise(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>(i % 7 == 0 ? rng() & 0xFF : 'a' + i % 13);
    }
    return s;
}

class KwtoolFiles : public kwtest::KwtoolTest {
protected:
    kwtest::TempDir dir;
};

// Every writing subcommand refuses an existing output without -f, in one
// line naming it, and leaves it alone; with -f it is replaced.
TEST_F(KwtoolFiles, AnExistingOutputIsRefusedUnlessForced) {
    dir.write("src.txt", "AB00000E - Message %1!05d! not found.\n");
    dir.write("in.txt", "plain text\n");
    ASSERT_EQ(run_kwtool(dir, {"pack", "in.txt", "in.kwp"}).status, 0);
    const std::vector<std::vector<std::string>> commands = {
        {"pack", "in.txt", "victim"},
        {"pack", "in.txt", "-o", "victim"},
        {"unpack", "in.kwp", "victim"},
        {"xlate", "--to", "ebcdic", "in.txt", "victim"},
        {"scramble", "in.txt", "victim"},
        {"unscramble", "in.txt", "--output", "victim"},
        {"msg", "compile", "src.txt", "-o", "victim"},
    };
    for (const auto &args : commands) {
        SCOPED_TRACE(args[0]);
        dir.write("victim", "precious");
        auto r = run_kwtool(dir, args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "kwtool: victim: already exists (give -f to overwrite)\n");
        EXPECT_EQ(kwtest::slurp(dir.file("victim")), "precious");
        auto forced = args;
        forced.push_back("-f");
        r = run_kwtool(dir, forced);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(kwtest::slurp(dir.file("victim")), "precious");
    }
    // -1 is a level, not a file name: 'victim' is the input, packed into
    // victim.kwp, and stays as it was.
    dir.write("victim", "precious");
    const auto r = run_kwtool(dir, {"pack", "-1", "victim"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("victim")), "precious");
    EXPECT_TRUE(fs::exists(dir.file("victim.kwp")));
}

TEST_F(KwtoolFiles, InputAndOutputNamingOneFileAreRefused) {
    dir.write("f.txt", "text\n");
    fs::create_directory(dir.file("sub"));
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"pack", "-f", "f.txt", "f.txt"},
             {"xlate", "--to", "ascii", "-f", "f.txt", "./sub/../f.txt"},
             {"scramble", "-f", "f.txt", "-o", "f.txt"},
         }) {
        const auto r = run_kwtool(dir, args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(": is also the input"), std::string::npos) << r.err;
        EXPECT_EQ(kwtest::slurp(dir.file("f.txt")), "text\n");
    }
}

TEST_F(KwtoolFiles, DefaultNamesStandardOutputAndTest) {
    const std::string text = noise(200000, 1);
    dir.write("data.bin", text);
    ASSERT_EQ(run_kwtool(dir, {"pack", "data.bin"}).status, 0);
    ASSERT_TRUE(fs::exists(dir.file("data.bin.kwp"))) << "pack FILE writes FILE.kwp";
    const std::string packed = kwtest::slurp(dir.file("data.bin.kwp"));
    auto r = run_kwtool_bytes(dir, {"pack", "-c", "data.bin"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out == packed) << "-c writes standard output";

    fs::remove(dir.file("data.bin"));
    r = run_kwtool(dir, {"unpack", "data.bin.kwp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(kwtest::slurp(dir.file("data.bin")) == text) << "unpack FILE.kwp writes FILE";
    r = run_kwtool_bytes(dir, {"unpack", "--stdout", "data.bin.kwp"});
    EXPECT_TRUE(r.out == text);

    // A name without the suffix needs an explicit output; a packed name is
    // not packed again by default.
    fs::copy_file(dir.file("data.bin.kwp"), dir.file("nosuffix"));
    r = run_kwtool(dir, {"unpack", "nosuffix"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kwtool: nosuffix: does not end in .kwp: give the output name (OUT, -o or -c)\n");
    r = run_kwtool(dir, {"pack", "data.bin.kwp"});
    EXPECT_EQ(r.status, 2);

    // -t reads everything and writes nothing; any damage is status 2.
    const auto before = kwtest::listing(dir);
    r = run_kwtool(dir, {"unpack", "-t", "data.bin.kwp"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    std::string bad = packed;
    bad[bad.size() - 1] = static_cast<char>(bad[bad.size() - 1] ^ 1);
    dir.write("bad.kwp", bad);
    r = run_kwtool(dir, {"unpack", "--test", "bad.kwp"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kwtool: bad.kwp: damaged: the content does not match its checksum\n");
    dir.write("cut.kwp", packed.substr(0, packed.size() / 2));
    EXPECT_EQ(run_kwtool(dir, {"unpack", "-t", "cut.kwp"}).status, 2);
    fs::remove(dir.file("bad.kwp"));
    fs::remove(dir.file("cut.kwp"));
    EXPECT_EQ(kwtest::listing(dir), before) << "-t wrote nothing";
    EXPECT_EQ(run_kwtool(dir, {"unpack", "-t", "data.bin.kwp", "out"}).status, 2);

    // Standard input and output, as before, with no names at all.
    r = run_kwtool_bytes(dir, {"unpack"}, packed);
    EXPECT_TRUE(r.out == text);
}

TEST_F(KwtoolFiles, KeepRemoveQuietAndVerbose) {
    dir.write("a.txt", "some text to pack, some text to pack\n");
    auto r = run_kwtool(dir, {"pack", "-k", "-v", "a.txt"});
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(fs::exists(dir.file("a.txt"))) << "-k keeps the input, as always";
    EXPECT_EQ(r.err.rfind("kwtool: a.txt: packed 37 -> ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(" MiB/s\n"), std::string::npos) << r.err;
    r = run_kwtool(dir, {"unpack", "--rm", "-f", "-q", "a.txt.kwp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(dir.file("a.txt.kwp"))) << "--rm removed the input once the output was complete";
    EXPECT_EQ(kwtest::slurp(dir.file("a.txt")), "some text to pack, some text to pack\n");
    EXPECT_EQ(run_kwtool(dir, {"pack", "-k", "--rm", "a.txt"}).status, 2) << "-k and --rm exclude each other";
    EXPECT_EQ(run_kwtool(dir, {"pack", "-q", "-v", "a.txt"}).status, 2);
    // A failed run removes nothing.
    dir.write("bad.kwp", "KWPK\x01\x00\x00\x00rest");
    EXPECT_EQ(run_kwtool(dir, {"unpack", "--rm", "bad.kwp", "x"}).status, 2);
    EXPECT_TRUE(fs::exists(dir.file("bad.kwp")));
}

TEST_F(KwtoolFiles, VersionAndManualPointer) {
    for (const char *flag : {"--version", "-V"}) {
        const auto r = run_kwtool(dir, {flag});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("kwtool ", 0), 0u) << r.out;
        EXPECT_NE(r.out.find_first_of("0123456789"), std::string::npos);
    }
    const auto help = run_kwtool(dir, {"--help"});
    EXPECT_NE(help.out.find("man kwtool"), std::string::npos) << help.out;
}

#if defined(_WIN32)

TEST_F(KwtoolFiles, PosixOnly) {
    GTEST_SKIP() << "device nodes, FIFOs, symbolic links as users meet them, owners, signals, RLIMIT_FSIZE and "
                    "pseudo-terminals do not exist on Windows";
}

#else

struct stat stat_of(const std::string &path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

// kwtool started by fork and exec, with standard input from a pipe that the
// test writes, and a hook run in the child first (limits, signals).
class child {
public:
    child(const kwtest::TempDir &dir, const std::vector<std::string> &args, const std::function<void()> &before = {}) {
        int in[2];
        EXPECT_EQ(::pipe(in), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::close(in[0]);
            ::close(in[1]);
            const int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
            if (::chdir(dir.path().c_str()) != 0) {
                ::_exit(99);
            }
            if (before) {
                before();
            }
            std::vector<std::string> all{kwtest::kwtool_path()};
            all.insert(all.end(), args.begin(), args.end());
            kwtest::exec_or_exit(std::move(all));
        }
        ::close(in[0]);
        feed_ = in[1];
    }
    ~child() {
        close_input();
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }
    bool feed(const std::string &bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(feed_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    void close_input() {
        if (feed_ >= 0) {
            ::close(feed_);
            feed_ = -1;
        }
    }
    void signal(int sig) { ::kill(pid_, sig); }
    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        waited_ = true;
        return status;
    }

private:
    pid_t pid_ = -1;
    int feed_ = -1;
    bool waited_ = false;
};

using kwtest::temporaries;

bool wait_for_temporary(const kwtest::TempDir &dir) {
    for (int i = 0; i < 500; ++i) {
        if (!temporaries(dir).empty()) {
            return true;
        }
        ::usleep(10000);
    }
    return false;
}

TEST_F(KwtoolFiles, ASignalMidWriteRemovesTheTemporaryFileAndKeepsTheTarget) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        dir.write("out.kwp", "the old packed file");
        child c(dir, {"pack", "-f", "-", "out.kwp"});
        ASSERT_TRUE(c.feed(noise(1u << 20, 2))) << "a first part, then the writer waits for more";
        ASSERT_TRUE(wait_for_temporary(dir));
        c.signal(sig);
        const int status = c.wait();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "ends as the signal says: " << status;
        EXPECT_EQ(temporaries(dir), std::vector<std::string>{});
        EXPECT_EQ(kwtest::slurp(dir.file("out.kwp")), "the old packed file");
    }
}

TEST_F(KwtoolFiles, ASignalIgnoredAtStartStaysIgnored) {
    const std::string text = noise(1u << 20, 3);
    child c(dir, {"pack", "-", "out.kwp"}, [] { std::signal(SIGINT, SIG_IGN); });
    ASSERT_TRUE(c.feed(text));
    ASSERT_TRUE(wait_for_temporary(dir));
    c.signal(SIGINT);
    ::usleep(100000);
    ASSERT_TRUE(c.feed(text));
    c.close_input();
    const int status = c.wait();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(kwtest::listing(dir), std::vector<std::string>{"out.kwp"});
    const auto r = run_kwtool_bytes(dir, {"unpack", "-c", "out.kwp"});
    EXPECT_TRUE(r.out == text + text);
}

TEST_F(KwtoolFiles, AFullDiskExitsTwoAndKeepsTheTarget) {
    dir.write("big.bin", noise(3u << 20, 4));
    dir.write("out.bin", "old");
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"scramble", "-f", "big.bin", "out.bin"},
             {"pack", "-f", "big.bin", "out.bin"},
         }) {
        SCOPED_TRACE(args[0]);
        child c(dir, args, [] {
            struct rlimit lim {};
            lim.rlim_cur = lim.rlim_max = 1u << 20;  // 1 MiB: the disk is full after it
            ::setrlimit(RLIMIT_FSIZE, &lim);
        });
        c.close_input();
        const int status = c.wait();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
        EXPECT_EQ(kwtest::slurp(dir.file("out.bin")), "old");
        EXPECT_EQ(temporaries(dir), std::vector<std::string>{});
    }
}

TEST_F(KwtoolFiles, NewFilesTakeTheInputsModeAndPackCarriesItsTimes) {
    dir.write("tool.sh", "#!/bin/sh\necho packed and back\n");
    ASSERT_EQ(::chmod(dir.file("tool.sh").c_str(), 0750), 0);
    struct timespec times[2] = {{1000000000, 123456789}, {1200000000, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.file("tool.sh").c_str(), times, 0), 0);
    ASSERT_EQ(run_kwtool(dir, {"pack", "tool.sh"}).status, 0);
    fs::rename(dir.file("tool.sh"), dir.file("orig.sh"));
    ASSERT_EQ(run_kwtool(dir, {"unpack", "tool.sh.kwp"}).status, 0);
    for (const char *name : {"tool.sh.kwp", "tool.sh"}) {
        SCOPED_TRACE(name);
        const struct stat st = stat_of(dir.file(name));
        EXPECT_EQ(st.st_mode & 07777, 0750u);
        EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
        EXPECT_EQ(st.st_mtim.tv_nsec, 987654321);
    }
    // Other writers carry the mode, not the times; a private source gives a
    // private output.
    ASSERT_EQ(::chmod(dir.file("orig.sh").c_str(), 0600), 0);
    ASSERT_EQ(run_kwtool(dir, {"scramble", "orig.sh", "s.bin"}).status, 0);
    EXPECT_EQ(stat_of(dir.file("s.bin")).st_mode & 07777, 0600u);
    EXPECT_NE(stat_of(dir.file("s.bin")).st_mtim.tv_sec, 1200000000);
}

TEST_F(KwtoolFiles, AReplacedFileKeepsItsModeOwnerAndGroup) {
    // What scramble makes of in.txt, written to a new file for comparison.
    const auto expected = [&](const std::string &text) {
        dir.write("in.txt", text);
        fs::remove(dir.file("ref"));
        EXPECT_EQ(run_kwtool(dir, {"scramble", "in.txt", "ref"}).status, 0);
        return kwtest::slurp(dir.file("ref"));
    };
    std::string want = expected("new content\n");
    dir.write("out.txt", "old content\n");
    ASSERT_EQ(::chmod(dir.file("out.txt").c_str(), 0600), 0);
    ASSERT_EQ(run_kwtool(dir, {"scramble", "-f", "in.txt", "out.txt"}).status, 0);
    EXPECT_EQ(kwtest::slurp(dir.file("out.txt")), want);
    EXPECT_EQ(stat_of(dir.file("out.txt")).st_mode & 07777, 0600u) << "a private file stays private";

    // A hard link would be broken by a rename: the content goes in place.
    ASSERT_EQ(::link(dir.file("out.txt").c_str(), dir.file("other-name").c_str()), 0);
    want = expected("through both names\n");
    ASSERT_EQ(run_kwtool(dir, {"scramble", "-f", "in.txt", "out.txt"}).status, 0);
    EXPECT_EQ(kwtest::slurp(dir.file("other-name")), want);
    EXPECT_EQ(temporaries(dir), std::vector<std::string>{});

    if (::geteuid() != 0) {
        GTEST_SKIP() << "another owner needs root to set up";
    }
    ASSERT_EQ(::chown(dir.file("out.txt").c_str(), 12345, 23456), 0);
    ASSERT_EQ(run_kwtool(dir, {"pack", "-f", "in.txt", "out.txt"}).status, 0);
    const struct stat st = stat_of(dir.file("out.txt"));
    EXPECT_EQ(st.st_uid, 12345u);
    EXPECT_EQ(st.st_gid, 23456u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    // A user who may write the file but could not give a new one its owner
    // gets the content written in place.
    if (!kwtest::user_can_run(12345, 23456, kwtest::kwtool_path())) {
        GTEST_SKIP() << "user 12345 cannot reach " << kwtest::kwtool_path() << " (a folder above it is closed to others)";
    }
    want = expected("another user's run\n");
    dir.write("shared.txt", "old\n");
    ASSERT_EQ(::chmod(dir.file("shared.txt").c_str(), 0666), 0);
    ASSERT_EQ(::chown(dir.file("shared.txt").c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir.file("in.txt").c_str(), 0644), 0);
    child c(dir, {"scramble", "-f", "in.txt", "shared.txt"}, [] {
        if (::setgid(23456) != 0 || ::setuid(12345) != 0) {
            ::_exit(97);
        }
    });
    c.close_input();
    const int status = c.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const struct stat shared = stat_of(dir.file("shared.txt"));
    EXPECT_EQ(shared.st_uid, 0u);
    EXPECT_EQ(shared.st_mode & 07777, 0666u);
    EXPECT_EQ(kwtest::slurp(dir.file("shared.txt")), want);
    EXPECT_EQ(temporaries(dir), std::vector<std::string>{});

    // A folder that takes no new file: the content is finished in the
    // temporary folder, then copied in.
    want = expected("written from elsewhere\n");
    ASSERT_EQ(::chmod(dir.file("in.txt").c_str(), 0644), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    child locked(dir, {"scramble", "-f", "in.txt", "shared.txt"}, [] {
        if (::setgid(23456) != 0 || ::setuid(12345) != 0) {
            ::_exit(97);
        }
    });
    locked.close_input();
    const int locked_status = locked.wait();
    ASSERT_EQ(::chmod(dir.path().c_str(), 0700), 0);
    EXPECT_TRUE(WIFEXITED(locked_status) && WEXITSTATUS(locked_status) == 0) << locked_status;
    EXPECT_EQ(kwtest::slurp(dir.file("shared.txt")), want);
}

TEST_F(KwtoolFiles, ASymbolicLinkIsWrittenThrough) {
    dir.write("in.txt", "content\n");
    dir.write("target.txt", "old\n");
    fs::create_symlink("target.txt", dir.file("link"));
    auto r = run_kwtool(dir, {"scramble", "in.txt", "link"});
    EXPECT_EQ(r.status, 2) << "the target exists: -f is needed";
    r = run_kwtool(dir, {"unscramble", "-f", "in.txt", "link"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir.file("link")));
    EXPECT_EQ(fs::read_symlink(dir.file("link")), "target.txt");
    EXPECT_NE(kwtest::slurp(dir.file("target.txt")), "old\n");
    // A link to nothing yet: the file it names is created.
    fs::create_symlink("new.txt", dir.file("dangling"));
    ASSERT_EQ(run_kwtool(dir, {"pack", "in.txt", "dangling"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir.file("dangling")));
    EXPECT_TRUE(fs::is_regular_file(dir.file("new.txt")));
}

TEST_F(KwtoolFiles, ADeviceNodeIsWrittenIntoNotReplaced) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "mknod needs root";
    }
    const std::string null = dir.file("null");
    ASSERT_EQ(::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    dir.write("in.txt", "text\n");
    ASSERT_EQ(run_kwtool(dir, {"pack", "in.txt", "in.kwp"}).status, 0);
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"unpack", "in.kwp", "null"}, {"pack", "in.txt", "null"}, {"xlate", "--to", "ebcdic", "in.txt", "null"}}) {
        SCOPED_TRACE(args[0]);
        const auto r = run_kwtool(dir, args);
        EXPECT_EQ(r.status, 0) << "no -f needed: " << r.err;
        EXPECT_TRUE(S_ISCHR(stat_of(null).st_mode)) << "still the device";
    }
    EXPECT_EQ(run_kwtool(dir, {"unpack", "in.kwp", "/dev/null"}).status, 0);
    EXPECT_TRUE(S_ISCHR(stat_of("/dev/null").st_mode));
}

TEST_F(KwtoolFiles, AFifoIsWrittenInto) {
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string text = noise(300000, 5);
    dir.write("in.bin", text);
    std::string got;
    const pid_t reader = ::fork();
    if (reader == 0) {
        std::FILE *f = std::fopen(fifo.c_str(), "rb");
        std::FILE *out = std::fopen((dir.file("received")).c_str(), "wb");
        char buf[4096];
        std::size_t n = 0;
        while (f != nullptr && out != nullptr && (n = std::fread(buf, 1, sizeof buf, f)) > 0) {
            std::fwrite(buf, 1, n, out);
        }
        std::fclose(out);
        ::_exit(0);
    }
    const auto r = run_kwtool(dir, {"scramble", "in.bin", "pipe"});
    int status = 0;
    ::waitpid(reader, &status, 0);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(S_ISFIFO(stat_of(fifo).st_mode));
    const auto back = run_kwtool_bytes(dir, {"unscramble", "received"});
    EXPECT_TRUE(back.out == text);
}

// Binary data never goes to a terminal unless forced, and unpack does not
// wait for packed data typed at one.
TEST_F(KwtoolFiles, TerminalsAreRefusedForBinaryData) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        GTEST_SKIP() << "no pseudo-terminal here";
    }
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    dir.write("in.txt", "text\n");
    dir.write("src.txt", "AB00000E - Message %1!05d! not found.\n");
    const auto on_tty = [&](const std::vector<std::string> &args, bool tty_in) {
        child c(dir, args, [slave, tty_in] {
            ::dup2(slave, tty_in ? 0 : 1);
            ::dup2(slave, 2);
        });
        c.close_input();
        const int status = c.wait();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"pack", "in.txt", "-c"},
             {"scramble", "in.txt"},
             {"unscramble", "in.txt"},
             {"xlate", "--to", "ebcdic", "in.txt"},
             {"msg", "compile", "src.txt", "-o", "-"}}) {
        SCOPED_TRACE(args[0]);
        EXPECT_EQ(on_tty(args, false), 2);
        auto forced = args;
        forced.push_back("-f");
        EXPECT_EQ(on_tty(forced, false), 0);
    }
    EXPECT_EQ(on_tty({"unpack"}, true), 2) << "a terminal as input is refused at once";
    // Text subcommands still print to the terminal.
    EXPECT_EQ(on_tty({"count", "x", "in.txt"}, false), 0);
    char buf[4096];
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    std::string seen;
    ssize_t n = 0;
    while ((n = ::read(master, buf, sizeof buf)) > 0) {
        seen.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_NE(seen.find("refusing to write binary data to a terminal"), std::string::npos) << seen;
    EXPECT_NE(seen.find("refusing to read packed data from a terminal"), std::string::npos) << seen;
    ::close(master);
    ::close(slave);
}

#endif

}  // namespace
