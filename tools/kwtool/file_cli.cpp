#include "file_cli.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli.h"

namespace kwtool {

void add_file_options(CLI::App *cmd, file_args &a, const char *in_help, const char *out_help, unsigned flags) {
    cmd->add_option("IN", a.in, in_help)->capture_default_str();
    cmd->add_option("OUT", a.out_pos, out_help);
    cmd->add_option("-o,--output", a.out_opt, "the output, as OUT (- for standard output)")->type_name("OUT");
    cmd->add_flag("-c,--stdout", a.to_stdout, "write to standard output");
    cmd->add_flag("-f,--force", a.force,
                  "replace an existing output file; write binary data to a terminal");
    auto *q = cmd->add_flag("-q,--quiet", a.quiet, "no progress bar, warnings or summary");
    auto *v = cmd->add_flag("-v,--verbose", a.verbose, "a summary line at the end: sizes, ratio, speed");
    q->excludes(v);
    if ((flags & kFileKeepRemove) != 0) {
        auto *k = cmd->add_flag("-k,--keep", a.keep, "keep IN (always so unless --rm)");
        auto *r = cmd->add_flag("--rm", a.remove_input, "remove IN once the output is complete");
        k->excludes(r);
    }
}

std::string choose_output(const file_args &a, const std::function<std::string(const std::string &)> &default_name) {
    const int given = (a.to_stdout ? 1 : 0) + (a.out_pos.empty() ? 0 : 1) + (a.out_opt.empty() ? 0 : 1);
    if (given > 1) {
        fail(kExitBadInput, "the output is given twice (OUT, -o and -c name one output)");
    }
    if (a.to_stdout) {
        return "-";
    }
    if (!a.out_pos.empty()) {
        return a.out_pos;
    }
    if (!a.out_opt.empty()) {
        return a.out_opt;
    }
    if (default_name && !is_std_stream(a.in)) {
        return default_name(a.in);
    }
    return "-";
}

write_options writing(const file_args &a, bool binary, bool keep_time) {
    if (a.quiet) {
        progress::silence();
    }
    write_options w;
    w.force = a.force;
    w.binary = binary;
    w.keep_time = keep_time;
    w.durable = a.remove_input;
    return w;
}

file_run::file_run(const file_args &a, std::string out)
    : a_(a), out_(std::move(out)), start_(std::chrono::steady_clock::now()) {}

void file_run::finish(std::uint64_t in_bytes, std::uint64_t out_bytes, const char *verb) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const bool named_in = !is_std_stream(a_.in);
    if (a_.remove_input && named_in) {
        if (is_std_stream(out_)) {
            if (!a_.quiet) {
                std::fprintf(stderr, "kwtool: %s: kept: --rm removes the input only once a file holds the output\n",
                             a_.in.c_str());
            }
        } else {
            std::error_code ec;
            std::filesystem::remove(a_.in, ec);
            if (ec) {
                fail(kExitBadInput, located(a_.in, 0, "cannot remove: " + ec.message()));
            }
        }
    }
    if (a_.verbose && !a_.quiet) {
        // The ratio of the packed size to the content's, either way round;
        // the speed in content bytes.
        const std::uint64_t bigger = std::max(in_bytes, out_bytes);
        const std::uint64_t smaller = std::min(in_bytes, out_bytes);
        const double ratio = bigger == 0 ? 100.0 : 100.0 * static_cast<double>(smaller) / static_cast<double>(bigger);
        const double mib = static_cast<double>(bigger) / (1024.0 * 1024.0);
        std::fprintf(stderr, "kwtool: %s: %s %llu -> %llu bytes (%.1f%%) in %.3f s, %.1f MiB/s\n",
                     display_name(a_.in, false).c_str(), verb, static_cast<unsigned long long>(in_bytes),
                     static_cast<unsigned long long>(out_bytes), ratio, seconds,
                     seconds > 0 ? mib / seconds : 0.0);
    }
}

}  // namespace kwtool
