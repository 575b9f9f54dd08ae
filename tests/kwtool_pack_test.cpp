// kwtool pack / unpack, end to end: round trips of every size that matters
// to the 65,535-byte blocks, the file layout byte for byte, and the refusal
// (exit 2, no output file) of every damaged, truncated or foreign input.
#include <gtest/gtest.h>
#include <xxhash.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <utility>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#endif

#include "kwtool_test_util.h"

namespace {

using kwtest::run_kwtool;
using kwtest::run_kwtool_bytes;

// Text-like runs and repeats mixed with random stretches, as real files are.
std::string sample_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    const std::string words[] = {"block ", "stream ", "kwutil ", "65535 ", "\n", "the ", "catalog "};
    std::string s;
    s.reserve(n);
    while (s.size() < n) {
        switch (rng() % 3) {
        case 0:
            for (int i = 0; i < 20; ++i) {
                s += words[rng() % 7];
            }
            break;
        case 1:
            for (int i = 0; i < 300; ++i) {
                s.push_back(static_cast<char>(rng() & 0xFF));
            }
            break;
        default:
            s.append(rng() % 500, static_cast<char>('a' + rng() % 26));
            break;
        }
    }
    s.resize(n);
    return s;
}

// The 16-bit big-endian number at s[at].
std::size_t be16(const std::string &s, std::size_t at) {
    return (std::size_t{static_cast<unsigned char>(s[at])} << 8) | static_cast<unsigned char>(s[at + 1]);
}

std::string be(std::uint64_t v, int bytes) {
    std::string s(static_cast<std::size_t>(bytes), '\0');
    for (int i = bytes - 1; i >= 0; --i) {
        s[static_cast<std::size_t>(i)] = static_cast<char>(v & 0xFF);
        v >>= 8;
    }
    return s;
}

class KwtoolPack : public kwtest::KwtoolTest {
protected:
    kwtest::TempDir dir;

    // Pack text into in.kwp and return the packed bytes.
    std::string pack(const std::string &text, const std::vector<std::string> &extra = {}) {
        dir.write("in.bin", text);
        std::vector<std::string> args{"pack", "-f", "in.bin", "in.kwp"};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto r = run_kwtool(dir, args);
        EXPECT_EQ(r.status, 0) << r.err;
        return kwtest::slurp(dir.file("in.kwp"));
    }
};

TEST_F(KwtoolPack, RoundTripsEverySizeThroughFilesAndPipes) {
    const std::size_t sizes[] = {0, 1, 18, 19, 65534, 65535, 65536, 65535 * 4, 65535 * 4 + 1, 5u << 20};
    for (const std::size_t n : sizes) {
        SCOPED_TRACE(n);
        const std::string text = sample_bytes(n, static_cast<unsigned>(n));
        pack(text);
        auto r = run_kwtool(dir, {"unpack", "-f", "in.kwp", "out.bin"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(kwtest::slurp(dir.file("out.bin")) == text);

        r = run_kwtool_bytes(dir, {"pack"}, text);  // stdin to stdout
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.out == kwtest::slurp(dir.file("in.kwp"))) << "the same bytes from a pipe";
        r = run_kwtool_bytes(dir, {"unpack", "-", "-"}, r.out);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.out == text);
    }
}

TEST_F(KwtoolPack, OneThreadAndTwoWriteTheSameBytes) {
    const std::string text = sample_bytes(3u << 20, 7);
    EXPECT_TRUE(pack(text, {"-j1"}) == pack(text, {"-j2"}));
}

TEST_F(KwtoolPack, LayoutIsHeaderBlocksEndMarkerAndTrailer) {
    const std::string empty = pack("");
    const std::string head("KWPK\x01\x00\x00\x00", 8);
    EXPECT_EQ(empty, head + std::string(9, '\0') + be(0, 8) + be(XXH3_64bits("", 0), 8));

    // 65,536 zeros: one full compressed block, then one stored byte.
    const std::string zeros(65536, '\0');
    const std::string p = pack(zeros);
    ASSERT_GE(p.size(), 8u + 9u);
    EXPECT_EQ(p.substr(0, 8), head);
    EXPECT_EQ(p[8], '\x02');                       // RDC
    EXPECT_EQ(p.substr(9, 2), "\xFF\xFF");          // 65,535 bytes of content
    const std::size_t stored = be16(p, 11);
    EXPECT_LT(stored, 100u);
    EXPECT_EQ(p.substr(13, 4), be(XXH3_64bits(zeros.data(), 65535) & 0xFFFFFFFFu, 4));
    const std::size_t second = 8 + 9 + stored;
    EXPECT_EQ(p.substr(second, 5), std::string("\x01\x00\x01\x00\x01", 5));  // stored, 1 byte
    EXPECT_EQ(p.substr(second + 9, 1), std::string(1, '\0'));
    EXPECT_EQ(p.substr(second + 10), std::string(9, '\0') + be(65536, 8) + be(XXH3_64bits(zeros.data(), 65536), 8));

    // Data that does not compress is stored as it is.
    std::string noise(1000, '\0');
    std::mt19937 rng(1);
    for (auto &c : noise) {
        c = static_cast<char>(rng() & 0xFF);
    }
    const std::string q = pack(noise);
    EXPECT_EQ(q.substr(8, 5), std::string("\x01\x03\xE8\x03\xE8", 5));
    EXPECT_TRUE(q.substr(17, 1000) == noise);
}

// A damaged file: refused with exit 2 and a message naming it, and no
// output file (nor a temporary one) is left behind.
TEST_F(KwtoolPack, RefusesDamagedTruncatedAndForeignFiles) {
    const std::string text = sample_bytes(200000, 3);
    const std::string good = pack(text);
    const std::size_t block2 = 8 + 9 + be16(good, 11);
    const auto with = [&](std::size_t at, char c) {
        std::string s = good;
        s[at] = c;
        return s;
    };
    const auto flipped = [&](std::size_t at) { return with(at, static_cast<char>(good[at] ^ 0x40)); };
    struct Case {
        const char *name;
        std::string bytes;
        const char *message;
    } cases[] = {
        {"empty", "", "empty, not a kwtool pack file"},
        {"foreign", "just some text that is long enough", "not a kwtool pack file (no KWPK signature)"},
        {"magic", flipped(0), "not a kwtool pack file"},
        {"version", with(4, '\x09'), "pack format version 9 is not supported"},
        {"flags", with(5, '\x01'), "flags or reserved bytes are set"},
        {"block kind", with(8, '\x07'), "block 1 (at byte 8): unknown block kind 7"},
        {"stored lengths differ", with(8, '\x01'), "block 1 (at byte 8): stored block whose two lengths differ"},
        {"compressed data", flipped(40), "block 1 (at byte 8): "},
        {"block check", flipped(14), "block 1 (at byte 8): content does not match its check"},
        {"second block", flipped(block2 + 30), "block 2 (at byte "},
        {"trailer length", flipped(good.size() - 9), "damaged: the end marker records"},
        {"trailer checksum", flipped(good.size() - 1), "damaged: the content does not match its checksum"},
        {"end marker", with(good.size() - 20, '\x01'), "damaged end marker"},
        {"trailing data", good + "x", "unexpected data after the end marker"},
        {"header cut", good.substr(0, 6), "truncated: the file ends inside its header"},
        {"block header cut", good.substr(0, 12), "truncated: the file ends inside a block header"},
        {"block data cut", good.substr(0, 100), "truncated: the file ends inside block 1"},
        {"before end marker", good.substr(0, good.size() - 25), "truncated: the file ends before its end marker"},
        {"trailer cut", good.substr(0, good.size() - 3), "truncated: the file ends inside its end marker"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        kwtest::TempDir d;
        d.write("bad.kwp", c.bytes);
        const auto r = run_kwtool(d, {"unpack", "bad.kwp", "out.bin"});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("kwtool: bad.kwp: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";
        EXPECT_EQ(kwtest::listing(d), std::vector<std::string>{"bad.kwp"}) << "no output, no temporary file";
    }
}

TEST_F(KwtoolPack, EveryTruncationIsRefused) {
    const std::string good = pack(sample_bytes(70000, 5));
    for (std::size_t cut = 0; cut < good.size(); cut += (cut < 64 || good.size() - cut < 64) ? std::size_t{1} : std::size_t{997}) {
        SCOPED_TRACE(cut);
        dir.write("cut.kwp", good.substr(0, cut));
        const auto r = run_kwtool(dir, {"unpack", "cut.kwp", "out.bin"});
        EXPECT_EQ(r.status, 2);
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.bin")));
    }
}

TEST_F(KwtoolPack, StandardOutputGetsOnlyVerifiedBlocksBeforeALateError) {
    const std::string text = sample_bytes(65535 * 6, 9);
    const std::string good = pack(text);
    const auto r = run_kwtool_bytes(dir, {"unpack"}, good.substr(0, good.size() - 10));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out == text) << "every block verified before the end marker was found cut";
    const auto bad = run_kwtool_bytes(dir, {"unpack"}, "KWPK\x01");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
}

TEST_F(KwtoolPack, AFailedRunKeepsAnExistingOutputFile) {
    dir.write("out.bin", "precious");
    dir.write("bad.kwp", "KWPK\x01\x00\x00\x00garbage");
    EXPECT_EQ(run_kwtool(dir, {"unpack", "bad.kwp", "out.bin"}).status, 2);
    EXPECT_EQ(kwtest::slurp(dir.file("out.bin")), "precious");
}

// Packing a file onto itself once worked through the temporary file; it is
// refused now, as every output that is its own input, -f or not.
TEST_F(KwtoolPack, RefusesAFileAsItsOwnOutput) {
    const std::string text = sample_bytes(100000, 11);
    dir.write("f", text);
    for (const char *cmd : {"pack", "unpack"}) {
        SCOPED_TRACE(cmd);
        const auto r = run_kwtool(dir, {cmd, "-f", "f", "f"});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "kwtool: f: is also the input: give another output name\n");
        EXPECT_TRUE(kwtest::slurp(dir.file("f")) == text);
        EXPECT_EQ(kwtest::listing(dir), std::vector<std::string>{"f"});
    }
}

TEST_F(KwtoolPack, UsageErrors) {
    EXPECT_EQ(run_kwtool(dir, {"pack", "missing.bin", "x.kwp"}).status, 2);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.kwp")));
    EXPECT_EQ(run_kwtool(dir, {"pack", "-j3"}).status, 2);
    EXPECT_EQ(run_kwtool(dir, {"unpack", "a", "b", "c"}).status, 2);
}

#if !defined(_WIN32)
// Run argv (argv[0] found on PATH) in dir with every stream on /dev/null,
// after before() in the child; the exit status, or -1 for another end.
int run_in(const kwtest::TempDir &dir, std::vector<std::string> argv, const std::function<void()> &before = {}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; ++fd) {
            ::dup2(null, fd);
        }
        if (::chdir(dir.path().c_str()) != 0) {
            ::_exit(99);
        }
        if (before) {
            before();
        }
        kwtest::exec_or_exit(std::move(argv));
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using kwtest::temporaries;
#endif

// --rm takes the input away only once a file holds the whole output: a disk
// that fills up (RLIMIT_FSIZE) half-way leaves the input as it was.
TEST_F(KwtoolPack, RemoveKeepsTheInputWhenTheOutputCannotBeCompleted) {
#if defined(_WIN32)
    GTEST_SKIP() << "RLIMIT_FSIZE is POSIX only";
#else
    const std::string text = sample_bytes(3u << 20, 21);
    dir.write("data.bin", text);
    ASSERT_EQ(run_kwtool(dir, {"pack", "-k", "data.bin", "packed.kwp"}).status, 0);
    const std::string packed = kwtest::slurp(dir.file("packed.kwp"));
    struct Case {
        std::vector<std::string> args;
        const char *input;
        const std::string *content;
        const char *output;
    };
    const Case cases[] = {
        {{"pack", "--rm", "-q", "data.bin"}, "data.bin", &text, "data.bin.kwp"},
        {{"unpack", "--rm", "-q", "packed.kwp", "restored.bin"}, "packed.kwp", &packed, "restored.bin"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::vector<std::string> argv{kwtest::kwtool_path()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const int status = run_in(dir, argv, [] {
            struct rlimit lim {};
            lim.rlim_cur = lim.rlim_max = 1u << 20;  // the disk is full after 1 MiB
            ::setrlimit(RLIMIT_FSIZE, &lim);
        });
        EXPECT_EQ(status, 2);
        EXPECT_TRUE(kwtest::slurp(dir.file(c.input)) == *c.content) << "the input is still there, whole";
        EXPECT_FALSE(std::filesystem::exists(dir.file(c.output)));
        EXPECT_EQ(temporaries(dir), std::vector<std::string>{});
    }
#endif
}

// The output is synced before its rename exactly when something of the
// user's is at stake: a file it replaces (-f), or an input that --rm
// removes. A new file beside a kept input is not, as compressors do.
TEST_F(KwtoolPack, SyncsOnlyWhatACrashCouldCost) {
#if defined(_WIN32)
    GTEST_SKIP() << "the system calls are watched with strace, a Linux tool";
#else
    if (run_in(dir, {"strace", "-o", "/dev/null", "true"}) != 0) {
        GTEST_SKIP() << "strace is not installed here or may not trace (needed to see the fsync calls)";
    }
    const std::string text = sample_bytes(300000, 5);
    struct Case {
        std::vector<std::string> args;
        const char *input;
        const char *output;
        bool existing_output;
        bool synced;
    };
    const Case cases[] = {
        {{"pack", "a.bin", "a.bin.kwp"}, "a.bin", "a.bin.kwp", false, false},
        {{"pack", "-f", "a.bin", "a.bin.kwp"}, "a.bin", "a.bin.kwp", true, true},
        {{"pack", "--rm", "a.bin"}, "a.bin", "a.bin.kwp", false, true},
        {{"unpack", "a.kwp", "b.bin"}, "a.kwp", "b.bin", false, false},
        {{"unpack", "-f", "a.kwp", "b.bin"}, "a.kwp", "b.bin", true, true},
        {{"unpack", "--rm", "a.kwp", "b.bin"}, "a.kwp", "b.bin", false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        for (const auto &name : kwtest::listing(dir)) {
            std::filesystem::remove(dir.file(name));
        }
        dir.write("a.bin", text);
        ASSERT_EQ(run_kwtool(dir, {"pack", "a.bin", "a.kwp"}).status, 0);
        const std::string packed = kwtest::slurp(dir.file("a.kwp"));
        if (c.existing_output) {
            dir.write(c.output, "old");
        }
        std::vector<std::string> argv{"strace", "-f", "-qq", "-e", "trace=fsync,fdatasync,sync_file_range",
                                      "-o", dir.file(".std-trace"), kwtest::kwtool_path()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        // LeakSanitizer cannot run under ptrace; the untraced runs keep it.
        ASSERT_EQ(run_in(dir, argv, [] {
                      const char *asan = std::getenv("ASAN_OPTIONS");
                      const std::string opts = std::string(asan != nullptr ? asan : "") + ":detect_leaks=0";
                      ::setenv("ASAN_OPTIONS", opts.c_str(), 1);
                  }),
                  0);
        const std::string trace = kwtest::slurp(dir.file(".std-trace"));
        EXPECT_EQ(trace.find("sync") != std::string::npos, c.synced) << trace;
        EXPECT_TRUE(kwtest::slurp(dir.file(c.output)) == (c.args[0] == "pack" ? packed : text));
        const bool removes = std::find(c.args.begin(), c.args.end(), "--rm") != c.args.end();
        EXPECT_EQ(std::filesystem::exists(dir.file(c.input)), !removes);
    }
#endif
}

}  // namespace
