// kwtool's manual page and bash completion: installed, generated from the
// option definitions (so they match what kwtool writes today), identical to
// the checked-in copies that builds without a runnable kwtool install, and
// usable by man and bash.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "kwtool_test_util.h"

namespace {

namespace fs = std::filesystem;
using kwtest::run_kwtool_bytes;

class KwtoolDocs : public kwtest::KwtoolTest {
protected:
    kwtest::TempDir dir;

    // The install prefix: the folder above the binary's.
    static fs::path prefix() { return fs::path(kwtest::kwtool_path()).parent_path().parent_path(); }

    // The checked-in copy in the source tree, beside kwtool's sources.
    static std::string source_copy(const char *name) {
        const char *samples = std::getenv("KW_SAMPLES");
        if (samples == nullptr) {
            return std::string();
        }
        return (fs::path(kwtest::complete(samples)).parent_path() / "tools" / "kwtool" / name).string();
    }
};

TEST_F(KwtoolDocs, InstalledGeneratedAndCheckedInCopiesAgree) {
    struct Doc {
        const char *what;
        fs::path installed;
        const char *checked_in;
    } docs[] = {
        {"man", prefix() / "share" / "man" / "man1" / "kwtool.1", "kwtool.1"},
        {"bash", prefix() / "share" / "bash-completion" / "completions" / "kwtool", "kwtool.bash"},
    };
    for (const auto &d : docs) {
        SCOPED_TRACE(d.what);
        const auto r = run_kwtool_bytes(dir, {"--generate", d.what});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.out == kwtest::slurp(d.installed.string())) << d.installed << " is not what kwtool writes";
        const std::string copy = source_copy(d.checked_in);
        if (!copy.empty()) {
            EXPECT_TRUE(r.out == kwtest::slurp(copy))
                << copy << " is out of date: after changing options, run cmake --build <build> --target kwtool_update_docs";
        }
    }
    EXPECT_EQ(run_kwtool_bytes(dir, {"--generate", "pdf"}).status, 2);
    EXPECT_TRUE(fs::exists(prefix() / "share" / "doc" / "kwutil" / "kwtool.md"));
    EXPECT_TRUE(fs::exists(prefix() / "share" / "doc" / "kwutil" / "pack-format.md"));
}

// Every option that --help shows for a subcommand is in the manual and in
// the completion, with the exit statuses and examples around them.
TEST_F(KwtoolDocs, EveryOptionOfTheHelpIsDocumentedAndCompleted) {
    const std::string man = run_kwtool_bytes(dir, {"--generate", "man"}).out;
    const std::string bash = run_kwtool_bytes(dir, {"--generate", "bash"}).out;
    for (const char *section : {".SH SYNOPSIS", ".SH COMMANDS", ".SH EXIT STATUS", ".SH EXAMPLES", ".SH OUTPUTS"}) {
        EXPECT_NE(man.find(section), std::string::npos) << section;
    }
    const std::vector<std::vector<std::string>> commands = {
        {"pack"}, {"unpack"}, {"xlate"}, {"scramble"}, {"unscramble"}, {"msg", "compile"}, {"msg", "format"}, {"count"}};
    for (const auto &cmd : commands) {
        SCOPED_TRACE(cmd.back());
        auto args = cmd;
        args.push_back("--help");
        const auto help = kwtest::run_kwtool(dir, args);
        ASSERT_EQ(help.status, 0);
        std::string path;
        for (const auto &c : cmd) {
            path += "/" + c;
        }
        // Option names in the help: words that begin with '-' at the start
        // of an options line.
        std::size_t pos = 0;
        while ((pos = help.out.find("\n  -", pos)) != std::string::npos) {
            pos += 3;
            const std::size_t end = help.out.find_first_of(" ,\n", pos);
            const std::string name = help.out.substr(pos, end - pos);
            std::string roff;
            for (const char c : name) {
                roff += c == '-' ? std::string("\\-") : std::string(1, c);
            }
            EXPECT_NE(man.find("\\fB" + roff + "\\fR"), std::string::npos) << name << " not in the manual";
            const std::string line = "\"" + path + "\") opts=\"";
            const std::size_t at = bash.find(line);
            ASSERT_NE(at, std::string::npos) << path;
            const std::size_t from = at + line.size();
            const std::string opts = " " + bash.substr(from, bash.find('"', from) - from) + " ";
            EXPECT_NE(opts.find(" " + name + " "), std::string::npos) << name << " not completed:" << opts;
        }
    }
}

#if !defined(_WIN32)
std::string shell(const std::string &command) {
    std::string out;
    if (std::FILE *p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
            out.append(buf, n);
        }
        ::pclose(p);
    }
    return out;
}
#endif

TEST_F(KwtoolDocs, ManRendersItAndBashCompletesWithIt) {
#if defined(_WIN32)
    GTEST_SKIP() << "no man and no bash completion on Windows";
#else
    const std::string page = (prefix() / "share" / "man" / "man1" / "kwtool.1").string();
    const std::string script = (prefix() / "share" / "bash-completion" / "completions" / "kwtool").string();
    if (shell("command -v man").empty()) {
        std::printf("[  SKIPPED ] man is not installed: the page is not rendered\n");
    } else {
        const std::string text = shell("MANWIDTH=100 man -l '" + page + "' 2>&1");
        EXPECT_NE(text.find("kwtool unpack"), std::string::npos) << text.substr(0, 400);
        EXPECT_NE(text.find("EXIT STATUS"), std::string::npos);
        EXPECT_EQ(shell("MANWIDTH=100 man --warnings -l '" + page + "' 2>&1 >/dev/null"), "") << "roff warnings";
    }
    const auto complete = [&](const std::string &words) {
        return shell("bash -c 'source \"" + script + "\"; COMP_WORDS=(" + words +
                     "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _kwtool; echo \"${COMPREPLY[*]}\"' 2>&1");
    };
    EXPECT_EQ(shell("bash -c 'source \"" + script + "\"; complete -p kwtool'"), "complete -F _kwtool kwtool\n");
    EXPECT_EQ(complete("kwtool unp"), "unpack\n");
    EXPECT_EQ(complete("kwtool unpack --te"), "--test\n");
    EXPECT_EQ(complete("kwtool msg c"), "compile\n");
    EXPECT_EQ(complete("kwtool msg compile --to e"), "ebcdic\n");
    EXPECT_EQ(complete("kwtool xlate --to a"), "ascii\n");
    EXPECT_EQ(complete("kwtool pack --fo"), "--force\n");
#endif
}

}  // namespace
