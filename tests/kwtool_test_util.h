// Running the installed kwtool from a test: arguments in, exit status and
// both output streams out, standard input from a string. The binary's path
// comes from the build (KWTOOL_BIN): the CTest fixture installs the tree
// first, so these tests exercise exactly what `cmake --install` delivers.
#ifndef KW_KWTOOL_TEST_UTIL_H
#define KW_KWTOOL_TEST_UTIL_H

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <io.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

#if !defined(_WIN32)
extern char **environ;
#endif

namespace kwtest {

struct run_result {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// A file's bytes, through stdio: GCC 12 misreads the stream-iterator read
// of read_file as a null dereference once it is inlined into these tests.
inline std::string slurp(const std::string &path) {
    std::string out;
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        char buf[1 << 16];
        std::size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
            out.append(buf, n);
        }
        std::fclose(f);
    }
    return out;
}

#ifdef KWTOOL_BIN
// On Windows a path that begins with a slash but has no drive is taken on
// the current drive, and kwtool runs in a temporary folder that may be on
// another one: complete the paths here, where they were meant.
inline std::string complete(const char *path) {
#if defined(_WIN32)
    return std::filesystem::absolute(path).string();
#else
    return path;
#endif
}
inline std::string kwtool_path() { return complete(KWTOOL_BIN); }
inline std::string installed_samples() { return complete(KWTOOL_SAMPLES); }
#else
inline std::string kwtool_path() { return std::string(); }  // kwtool is not part of this build
inline std::string installed_samples() { return std::string(); }
#endif

// Whether this process may write the existing file at path: its permission
// bits on POSIX, the read-only attribute on Windows.
inline bool may_write(const std::string &path) {
#if defined(_WIN32)
    return _access(path.c_str(), 2) == 0;
#else
    return ::access(path.c_str(), W_OK) == 0;
#endif
}

// The fixture every kwtool test starts from: skipped when the build has no
// installed kwtool to run.
class KwtoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (kwtool_path().empty()) {
            GTEST_SKIP() << "kwtool is not built here (KW_BUILD_TOOLS or KW_INSTALL is off)";
        }
    }
};

#if defined(_WIN32)
// One argument as the runtime's parser reads it back from a command line:
// in quotes when it is empty or holds blanks or quotes, a quote inside
// escaped, and backslashes doubled only where a quote follows them.
inline std::string quote_arg(const std::string &a) {
    if (!a.empty() && a.find_first_of(" \t\n\v\"") == std::string::npos) {
        return a;
    }
    std::string q = "\"";
    std::size_t slashes = 0;
    for (const char c : a) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        q.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
        q += c;
        slashes = 0;
    }
    q.append(2 * slashes, '\\');
    q += '"';
    return q;
}
#endif

#if !defined(_WIN32)
// The argument vector of args for exec and posix_spawn: pointers into the
// strings (which must outlive it), then the closing null.
inline std::vector<char *> argv_of(std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (auto &a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    return argv;
}
#endif

// Run kwtool with args (argv[0] added) in folder dir, feeding stdin_data;
// both output streams come back as the bytes that arrived.
inline run_result run_kwtool_raw(const TempDir &dir, const std::vector<std::string> &args,
                                 const std::string &stdin_data) {
    const std::string in = dir.write(".stdin", stdin_data);
    const std::string out = dir.file(".stdout");
    const std::string err = dir.file(".stderr");
    const std::string bin = kwtool_path();
    run_result r;
#if defined(_WIN32)
    SECURITY_ATTRIBUTES inherit{};
    inherit.nLength = sizeof inherit;
    inherit.bInheritHandle = TRUE;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handles[3] = {
        CreateFileA(in.c_str(), GENERIC_READ, share, &inherit, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
        CreateFileA(out.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
        CreateFileA(err.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
    };
    std::string command = quote_arg(bin);
    for (const auto &a : args) {
        command += ' ' + quote_arg(a);
    }
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = handles[0];
    start.hStdOutput = handles[1];
    start.hStdError = handles[2];
    PROCESS_INFORMATION child{};
    bool started = false;
    if (handles[0] != INVALID_HANDLE_VALUE && handles[1] != INVALID_HANDLE_VALUE &&
        handles[2] != INVALID_HANDLE_VALUE) {
        // Relative paths in args are relative to dir.
        started = CreateProcessA(bin.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 dir.path().string().c_str(), &start, &child) != 0;
    }
    const DWORD spawn_error = GetLastError();
    for (HANDLE h : handles) {
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
    if (!started) {
        r.err = "CreateProcess failed: error " + std::to_string(spawn_error);
        return r;
    }
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 0;
    const bool exited = GetExitCodeProcess(child.hProcess, &code) != 0;
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    // 0xC0000000 and above are exceptions that ended the process (an access
    // violation, a stack overflow): what a signal is on POSIX.
    r.status = exited && code < 0xC0000000u ? static_cast<int>(code) : -1;
#else
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    // Under user-mode emulation the kernel cannot start the tool itself: the
    // emulator named here starts it (scripts/ports sets it for such a host).
    std::vector<std::string> all;
    const char *emulator = std::getenv("KW_TEST_EMULATOR");
    if (emulator != nullptr && *emulator != '\0') {
        all.emplace_back(emulator);
    }
    all.push_back(bin);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv = argv_of(all);

    // Relative paths in args are relative to dir.
    const std::string cwd = std::filesystem::current_path().string();
    std::filesystem::current_path(dir.path());
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, all.front().c_str(), &actions, nullptr, argv.data(), environ);
    std::filesystem::current_path(cwd);
    posix_spawn_file_actions_destroy(&actions);

    if (rc != 0) {
        r.err = "posix_spawn failed";
        return r;
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
#endif
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

// A text stream as the tool meant it. kwtool writes text in text mode, so
// on Windows each line feed arrives as CR LF: back to line feeds here, so
// that one expectation holds everywhere. A bare line feed there means text
// went out in binary mode, which a Windows user would see as a fault.
inline std::string from_text_stream(const std::string &bytes, const char *stream) {
#if defined(_WIN32)
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;
        }
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) {
            ADD_FAILURE() << stream << ": a line feed without its CR at byte " << i;
        }
        text += bytes[i];
    }
    return text;
#else
    static_cast<void>(stream);
    return bytes;
#endif
}

// Run kwtool for a text answer: standard output and error both text.
inline run_result run_kwtool(const TempDir &dir, const std::vector<std::string> &args,
                             const std::string &stdin_data = std::string()) {
    run_result r = run_kwtool_raw(dir, args, stdin_data);
    r.out = from_text_stream(r.out, "stdout");
    r.err = from_text_stream(r.err, "stderr");
    return r;
}

// Run kwtool for bytes on standard output (packed data, translated or
// scrambled streams), which must arrive exactly as written; messages on
// standard error are still text.
inline run_result run_kwtool_bytes(const TempDir &dir, const std::vector<std::string> &args,
                                   const std::string &stdin_data = std::string()) {
    run_result r = run_kwtool_raw(dir, args, stdin_data);
    r.err = from_text_stream(r.err, "stderr");
    return r;
}

// The files of a folder other than the runner's own, by name.
inline std::vector<std::string> listing(const TempDir &dir) {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir.path())) {
        const std::string n = e.path().filename().string();
        if (n.rfind(".std", 0) != 0) {
            names.push_back(n);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The names in dir that are kwtool's temporary files.
inline std::vector<std::string> temporaries(const TempDir &dir) {
    std::vector<std::string> found;
    for (const auto &n : listing(dir)) {
        if (n.find(".kwtool-") != std::string::npos) {
            found.push_back(n);
        }
    }
    return found;
}

#if !defined(_WIN32)
// In a forked child: becomes args[0] (searched in PATH when it has no '/')
// run with args, or exits 98 when that cannot start.
[[noreturn]] inline void exec_or_exit(std::vector<std::string> args) {
    std::vector<char *> argv = argv_of(args);
    ::execvp(argv[0], argv.data());
    ::_exit(98);
}

// Whether user uid (in group gid alone) could start the program at path:
// each folder above it must let others through, which a build below a
// private home folder does not. The tests that run kwtool as another user
// skip, saying why, where it could not.
inline bool user_can_run(uid_t uid, gid_t gid, const std::string &path) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
            ::_exit(2);
        }
        ::_exit(::access(path.c_str(), X_OK) == 0 ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

}  // namespace kwtest

#endif
