// Running the installed kwtool from a test: arguments in, exit status and
// both output streams out, standard input from a string. The binary's path
// comes from the build (KWTOOL_BIN): the CTest fixture installs the tree
// first, so these tests exercise exactly what `cmake --install` delivers.
#ifndef KW_KWTOOL_TEST_UTIL_H
#define KW_KWTOOL_TEST_UTIL_H

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

extern char **environ;

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
inline std::string kwtool_path() { return KWTOOL_BIN; }
inline std::string installed_samples() { return KWTOOL_SAMPLES; }
#else
inline std::string kwtool_path() { return std::string(); }  // kwtool is not part of this build
inline std::string installed_samples() { return std::string(); }
#endif

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

// Run kwtool with args (argv[0] added) in folder dir, feeding stdin_data.
inline run_result run_kwtool(const TempDir &dir, const std::vector<std::string> &args,
                             const std::string &stdin_data = std::string()) {
    const std::string in = dir.write(".stdin", stdin_data);
    const std::string out = dir.file(".stdout");
    const std::string err = dir.file(".stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    const std::string bin = kwtool_path();
    std::vector<std::string> all{bin};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    // Relative paths in args are relative to dir.
    const std::string cwd = std::filesystem::current_path().string();
    std::filesystem::current_path(dir.path());
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, bin.c_str(), &actions, nullptr, argv.data(), environ);
    std::filesystem::current_path(cwd);
    posix_spawn_file_actions_destroy(&actions);

    run_result r;
    if (rc != 0) {
        r.err = "posix_spawn failed";
        return r;
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.out = slurp(out);
    r.err = slurp(err);
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

}  // namespace kwtest

#endif
