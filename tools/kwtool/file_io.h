// Files and pipes for kwtool: the exit statuses, the one failure type every
// subcommand throws, whole-buffer reads from a file or stdin, and outputs
// that appear under their name only once they are complete.
#ifndef KWTOOL_FILE_IO_H
#define KWTOOL_FILE_IO_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>

#include "fsys.h"

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

    // Let go of a named file once it is read: Windows refuses to remove a
    // file that is still open (--rm).
    void close();

    // The size of a regular file, when the input is one.
    std::optional<std::uint64_t> size() const { return size_; }
    const std::string &name() const { return shown_; }
    bool is_stdin() const { return stdin_; }
    bool is_terminal() const;
    // What the input is, from the open file: its mode and times for a new
    // output, its identity against an output of the same name.
    const std::optional<fsys::facts> &facts() const { return facts_; }
    std::uint64_t bytes_read() const { return read_; }

private:
    std::FILE *f_ = nullptr;
    bool owned_ = false;
    bool stdin_ = false;
    std::string shown_;
    std::optional<std::uint64_t> size_;
    std::optional<fsys::facts> facts_;
    std::uint64_t read_ = 0;
};

// How an output treats what is already there.
struct write_options {
    bool force = false;      // replace an existing file; write binary to a terminal
    bool binary = false;     // bytes no terminal should receive
    bool keep_time = false;  // carry the input's access and modification times
    bool durable = false;    // the input goes once this is complete (--rm): sync before the rename
};

// A binary output.
//
// A name that leads to something other than a regular file (a device, a
// FIFO, a socket) is opened and written into. A symbolic link is followed:
// what it points at is written, the link stays. A regular file is written
// under a temporary name beside its target and renamed over the target by
// commit(), synced first when a crash could otherwise cost the user a file
// (see the source's head); until then the target is untouched, and if the
// object goes without a commit (an error was thrown) or a signal ends the
// run, the temporary file is removed. An existing target is replaced only
// with force and keeps its mode, owner and group; where the replacement
// could not carry them (another owner, hard links, a folder that takes no
// new file), the finished content is copied into the target in place.
// A new file takes the mode of the input (its times too with keep_time).
// Standard output ("-", "") is written directly, in binary mode.
//
// Refusals throw failure (exit 2) naming the file: an existing regular
// file without force, the input's own file, a folder, a terminal for
// binary data without force, and every system error with its reason.
class output {
public:
    explicit output(const std::string &name, const write_options &opts = {}, const input *from = nullptr);
    // Counts the bytes and keeps none (a check that writes nothing).
    struct discard_t {};
    explicit output(discard_t) : shown_("nothing"), discard_(true) {}
    ~output();
    output(const output &) = delete;
    output &operator=(const output &) = delete;

    void write(const void *data, std::size_t n);
    void commit();

    bool is_stdout() const { return stdout_; }
    const std::string &name() const { return shown_; }
    std::uint64_t bytes_written() const { return written_; }

private:
    void fail_write(const char *what, int err);
    void replace_target();
    void rewrite_in_place();

    std::FILE *f_ = nullptr;
    bool stdout_ = false;
    bool direct_ = false;  // written into, no temporary file
    std::string target_;   // where the bytes end up (links resolved)
    std::string temp_;
    std::string shown_;
    write_options opts_;
    std::optional<fsys::facts> source_;  // the input's, for a new file
    std::optional<fsys::facts> old_;     // the target's, when it exists
    bool beside_ = true;                 // temp_ is in the target's folder
    bool committed_ = false;
    bool discard_ = false;
    std::uint64_t written_ = 0;
};

// A one-line progress bar on standard error, shown only when standard error
// is a terminal and the work is large; redrawn at most ten times a second.
class progress {
public:
    // -q: no bar at all.
    static void silence();

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
