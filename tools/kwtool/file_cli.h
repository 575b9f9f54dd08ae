// The command line every file-writing subcommand shares: IN and OUT by
// position, -o, -c, -f, -q, -v (and -k, --rm for pack and unpack), and what
// they mean together, so that one spelling means one thing everywhere.
#ifndef KWTOOL_FILE_CLI_H
#define KWTOOL_FILE_CLI_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "file_io.h"

namespace CLI {
class App;
}

namespace kwtool {

struct file_args {
    std::string in = "-";
    std::string out_pos;  // OUT as a position
    std::string out_opt;  // -o OUT
    bool to_stdout = false;
    bool force = false;
    bool keep = false;
    bool remove_input = false;
    bool quiet = false;
    bool verbose = false;
};

enum file_flags : unsigned {
    kFileBasic = 0,
    kFileKeepRemove = 1,  // -k and --rm: the input is a file to keep or remove
};

// Add IN, OUT and the shared options to cmd.
void add_file_options(CLI::App *cmd, file_args &a, const char *in_help, const char *out_help, unsigned flags);

// The output name: "-" for -c, else OUT or -o (not both), else
// default_name(IN) for a named IN when there is such a function, else "-".
// Usage errors throw failure with status 2.
std::string choose_output(const file_args &a, const std::function<std::string(const std::string &)> &default_name);

// What the shared options ask of the output.
write_options writing(const file_args &a, bool binary, bool keep_time);

// After a successful run: --rm, and the -v summary line on standard error.
class file_run {
public:
    file_run(const file_args &a, std::string out);
    void finish(std::uint64_t in_bytes, std::uint64_t out_bytes, const char *verb);

private:
    const file_args &a_;
    std::string out_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace kwtool

#endif
