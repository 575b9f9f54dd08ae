// Writing back: the file gets exactly the stored lines, is replaced in one
// step (a failure on the way leaves it whole and no stray file behind), stays
// a link when it was reached through one, keeps its permission bits, and is
// held open again afterwards. Whatever a replacement would change (a device,
// hard links, an owner or group the writer cannot give a new file) is
// rewritten in place instead, and keeps what it is.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <sched.h>
#include <sys/mount.h>
#include <sys/xattr.h>
#endif

#include "ini/ini_internal.h"
#include "ini_test_util.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kwtest::CallerText;
using kwtest::eol;
using kwtest::fresh_record;
using kwtest::read_file;
using kwtest::Ledger;
using kwtest::TempDir;
using kwtest::text;
using kwtest::u;

KW_INI_INTERNAL *priv(KW_INI_STRUC &ini) { return kw::ini::view(&ini); }

std::set<std::string> names_in(const fs::path &folder) {
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

#if defined(_WIN32)
// The file's identity: its volume and its index on that volume.
bool identity(HANDLE h, BY_HANDLE_FILE_INFORMATION &info) {
    return h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info) != 0;
}

// The handle holds the file now at path (not some older, replaced one).
void expect_holds(KW_INI_STRUC &ini, const std::string &path) {
    std::FILE *f = priv(ini)->pFile;
    ASSERT_NE(f, nullptr) << "no file held";
    BY_HANDLE_FILE_INFORMATION held {}, named {};
    ASSERT_TRUE(identity(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f))), held));
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool ok = identity(h, named);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
    }
    ASSERT_TRUE(ok) << path;
    EXPECT_EQ(held.dwVolumeSerialNumber, named.dwVolumeSerialNumber);
    EXPECT_EQ(held.nFileIndexHigh, named.nFileIndexHigh);
    EXPECT_EQ(held.nFileIndexLow, named.nFileIndexLow) << "the handle holds a file that is no longer " << path;
}
#else
unsigned mode_of(const std::string &path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// The handle holds the file now at path (not some older, replaced one),
// open for reading and writing.
void expect_holds(KW_INI_STRUC &ini, const std::string &path) {
    std::FILE *f = priv(ini)->pFile;
    ASSERT_NE(f, nullptr) << "no file held";
    struct stat held {}, named {};
    ASSERT_EQ(::fstat(::fileno(f), &held), 0);
    ASSERT_EQ(::stat(path.c_str(), &named), 0);
    EXPECT_EQ(held.st_ino, named.st_ino) << "the handle holds a file that is no longer " << path;
    EXPECT_EQ(held.st_dev, named.st_dev);
    const int flags = ::fcntl(::fileno(f), F_GETFL);
    EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
}

// Run fn in a child process and return its exit code (1000 + signal number
// when it was killed). The child leaves with _exit, so nothing of the test
// framework runs twice.
template <class F>
int in_child(F fn) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(fn());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}
#endif

class IniWrite : public ::testing::Test {
protected:
    void SetUp() override { Ledger::reset(); }
    void TearDown() override {
        KW_ini_close(&ini);
        EXPECT_TRUE(Ledger::get().live.empty()) << "blocks left behind";
        EXPECT_FALSE(Ledger::get().bad_release);
    }
    // Write content to name in the temporary folder and open it with mode 2.
    // The content goes to disk as a text-mode write would leave it.
    std::string open_file(const std::string &name, const std::string &content) {
        const std::string path = dir.write(name, eol(content));
        ini = fresh_record();
        kwtest::use_ledger(ini);
        EXPECT_EQ(KW_ini_open(&ini, path.c_str(), KW_INI_READWRITE, 0), INI_OK) << path;
        return path;
    }
    KW_INI_STRUC ini = fresh_record();
    TempDir dir;
};

const std::string kConfig = "; settings\n[Main]\nName=x\n\n[Net]\nPort=5\n";

TEST_F(IniWrite, RefusedWithoutAFileToWrite) {
    const std::string path = dir.write("r.ini", kConfig);
    ini = fresh_record();
    ASSERT_EQ(KW_ini_open(&ini, path.c_str(), KW_INI_READ, 0), INI_OK);
    EXPECT_EQ(KW_ini_write(&ini), INI_ERR_MODE);
    EXPECT_EQ(read_file(path), kConfig);
    ASSERT_EQ(KW_ini_close(&ini), INI_OK);

    CallerText t({"[A]", "k=v"});
    ini = fresh_record();
    ASSERT_EQ(t.open(ini, KW_INI_READWRITE), INI_OK);
    EXPECT_EQ(KW_ini_write(&ini), INI_ERR_NO_FILE);
    ASSERT_EQ(KW_ini_close(&ini), INI_OK);

    open_file("w.ini", kConfig);
    ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    ASSERT_EQ(KW_ini_close(&ini), INI_OK);
    EXPECT_EQ(KW_ini_write(&ini), INI_ERR_HANDLE) << "after close the record is no longer open";
    EXPECT_EQ(read_file(dir.file("w.ini")), eol(kConfig));

    KW_INI_STRUC never = fresh_record();
    EXPECT_EQ(KW_ini_write(&never), INI_ERR_HANDLE);
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"r.ini", "w.ini"}));
}

TEST_F(IniWrite, WriteWithoutEditsGivesTheSameBytes) {
    const std::string long_key_line = std::string(200, 'k') + "=" + std::string(54, 'v') + "=" + std::string(99, 'w') + "\n";
    struct Case {
        const char *name;
        std::string content;
    } cases[] = {
        {"usual", kConfig},
        {"no final line end", "[A]\nk=v"},
        {"empty", ""},
        {"blank lines only", "\n\n\n"},
        {"a line longer than 255 bytes", "[A]\n" + long_key_line + "b=2\n"},
        {"tabs and trailing spaces", "[A] \n\tk = v  \n;\t\n"},
    };
    for (const Case &c : cases) {
        const std::string path = open_file("same.ini", c.content);
        const std::size_t requests = Ledger::get().requests.size();
        EXPECT_EQ(KW_ini_write(&ini), INI_OK) << c.name;
        EXPECT_EQ(read_file(path), eol(c.content)) << c.name;
        EXPECT_EQ(Ledger::get().requests.size(), requests) << "a write obtains no memory";
        EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"same.ini"}) << c.name;
        expect_holds(ini, path);
        ASSERT_EQ(KW_ini_close(&ini), INI_OK);
    }
}

// Files are read and written in the host's text mode. A CR LF file comes
// back byte for byte everywhere; on Windows its lines arrive ending in 0x0A
// alone, elsewhere CR stays part of the line.
TEST_F(IniWrite, ACrLfFileComesBackUnchangedOnEveryHost) {
    const std::string crlf = "[A]\r\nk=v\r\n";
    const std::string path = dir.write("crlf.ini", crlf);
    ini = fresh_record();
    kwtest::use_ledger(ini);
    ASSERT_EQ(KW_ini_open(&ini, path.c_str(), KW_INI_READWRITE, 0), INI_OK);
    const std::string cr = std::strcmp(kwtest::kEol, "\r\n") == 0 ? "" : "\r";
    EXPECT_EQ(text(ini.pLine), "[A]" + cr + "\n");
    ASSERT_EQ(KW_ini_next(&ini), INI_OK);
    EXPECT_EQ(text(ini.pValue), "v" + cr + "\n");
    ASSERT_EQ(KW_ini_write(&ini), INI_OK);
    EXPECT_EQ(read_file(path), crlf);
}

TEST_F(IniWrite, EditsReachTheFile) {
    struct Case {
        const char *name;
        std::uint16_t line;
        std::uint32_t (*edit)(KW_INI_STRUC *);
        std::string expected;
    } cases[] = {
        {"delete", 3, [](KW_INI_STRUC *p) { return KW_ini_delete(p); },
         "; settings\n[Main]\n\n[Net]\nPort=5\n"},
        {"replace", 6, [](KW_INI_STRUC *p) { return KW_ini_replace(p, u("Port=6\n")); },
         "; settings\n[Main]\nName=x\n\n[Net]\nPort=6\n"},
        {"insert after", 6, [](KW_INI_STRUC *p) { return KW_ini_insert(p, u("Host=h\n"), 1); },
         kConfig + "Host=h\n"},
        // No line end of its own: the next line runs on behind it.
        {"insert without line end", 3, [](KW_INI_STRUC *p) { return KW_ini_insert(p, u("Joined=1"), 0); },
         "; settings\n[Main]\nJoined=1Name=x\n\n[Net]\nPort=5\n"},
    };
    for (const Case &c : cases) {
        const std::string path = open_file("edit.ini", kConfig);
        ASSERT_EQ(KW_ini_goto(&ini, c.line), INI_OK);
        ASSERT_EQ(c.edit(&ini), INI_OK) << c.name;
        EXPECT_EQ(KW_ini_write(&ini), INI_OK) << c.name;
        EXPECT_EQ(read_file(path), eol(c.expected)) << c.name;
        ASSERT_EQ(KW_ini_close(&ini), INI_OK);
    }
}

TEST_F(IniWrite, TwoWritesInARowAndEditsBetween) {
    const std::string path = open_file("twice.ini", kConfig);
    const std::uint16_t linenum_before = ini.linenum;
    ASSERT_EQ(KW_ini_write(&ini), INI_OK);
    ASSERT_EQ(KW_ini_write(&ini), INI_OK);
    EXPECT_EQ(read_file(path), eol(kConfig));
    EXPECT_EQ(ini.linenum, linenum_before) << "a write does not move the current line";
    ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    ASSERT_EQ(KW_ini_write(&ini), INI_OK);
    EXPECT_EQ(read_file(path), eol(kConfig.substr(std::strlen("; settings\n"))));
    expect_holds(ini, path);
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"twice.ini"});
}

TEST_F(IniWrite, AHandleWithoutLinesWritesAnEmptyFile) {
    const std::string path = open_file("empty.ini", kConfig);
    while (ini.linetype != INI_LINE_NONE) {
        ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    }
    ASSERT_EQ(KW_ini_write(&ini), INI_OK);
    EXPECT_EQ(read_file(path), "");
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(IniWrite, ALinkStaysALinkAndItsTargetGetsTheContent) {
#if defined(_WIN32)
    GTEST_SKIP() << "symbolic links need a privilege that Windows programs do not have by default";
#else
    const std::string target = dir.write("real.ini", kConfig);
    const std::string link = dir.file("link.ini");
    ASSERT_EQ(::symlink("real.ini", link.c_str()), 0);
    ini = fresh_record();
    kwtest::use_ledger(ini);
    ASSERT_EQ(KW_ini_open(&ini, link.c_str(), KW_INI_READWRITE, 0), INI_OK);
    ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    ASSERT_EQ(KW_ini_write(&ini), INI_OK);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), "real.ini");
    EXPECT_EQ(read_file(target), eol(kConfig.substr(std::strlen("; settings\n"))));
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"link.ini", "real.ini"}));
    expect_holds(ini, target);
#endif
}

TEST_F(IniWrite, PermissionBitsAreKept) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows files have no permission bits; the replacement takes the old file's attributes and security from ReplaceFileA";
#else
    for (unsigned mode : {0600u, 0640u, 0604u, 0755u, 0620u}) {
        const std::string path = open_file("perm.ini", kConfig);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
        ASSERT_EQ(KW_ini_write(&ini), INI_OK) << std::oct << mode;
        EXPECT_EQ(mode_of(path), mode) << std::oct << mode;
        ASSERT_EQ(KW_ini_close(&ini), INI_OK);
        fs::remove(path);
    }
#endif
}

TEST_F(IniWrite, WriteAfterChangingTheWorkingFolderReachesTheSameFile) {
    const fs::path home = fs::current_path();
    TempDir elsewhere;
    dir.write("rel.ini", kConfig);
    fs::current_path(dir.path());
    ini = fresh_record();
    kwtest::use_ledger(ini);
    ASSERT_EQ(KW_ini_open(&ini, "rel.ini", KW_INI_READWRITE, 0), INI_OK);
    fs::current_path(elsewhere.path());
    ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    const std::uint32_t status = KW_ini_write(&ini);
    fs::current_path(home);
    EXPECT_EQ(status, INI_OK);
    EXPECT_EQ(read_file(dir.file("rel.ini")), eol(kConfig.substr(std::strlen("; settings\n"))));
    EXPECT_TRUE(names_in(elsewhere.path()).empty()) << "nothing may appear in the new working folder";
    expect_holds(ini, dir.file("rel.ini"));
}

// The disk fills up half way: a file size limit makes every write past it
// fail, as a full disk would. A large text fails while the lines are
// written; a small one sits in the stream's buffer, so that only the flush
// can tell.
TEST_F(IniWrite, AFailureHalfWayLeavesTheFileWholeAndNoStrayFile) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no file-size limit (RLIMIT_FSIZE) to stand in for a full disk";
#else
    struct Case {
        const char *name;
        rlim_t limit;
        int lines;
    } cases[] = {
        {"failing while writing", 4096, 40},
        {"failing only at the flush", 1024, 10},
    };
    for (const Case &c : cases) {
        const std::string path = dir.write("big.ini", kConfig);
        const int code = in_child([&] {
            struct rlimit limit {c.limit, c.limit};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                return 90;
            }
            std::signal(SIGXFSZ, SIG_IGN);
            KW_INI_STRUC child = fresh_record();
            if (KW_ini_open(&child, path.c_str(), KW_INI_READWRITE, 0) != INI_OK) {
                return 91;
            }
            const std::string line = "k=" + std::string(240, 'v') + "\n";
            for (int i = 0; i < c.lines; ++i) {
                if (KW_ini_insert(&child, u(line.c_str()), 0) != INI_OK) {
                    return 92;
                }
            }
            const std::uint16_t linenum = child.linenum;
            const std::uint32_t first = KW_ini_write(&child);
            const std::uint32_t second = KW_ini_write(&child);
            if (first != second) {
                return 93;
            }
            if (priv(child)->pFile == nullptr || child.linenum != linenum || priv(child)->numlines != 6 + c.lines) {
                return 94;  // the file and the lines in memory must be kept
            }
            return static_cast<int>(first);
        });
        EXPECT_EQ(code, INI_ERR_WRITE) << c.name;
        EXPECT_EQ(read_file(path), kConfig) << c.name << ": the file must be untouched";
        EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"big.ini"}) << c.name << ": a stray file is left";
    }
#endif
}

TEST_F(IniWrite, AVanishedFolderGives34AndKeepsTheLines) {
    const fs::path sub = dir.path() / "sub";
    fs::create_directory(sub);
    std::ofstream(sub / "gone.ini") << kConfig;
    ini = fresh_record();
    kwtest::use_ledger(ini);
    ASSERT_EQ(KW_ini_open(&ini, (sub / "gone.ini").string().c_str(), KW_INI_READWRITE, 0), INI_OK);
    ASSERT_EQ(KW_ini_goto(&ini, 3), INI_OK);
    std::error_code gone;
    fs::remove_all(sub, gone);
#if defined(_WIN32)
    if (gone) {
        GTEST_SKIP() << "Windows keeps a folder while a file in it is open, so it cannot vanish under the handle";
    }
#endif
    ASSERT_FALSE(gone) << gone.message();
    EXPECT_EQ(KW_ini_write(&ini), INI_ERR_REOPEN);
    EXPECT_EQ(KW_ini_write(&ini), INI_ERR_REOPEN);
    EXPECT_EQ(ini.linenum, 3);
    EXPECT_EQ(text(ini.pLine), "Name=x\n");
    EXPECT_EQ(priv(ini)->numlines, 6);
    EXPECT_FALSE(fs::exists(sub));
    EXPECT_TRUE(names_in(dir.path()).empty());
}

// An earlier reopen failed: the handle holds no file, and says so.
TEST_F(IniWrite, NoFileHeldGives34) {
    const std::string path = open_file("held.ini", kConfig);
    std::fclose(priv(ini)->pFile);
    priv(ini)->pFile = nullptr;
    ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    EXPECT_EQ(KW_ini_write(&ini), INI_ERR_REOPEN);
    EXPECT_EQ(read_file(path), eol(kConfig));
    EXPECT_EQ(KW_ini_close(&ini), INI_OK);
}

#if defined(_WIN32)
// The read-only attribute, set after the open: the file is not replaced
// and stays held; once writable again it is written.
TEST_F(IniWrite, AFileMadeReadOnlyIsLeftAlone) {
    const std::string path = open_file("cfg.ini", kConfig);
    ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    ASSERT_EQ(_chmod(path.c_str(), _S_IREAD), 0);
    EXPECT_EQ(KW_ini_write(&ini), INI_ERR_REOPEN);
    EXPECT_NE(priv(ini)->pFile, nullptr);
    EXPECT_EQ(read_file(path), eol(kConfig));
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"cfg.ini"});
    ASSERT_EQ(_chmod(path.c_str(), _S_IREAD | _S_IWRITE), 0);
    EXPECT_EQ(KW_ini_write(&ini), INI_OK);
    EXPECT_EQ(read_file(path), eol(kConfig.substr(std::strlen("; settings\n"))));
    expect_holds(ini, path);
}

TEST_F(IniWrite, AReadOnlyFolderFallsBackToRewritingInPlace) {
    GTEST_SKIP() << "a Windows folder's read-only attribute does not stop new files in it";
}

#else
// Permissions do not bind root, so tests of refused permissions run in a
// child process that, under root, first becomes an unprivileged user. The
// folder and the file are handed to that user beforehand.
class Unprivileged {
public:
    static constexpr uid_t kNobody = 65534;
    static constexpr int kCannotDrop = 77;

    // Make folder (inside dir) and file usable by the user the child becomes.
    static void prepare(const TempDir &dir, const fs::path &folder, const std::string &file) {
        if (::geteuid() != 0) {
            return;
        }
        ASSERT_EQ(::chown(folder.c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chown(file.c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chmod(dir.path().string().c_str(), 0711), 0);
    }

    // Run fn as that user; kCannotDrop when root cannot give up its rights.
    template <class F>
    static int run(F fn) {
        const bool root = ::geteuid() == 0;
        return in_child([&] {
            if (root && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
                return kCannotDrop;
            }
            return fn();
        });
    }
};

#define SKIP_IF_PRIVILEGED(code)                                                                  \
    if ((code) == Unprivileged::kCannotDrop) {                                                    \
        GTEST_SKIP() << "running as root and cannot drop to an unprivileged user, so a refused " \
                        "permission cannot be tried";                                             \
    }

// A folder that refuses new files: the file is rewritten where it stands,
// as long as the file itself may be written.
TEST_F(IniWrite, AReadOnlyFolderFallsBackToRewritingInPlace) {
    const fs::path ro = dir.path() / "ro";
    fs::create_directory(ro);
    const std::string path = (ro / "cfg.ini").string();
    std::ofstream(path) << kConfig;
    Unprivileged::prepare(dir, ro, path);
    ASSERT_EQ(::chmod(ro.c_str(), 0555), 0);

    const int code = Unprivileged::run([&] {
        const std::string probe = (ro / "probe").string();
        if (std::FILE *f = std::fopen(probe.c_str(), "w")) {
            std::fclose(f);
            ::unlink(probe.c_str());
            return 78;  // the folder does not refuse new files here
        }
        KW_INI_STRUC child = fresh_record();
        if (KW_ini_open(&child, path.c_str(), KW_INI_READWRITE, 0) != INI_OK) {
            return 10;
        }
        if (KW_ini_delete(&child) != INI_OK || KW_ini_write(&child) != INI_OK) {
            return 11;
        }
        if (priv(child)->pFile == nullptr) {
            return 12;  // still held for reading and writing
        }
        // The disk fills up during the rewrite, with the text still in the
        // stream's buffer: the flush reports it, and a later write repairs it.
        struct rlimit limit {};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        const rlim_t hard = limit.rlim_cur;
        limit.rlim_cur = 1024;
        std::signal(SIGXFSZ, SIG_IGN);
        const std::string line = "k=" + std::string(240, 'v') + "\n";
        for (int i = 0; i < 10; ++i) {
            if (KW_ini_insert(&child, u(line.c_str()), 0) != INI_OK) {
                return 16;
            }
        }
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0 || KW_ini_write(&child) != INI_ERR_WRITE) {
            return 17;
        }
        limit.rlim_cur = hard;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return 18;
        }
        for (int i = 0; i < 10; ++i) {
            KW_ini_delete(&child);
        }
        if (KW_ini_write(&child) != INI_OK || priv(child)->pFile == nullptr) {
            return 19;
        }
        return 0;
    });
    ::chmod(ro.c_str(), 0755);
    SKIP_IF_PRIVILEGED(code);
    if (code == 78) {
        GTEST_SKIP() << "this file system lets us create files in a folder without write permission";
    }
    EXPECT_EQ(code, 0);
    EXPECT_EQ(read_file(path), eol(kConfig.substr(std::strlen("; settings\n"))));
    EXPECT_EQ(names_in(ro), std::set<std::string>{"cfg.ini"});
}

// A file made read only after the open is not replaced, although its folder
// would allow it, and stays held; once writable again it is written.
TEST_F(IniWrite, AFileMadeReadOnlyIsLeftAlone) {
    const fs::path rw = dir.path() / "rw";
    fs::create_directory(rw);
    const std::string path = (rw / "cfg.ini").string();
    std::ofstream(path) << kConfig;
    Unprivileged::prepare(dir, rw, path);

    const int code = Unprivileged::run([&] {
        KW_INI_STRUC child = fresh_record();
        if (KW_ini_open(&child, path.c_str(), KW_INI_READWRITE, 0) != INI_OK || KW_ini_delete(&child) != INI_OK) {
            return 10;
        }
        if (::chmod(path.c_str(), 0444) != 0 || ::access(path.c_str(), W_OK) == 0) {
            return 78;  // read only is not enforced here
        }
        if (KW_ini_write(&child) != INI_ERR_REOPEN || priv(child)->pFile == nullptr) {
            return 11;
        }
        if (read_file(path) != eol(kConfig) || names_in(rw) != std::set<std::string>{"cfg.ini"}) {
            return 12;
        }
        if (::chmod(path.c_str(), 0644) != 0 || KW_ini_write(&child) != INI_OK) {
            return 13;
        }
        return 0;
    });
    SKIP_IF_PRIVILEGED(code);
    if (code == 78) {
        GTEST_SKIP() << "this file system does not enforce read-only files";
    }
    EXPECT_EQ(code, 0);
    EXPECT_EQ(read_file(path), eol(kConfig.substr(std::strlen("; settings\n"))));
}

#endif

// Another name for the same file: both names see the new content and stay
// one file, so the file was rewritten where it stands.
TEST_F(IniWrite, HardLinkedFileKeepsItsLinks) {
    const std::string path = open_file("a.ini", kConfig);
    const std::string other = dir.file("b.ini");
    std::error_code ec;
    fs::create_hard_link(path, other, ec);
    if (ec) {
        GTEST_SKIP() << "this file system makes no hard links: " << ec.message();
    }
    ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    ASSERT_EQ(KW_ini_write(&ini), INI_OK);
    const std::string expected = eol(kConfig.substr(std::strlen("; settings\n")));
    EXPECT_EQ(read_file(path), expected);
    EXPECT_EQ(read_file(other), expected) << "the other name must see the new content";
#if defined(_WIN32)
    // The runtime's stat, which std::filesystem asks here, counts one link
    // always; the file's own information has the real count.
    BY_HANDLE_FILE_INFORMATION links{};
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_TRUE(identity(h, links));
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
    }
    EXPECT_EQ(links.nNumberOfLinks, 2u);
#else
    EXPECT_EQ(fs::hard_link_count(path), 2u);
#endif
    EXPECT_TRUE(fs::equivalent(path, other));
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"a.ini", "b.ini"}));
    expect_holds(ini, path);
    // Shorter and longer again: the file is cut where the new text ends.
    ASSERT_EQ(KW_ini_insert(&ini, u("Added=1\n"), 0), INI_OK);
    ASSERT_EQ(KW_ini_write(&ini), INI_OK);
    EXPECT_EQ(read_file(other), eol("Added=1\n" + kConfig.substr(std::strlen("; settings\n"))));
    while (ini.linetype != INI_LINE_NONE) {
        ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    }
    ASSERT_EQ(KW_ini_write(&ini), INI_OK);
    EXPECT_EQ(read_file(other), "");
}

// The host tells where the held file is at the time of the write.
TEST_F(IniWrite, AFileRenamedSinceTheOpenIsWrittenUnderItsNewName) {
    const std::string path = open_file("old.ini", kConfig);
    const std::string moved = dir.file("new.ini");
    std::error_code ec;
    fs::rename(path, moved, ec);
    if (ec) {
        GTEST_SKIP() << "this host does not rename a file that is held open: " << ec.message();
    }
    ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    ASSERT_EQ(KW_ini_write(&ini), INI_OK);
    EXPECT_EQ(read_file(moved), eol(kConfig.substr(std::strlen("; settings\n"))));
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"new.ini"}) << "nothing comes back under the old name";
    expect_holds(ini, moved);
}

#if defined(_WIN32)
TEST_F(IniWrite, OwnerGroupAndModeOfAnotherUserAreKept) {
    GTEST_SKIP() << "Windows has no POSIX owner, group and mode; ReplaceFileA carries the security descriptor";
}
TEST_F(IniWrite, DeviceNodesAreWrittenIntoNeverReplaced) {
    GTEST_SKIP() << "Windows has no device nodes a test can make (mknod)";
}
TEST_F(IniWrite, APseudoTerminalGetsTheLinesWrittenIntoIt) {
    GTEST_SKIP() << "Windows programs have no pseudo-terminal a test can read back";
}
TEST_F(IniWrite, AFullDiskDuringAnInPlaceWriteGives35AndLeavesTheFile) {
    GTEST_SKIP() << "Windows has no file-size limit (RLIMIT_FSIZE) to stand in for a full disk";
}
TEST_F(IniWrite, WithoutProcTheFileIsRewrittenInPlace) {
    GTEST_SKIP() << "Windows asks the handle for its path; there is no /proc to hide";
}
#else
struct Identity {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;  // supplementary groups
};

// Run fn in a child that has become who; 77 when it cannot (not root).
template <class F>
int as_identity(const Identity &who, F fn) {
    return in_child([&] {
        if (::setgroups(who.groups.size(), who.groups.data()) != 0 || ::setgid(who.gid) != 0 ||
            ::setuid(who.uid) != 0) {
            return 77;
        }
        return fn();
    });
}

// A replacement made by the writer would belong to the writer; whenever it
// cannot carry the file's owner, group and mode, the file is rewritten in
// place and keeps all three. The writer is uid 1001; its own group is 1001,
// and 4242 is a supplementary group. (A set-group-ID bit for a group the
// writer is not in is not among the cases: Linux drops it on any write by
// such a writer, in place or not.)
TEST_F(IniWrite, OwnerGroupAndModeOfAnotherUserAreKept) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "not root: files of other owners and a child of another identity cannot be made";
    }
    const Identity writer{1001, 1001, {1001, 4242}};
    struct Case {
        const char *name;
        uid_t uid;
        gid_t gid;
        unsigned mode;
        bool in_place;  // the file must stay the same file
    } cases[] = {
        {"another owner, the writer's group", 1002, 4242, 0660, true},
        {"another owner, writable by all", 1002, 1002, 0666, true},
        {"the writer's, a group it is not in", 1001, 5151, 0644, true},
        {"the writer's, its supplementary group", 1001, 4242, 0640, false},
        {"the writer's, set-group-ID for its own group", 1001, 4242, 02640, false},
    };
    const fs::path folder = dir.path() / "shared";
    fs::create_directory(folder);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0711), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);  // the writer may create files beside the file
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = (folder / "cfg.ini").string();
        std::ofstream(path, std::ios::binary) << kConfig;
        ASSERT_EQ(::chown(path.c_str(), c.uid, c.gid), 0);
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        struct stat before {};
        ASSERT_EQ(::stat(path.c_str(), &before), 0);

        const int code = as_identity(writer, [&] {
            KW_INI_STRUC child = fresh_record();
            if (KW_ini_open(&child, path.c_str(), KW_INI_READWRITE, 0) != INI_OK) {
                return 10;
            }
            if (KW_ini_delete(&child) != INI_OK || KW_ini_write(&child) != INI_OK) {
                return 11;
            }
            if (KW_ini_insert(&child, u("Again=1\n"), 0) != INI_OK || KW_ini_write(&child) != INI_OK) {
                return 12;  // the held stream keeps working after the first write
            }
            return KW_ini_close(&child) == INI_OK ? 0 : 13;
        });
        ASSERT_NE(code, 77) << "root could not become uid 1001";
        ASSERT_EQ(code, 0);
        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_uid, c.uid);
        EXPECT_EQ(after.st_gid, c.gid);
        EXPECT_EQ(after.st_mode & 07777, c.mode) << std::oct << (after.st_mode & 07777);
        if (c.in_place) {
            EXPECT_EQ(after.st_ino, before.st_ino) << "rewritten where it stands";
        }
        EXPECT_EQ(read_file(path), "Again=1\n" + kConfig.substr(std::strlen("; settings\n")));
        EXPECT_EQ(names_in(folder), std::set<std::string>{"cfg.ini"}) << "no stray file";
        fs::remove(path);
    }
}

// A device is written into and stays a device: a node with the numbers of
// /dev/null, made in the temporary folder.
TEST_F(IniWrite, DeviceNodesAreWrittenIntoNeverReplaced) {
    const std::string node = dir.file("null");
    const dev_t numbers = makedev(1, 3);
    if (::mknod(node.c_str(), S_IFCHR | 0666, numbers) != 0) {
        GTEST_SKIP() << "cannot make a device node here (needs root): " << std::strerror(errno);
    }
    ini = fresh_record();
    kwtest::use_ledger(ini);
    const std::uint32_t opened = KW_ini_open(&ini, node.c_str(), KW_INI_READWRITE, 0);
    if (opened == INI_ERR_OPEN) {
        GTEST_SKIP() << "device nodes cannot be opened in " << dir.path() << " (mounted nodev?)";
    }
    ASSERT_EQ(opened, INI_OK);
    ASSERT_EQ(KW_ini_insert(&ini, u("[A]\n"), 0), INI_OK);
    EXPECT_EQ(KW_ini_write(&ini), INI_OK);
    EXPECT_EQ(KW_ini_write(&ini), INI_OK) << "a second write finds the device as before";
    EXPECT_NE(priv(ini)->pFile, nullptr) << "still held";
    struct stat st {};
    ASSERT_EQ(::lstat(node.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the node must stay a device";
    EXPECT_EQ(st.st_rdev, numbers);
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"null"}) << "no stray file";
}

// A terminal is a device whose writes can be read back: the lines typed at
// it are loaded, and the write sends the edited lines to it, once per write.
TEST_F(IniWrite, APseudoTerminalGetsTheLinesWrittenIntoIt) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0) << std::strerror(errno);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    {  // no echo, no output processing: the master reads back exactly what was written
        const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
        ::close(fd);
    }
    const char typed[] = "[A]\nk=v\n\x04";  // Ctrl+D at a line start: the end of the input
    ASSERT_EQ(::write(master, typed, sizeof typed - 1), static_cast<ssize_t>(sizeof typed - 1));
    ini = fresh_record();
    kwtest::use_ledger(ini);
    ASSERT_EQ(KW_ini_open(&ini, slave.c_str(), KW_INI_READWRITE, 0), INI_OK);
    ASSERT_EQ(priv(ini)->numlines, 2);
    ASSERT_EQ(KW_ini_goto(&ini, 2), INI_OK);
    ASSERT_EQ(KW_ini_replace(&ini, u("k=w\n")), INI_OK);
    auto read_back = [&] {
        std::string got;
        char buf[256];
        pollfd p{master, POLLIN, 0};
        while (::poll(&p, 1, 200) > 0) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    };
    EXPECT_EQ(KW_ini_write(&ini), INI_OK);
    EXPECT_EQ(read_back(), "[A]\nk=w\n");
    EXPECT_EQ(KW_ini_write(&ini), INI_OK);
    EXPECT_EQ(read_back(), "[A]\nk=w\n") << "the second write sends the lines again, nothing more";
    struct stat st {};
    ASSERT_EQ(::stat(slave.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    ASSERT_EQ(KW_ini_close(&ini), INI_OK);
    ::close(master);
}

// Extended attributes survive the write, an access list among them (in the
// kernel's own form: version 2, then tag, permissions and id per entry).
TEST_F(IniWrite, ExtendedAttributesAndAccessListsAreKept) {
#if !defined(__linux__)
    GTEST_SKIP() << "extended attributes are read and set with the Linux calls only";
#else
    auto entry = [](std::uint16_t tag, std::uint16_t perm, std::uint32_t id) {
        std::string e(8, '\0');
        std::memcpy(&e[0], &tag, 2);
        std::memcpy(&e[2], &perm, 2);
        std::memcpy(&e[4], &id, 4);
        return e;
    };
    constexpr std::uint32_t kAny = 0xFFFFFFFFu;
    const std::string acl = std::string("\x02\0\0\0", 4) + entry(0x01, 6, kAny) + entry(0x02, 4, 1001) +
                            entry(0x04, 4, kAny) + entry(0x10, 4, kAny) + entry(0x20, 0, kAny);
    struct Case {
        const char *name;
        const char *attribute;
        std::string value;
    } cases[] = {
        {"a user attribute", "user.kwutil.origin", "written by hand"},
        {"an access list", "system.posix_acl_access", acl},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = open_file("x.ini", kConfig);
        if (::setxattr(path.c_str(), c.attribute, c.value.data(), c.value.size(), 0) != 0) {
            GTEST_SKIP() << "this file system does not take " << c.attribute << ": " << std::strerror(errno);
        }
        const unsigned mode = mode_of(path);
        ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
        ASSERT_EQ(KW_ini_write(&ini), INI_OK);
        char got[256];
        const ssize_t n = ::getxattr(path.c_str(), c.attribute, got, sizeof got);
        ASSERT_GE(n, 0) << "the attribute is gone: " << std::strerror(errno);
        EXPECT_EQ(std::string(got, static_cast<std::size_t>(n)), c.value);
        EXPECT_EQ(mode_of(path), mode);
        EXPECT_EQ(read_file(path), eol(kConfig.substr(std::strlen("; settings\n"))));
        EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"x.ini"});
        expect_holds(ini, path);
        ASSERT_EQ(KW_ini_close(&ini), INI_OK);
        fs::remove(path);
    }
#endif
}

// A file with a second link is rewritten in place. The room for the new
// text is reserved before anything is overwritten, so a disk that is full
// (a file size limit below the new size) refuses the write with 35 while the
// file, under both names, is still as it was; once there is room, the same
// handle writes it.
TEST_F(IniWrite, AFullDiskDuringAnInPlaceWriteGives35AndLeavesTheFile) {
    const std::string path = dir.write("cfg.ini", kConfig);
    const std::string other = dir.file("link.ini");
    ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
    const std::string line = "k=" + std::string(240, 'v') + "\n";
    const int code = in_child([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        KW_INI_STRUC child = fresh_record();
        if (KW_ini_open(&child, path.c_str(), KW_INI_READWRITE, 0) != INI_OK) {
            return 10;
        }
        for (int i = 0; i < 10; ++i) {
            if (KW_ini_insert(&child, u(line.c_str()), 0) != INI_OK) {
                return 11;
            }
        }
        struct rlimit limit {};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        const rlim_t was = limit.rlim_cur;
        limit.rlim_cur = 1024;  // above the old size, below the new one
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return 12;
        }
        if (KW_ini_write(&child) != INI_ERR_WRITE || KW_ini_write(&child) != INI_ERR_WRITE) {
            return 13;
        }
        if (priv(child)->pFile == nullptr || read_file(path) != kConfig) {
            return 14;  // held, and untouched
        }
        limit.rlim_cur = was;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return 15;
        }
        return KW_ini_write(&child) == INI_OK ? 0 : 16;
    });
    ASSERT_EQ(code, 0);
    std::string expected;
    for (int i = 0; i < 10; ++i) {
        expected += line;
    }
    expected += kConfig;
    EXPECT_EQ(read_file(path), expected);
    EXPECT_EQ(read_file(other), expected);
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"cfg.ini", "link.ini"}));
}

// A host that cannot tell where the held file is: /proc is hidden under an
// empty file system in a mount namespace of a child's own. The write then
// goes through the held stream, in place, and a file made read only since
// the open is still left alone.
TEST_F(IniWrite, WithoutProcTheFileIsRewrittenInPlace) {
#if !defined(__linux__)
    GTEST_SKIP() << "only Linux names held files in /proc";
#else
    const std::string path = dir.write("cfg.ini", kConfig);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0711), 0);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    const int code = in_child([&] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("none", "/proc", "tmpfs", 0, nullptr) != 0) {
            return 77;
        }
        if (::access("/proc/self/fd", F_OK) == 0) {
            return 78;
        }
        KW_INI_STRUC child = fresh_record();
        if (KW_ini_open(&child, path.c_str(), KW_INI_READWRITE, 0) != INI_OK || KW_ini_delete(&child) != INI_OK) {
            return 10;
        }
        if (KW_ini_write(&child) != INI_OK || priv(child)->pFile == nullptr) {
            return 11;
        }
        // Without a name, the permission bits decide: hand the file to a
        // writer that they bind, let it write, then make the file read only.
        if (::chown(path.c_str(), 65534, 65534) != 0 || ::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 ||
            ::setuid(65534) != 0) {
            return 12;
        }
        if (KW_ini_write(&child) != INI_OK) {
            return 13;  // its owner may write it
        }
        if (::chmod(path.c_str(), 0444) != 0 || KW_ini_write(&child) != INI_ERR_REOPEN) {
            return 14;
        }
        return 0;
    });
    if (code == 77) {
        GTEST_SKIP() << "cannot hide /proc in a mount namespace of our own (needs root): " << std::strerror(errno);
    }
    ASSERT_EQ(code, 0);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "rewritten where it stands";
    EXPECT_EQ(read_file(path), kConfig.substr(std::strlen("; settings\n")));
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"cfg.ini"});
#endif
}
#endif

}  // namespace
