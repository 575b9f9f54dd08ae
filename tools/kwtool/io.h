// Files and pipes for kwtool: the exit statuses, the one failure type every
// subcommand throws, whole-buffer reads from a file or stdin, and outputs
// that appear under their name only once they are complete.
#ifndef KWTOOL_IO_H
#define KWTOOL_IO_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>

namespace kwtool {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNotFound = 1;
inline constexpr int kExitBadInput = 2;  // usage errors included

// What a subcommand throws to end the run: the status and the one line
// (without its line end) that main prints on standard error.
class failure : public std::runtime_error {
public:
    failure(int status, const std::string &message) : std::runtime_error(message), status_(status) {}
    int status() const noexcept { return status_; }

private:
    int status_;
};

[[noreturn]] void fail(int status, const std::string &message);

// "FILE: text", or "FILE:LINE: text" when line is nonzero.
std::string located(const std::string &file, unsigned long line, const std::string &text);

// "-" and the empty name stand for standard input or output.
bool is_std_stream(const std::string &name);

// The name used in messages: the path, or "stdin" / "stdout".
std::string display_name(const std::string &name, bool output);

// Whole-file read for small inputs (INI texts, catalogs, catalog sources):
// refuses, with exit status 2, a file that cannot be read or that is longer
// than limit bytes.
std::string read_small_file(const std::string &path, std::size_t limit);

// A binary input: a file, or standard input for "-" and "".
class input {
public:
    explicit input(const std::string &name);
    ~input();
    input(const input &) = delete;
    input &operator=(const input &) = delete;

    // Fill buf with up to n bytes, looping over short reads (pipes deliver
    // what they have); fewer than n only at the end of the input.
    std::size_t read_full(unsigned char *buf, std::size_t n);

    // Let go of a named file before an output takes its place: Windows
    // refuses to replace a file that is still open.
    void close();

    // The size of a regular file, when the input is one.
    std::optional<std::uint64_t> size() const { return size_; }
    const std::string &name() const { return shown_; }

private:
    std::FILE *f_ = nullptr;
    bool owned_ = false;
    std::string shown_;
    std::optional<std::uint64_t> size_;
};

// A binary output. A named file is written under a temporary name in the
// same folder and renamed over its target by commit(); if the object goes
// without a commit (an error was thrown), the temporary file is removed and
// the target is untouched. Standard output ("-", "") is written directly, in
// binary mode.
class output {
public:
    explicit output(const std::string &name);
    ~output();
    output(const output &) = delete;
    output &operator=(const output &) = delete;

    void write(const void *data, std::size_t n);
    void commit();

    bool is_stdout() const { return f_ == stdout; }
    const std::string &name() const { return shown_; }

private:
    std::FILE *f_ = nullptr;
    std::string target_;
    std::string temp_;
    std::string shown_;
    bool committed_ = false;
};

// A one-line progress bar on standard error, shown only when standard error
// is a terminal and the work is large; redrawn at most ten times a second.
class progress {
public:
    // total: the expected byte count, when known.
    explicit progress(std::optional<std::uint64_t> total);
    ~progress();
    progress(const progress &) = delete;
    progress &operator=(const progress &) = delete;

    void advance(std::uint64_t bytes);
    void finish();

private:
    void draw();

    bool enabled_ = false;
    bool drawn_ = false;
    std::optional<std::uint64_t> total_;
    std::uint64_t done_ = 0;
    std::chrono::steady_clock::time_point last_{};
};

// Whether the stream is an interactive terminal (a console window on
// Windows; other character devices, such as NUL, are not).
bool stdout_is_terminal();
bool stdin_is_terminal();

// Put standard output in binary mode for bytes that must arrive exactly as
// written. Text commands leave it alone: on Windows each line of their
// output then ends with CR LF, as the platform's text tools do.
void binary_stdout();

// Parse a whole decimal number (an optional sign; "0x" for hexadecimal)
// into a 64-bit value; nullopt for anything else.
std::optional<std::int64_t> parse_integer(const std::string &text);

}  // namespace kwtool

#endif
