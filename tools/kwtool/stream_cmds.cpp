// kwtool xlate, scramble, unscramble, count and readline: the buffer
// utilities over whole files and pipes.
//
// Streams are cut into fixed chunks. For xlate and count the cut changes
// nothing. For scramble it is part of the result: the scrambler chooses its
// key from each buffer's own bytes, so a stream is scrambled in chunks of
// exactly 65,536 bytes (the last one shorter), and unscramble cuts the same
// way to restore it; both keep the length, so the cuts line up.
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli.h"

#ifdef _WIN32
#include <io.h>
#define KWTOOL_DUP _dup
#define KWTOOL_DUP2 _dup2
#define KWTOOL_CLOSE _close
#else
#include <unistd.h>
#define KWTOOL_DUP dup
#define KWTOOL_DUP2 dup2
#define KWTOOL_CLOSE close
#endif

#include "commands.h"
#include "file_cli.h"
#include "file_io.h"
#include "kwutil.h"
#include "stream_ops.h"

namespace kwtool {

namespace {

constexpr std::size_t kChunk = 1u << 20;  // xlate and count
constexpr std::uint32_t kMaxReadline = 65534;

void print(const std::string &s) {
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fputc('\n', stdout);
}

}  // namespace

namespace stream_ops {

std::pair<std::uint64_t, std::uint64_t> translate(const std::string &in_name, const std::string &out_name, bool to_ebcdic,
                                                  const write_options &opts) {
    input in(in_name);
    output out(out_name, opts, &in);
    const unsigned char *table = to_ebcdic ? KW_xlate_ASC_EBC : KW_xlate_EBC_ASC;
    std::vector<unsigned char> buf(kChunk);
    for (;;) {
        const std::size_t n = in.read_full(buf.data(), buf.size());
        KW_memxlt(buf.data(), table, static_cast<std::uint32_t>(n));
        out.write(buf.data(), n);
        if (n < buf.size()) {
            break;
        }
    }
    out.commit();
    return {in.bytes_read(), out.bytes_written()};
}

std::pair<std::uint64_t, std::uint64_t> scramble(const std::string &in_name, const std::string &out_name, bool restore,
                                                 const write_options &opts) {
    input in(in_name);
    output out(out_name, opts, &in);
    std::vector<unsigned char> buf(kScrambleChunk);
    for (;;) {
        const std::size_t n = in.read_full(buf.data(), buf.size());
        if (restore) {
            KW_dcprc(buf.data(), static_cast<std::uint32_t>(n));
        } else {
            KW_crbrk(buf.data(), static_cast<std::uint32_t>(n));
        }
        out.write(buf.data(), n);
        if (n < buf.size()) {
            break;
        }
    }
    out.commit();
    return {in.bytes_read(), out.bytes_written()};
}

std::uint64_t count(const std::string &pattern, const std::string &in_name) {
    if (pattern.empty()) {
        fail(kExitBadInput, "the pattern is empty");
    }
    if (pattern.size() > kChunk) {
        fail(kExitBadInput, "the pattern is longer than 1 MiB");
    }
    input in(in_name);
    const auto m = static_cast<std::int32_t>(pattern.size());
    // Both buffers keep index 0 for the sentinel the search stores there.
    std::vector<unsigned char> pat(pattern.size() + 1);
    std::copy(pattern.begin(), pattern.end(), pat.begin() + 1);
    std::vector<unsigned char> txt(1 + kChunk + pattern.size());
    // Windows overlap by m - 1 bytes: an occurrence that straddles a cut is
    // whole in the next window, and none fits in the overlap alone, so each
    // is counted once.
    std::size_t keep = 0;
    std::uint64_t total = 0;
    for (;;) {
        const std::size_t n = in.read_full(txt.data() + 1 + keep, kChunk);
        const std::size_t have = keep + n;
        if (have >= pattern.size()) {
            total += static_cast<std::uint64_t>(KW_FastTextFind(static_cast<std::int32_t>(have), txt.data(), m, pat.data()));
        }
        if (n < kChunk) {
            break;
        }
        keep = std::min(have, pattern.size() - 1);
        std::copy(txt.begin() + static_cast<std::ptrdiff_t>(1 + have - keep),
                  txt.begin() + static_cast<std::ptrdiff_t>(1 + have), txt.begin() + 1);
    }
    return total;
}

}  // namespace stream_ops

void add_stream_commands(CLI::App &app) {
    struct args {
        file_args files;
        std::string in = "-";
        std::string to;
        std::string pattern;
        std::uint32_t max = 255;
    };
    auto a = std::make_shared<args>();
    const auto files = [a](CLI::App *cmd) {
        add_file_options(cmd, a->files, "input file, - for standard input", "output file, - for standard output",
                         kFileBasic);
    };
    // Every byte value can come out of these, so a terminal gets none of it.
    const auto run = [a](const char *verb, const auto &work) {
        const std::string out = choose_output(a->files, nullptr);
        file_run r(a->files, out);
        const auto sizes = work(out, writing(a->files, true, false));
        r.finish(sizes.first, sizes.second, verb);
    };

    auto *x = app.add_subcommand("xlate", "Translate bytes between ASCII and EBCDIC");
    x->add_option("--to", a->to, "the encoding to write")->required()->check(CLI::IsMember({"ebcdic", "ascii"}));
    files(x);
    x->footer("ASCII to EBCDIC and back restores every byte 0x00 to 0x7F; bytes 0x80 to 0xFF are not\n"
              "all restored (the tables are not permutations).");
    x->callback([a, run] {
        run("translated", [a](const std::string &out, const write_options &w) {
            return stream_ops::translate(a->files.in, out, a->to == "ebcdic", w);
        });
    });

    auto *s = app.add_subcommand("scramble", "Scramble a file or stream reversibly (KW_crbrk)");
    files(s);
    s->footer("The stream is scrambled in chunks of 65,536 bytes, the last one shorter; the length is kept.\n"
              "Restore it with kwtool unscramble.");
    s->callback([a, run] {
        run("scrambled", [a](const std::string &out, const write_options &w) {
            return stream_ops::scramble(a->files.in, out, false, w);
        });
    });

    auto *u = app.add_subcommand("unscramble", "Restore what kwtool scramble produced (KW_dcprc)");
    files(u);
    u->footer("Cuts the stream into the same 65,536-byte chunks as kwtool scramble.");
    u->callback([a, run] {
        run("restored", [a](const std::string &out, const write_options &w) {
            return stream_ops::scramble(a->files.in, out, true, w);
        });
    });

    auto *c = app.add_subcommand("count", "Count the occurrences of a pattern, overlapping ones included");
    c->add_option("PATTERN", a->pattern, "the bytes to look for (case-sensitive)")->required();
    c->add_option("FILE", a->in, "file to search, - for standard input")->capture_default_str();
    c->footer("Prints the count; the exit status is 1 when it is 0.");
    c->callback([a] {
        const std::uint64_t n = stream_ops::count(a->pattern, a->in);
        print(std::to_string(n));
        if (n == 0) {
            exit_status() = kExitNotFound;
        }
    });

    auto *r = app.add_subcommand("readline", "Read a line at the console with echo and Backspace, then print it");
    r->add_option("--max", a->max, "the most characters to take")
        ->check(CLI::Range(0u, kMaxReadline))
        ->capture_default_str();
    r->footer("Enter ends the line; other control keys ring the bell. The echo goes to standard error, so\n"
              "standard output carries only the line. From a pipe, a carriage return or the end ends it\n"
              "(not on Windows, where the line must be typed at the console).");
    r->callback([a] { print(stream_ops::read_line(a->max)); });
}

namespace stream_ops {

std::string read_line(std::uint32_t max) {
#ifdef _WIN32
    // There the library takes keys from the console itself, not from
    // standard input: the bytes of a pipe would go unread while it waited
    // for keys, or it would return an empty line as if Enter had come.
    if (!stdin_is_terminal()) {
        fail(kExitBadInput, "standard input is not the console: on Windows the line must be typed at the console");
    }
#endif
    std::vector<unsigned char> buf(max + 1);
    // The library echoes on standard output; point that at standard error
    // for the call, so that standard output gets the line and nothing else.
    std::fflush(stdout);
    const int saved = KWTOOL_DUP(1);
    if (saved >= 0) {
        KWTOOL_DUP2(2, 1);
    }
    KW_GetString(buf.data(), static_cast<std::uint16_t>(max + 1));
    std::fflush(stdout);
    if (saved >= 0) {
        KWTOOL_DUP2(saved, 1);
        KWTOOL_CLOSE(saved);
    }
    if (stdin_is_terminal()) {
        std::fputc('\n', stderr);  // Enter is not echoed
    }
    return std::string(reinterpret_cast<const char *>(buf.data()));
}

}  // namespace stream_ops

}  // namespace kwtool
