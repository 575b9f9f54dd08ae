// What kwtool's file handling needs from the system and cannot get from
// standard C++: what a name is (a file, a device, a link), the mode, owner
// and times a file keeps, and cleaning up after a signal. One source per
// platform: fsys_posix.cpp and fsys_windows.cpp, with what the two share in
// fsys_common.cpp.
#ifndef KWTOOL_FSYS_H
#define KWTOOL_FSYS_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace kwtool::fsys {

enum class kind { regular, directory, other };  // other: devices, FIFOs, sockets

// What stat tells about a file, in the units the platform gives.
struct facts {
    kind type = kind::regular;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;  // 0 where the platform has none
    std::uint64_t links = 1;
    unsigned mode = 0;        // permission bits
    std::int64_t owner = -1;  // -1 where the platform has none
    std::int64_t group = -1;
    std::int64_t atime_s = 0, atime_ns = 0;
    std::int64_t mtime_s = 0, mtime_ns = 0;
};

// Facts of the file a name leads to (links followed); nullopt with err set
// when there is none.
std::optional<facts> stat_path(const std::string &path, int &err);
std::optional<facts> stat_open(std::FILE *f);

// Whether the two describe one file.
bool same_file(const facts &a, const facts &b);

// The name a chain of symbolic links ends at (the name itself when it is
// no link); it need not exist. Empty with err set on a loop or a fault.
std::string resolve_links(const std::string &path, int &err);

// A file created for this run alone (it must not exist), binary, write
// only, with the given permission bits (umask applied).
std::FILE *create_new(const std::string &path, unsigned mode);

// Open what exists and is not a regular file (a device, a FIFO, a socket)
// to write into it; nullptr with errno set otherwise.
std::FILE *open_into(const std::string &path);

// Give f the permission bits; owner and group too when they are not -1.
// False when one of them could not be set.
bool set_mode(std::FILE *f, unsigned mode);
bool set_owner(std::FILE *f, std::int64_t owner, std::int64_t group);

// Access and modification time of f from those of src.
bool set_times(std::FILE *f, const facts &src);

// Room for size bytes in f before they are written, so that a full disk
// shows before the content changes. True also where the system cannot
// reserve (the writes will tell then).
bool reserve(std::FILE *f, std::uint64_t size, int &err);
bool truncate(std::FILE *f, std::uint64_t size);

// Data on the disk before a rename makes them the file.
bool sync(std::FILE *f);

// The permission bits a new file gets from the umask.
unsigned default_mode();

// Whether the descriptor is an interactive terminal.
bool is_terminal(int fd);
bool is_terminal(std::FILE *f);

// Whether this process may write the existing file.
bool may_write_file(const std::string &path);

// Interruption. install_signal_cleanup() (once, at start) makes SIGINT,
// SIGTERM and SIGHUP remove the registered temporary file before the
// process ends as the signal's default says; signals ignored at start stay
// ignored. A write past the file-size limit becomes an error, not a signal.
void install_signal_cleanup();
// Register the one temporary file (the path is copied); unregister it.
void guard_temp(const std::string &path);
void release_temp();

// Hold the cleanup signals back for the lifetime of the object: a step that
// must not be cut in the middle (a rename, a rewrite in place). One that
// arrives meanwhile is acted on at the end. Main thread only; may nest.
class signals_held {
public:
    signals_held();
    ~signals_held();
    signals_held(const signals_held &) = delete;
    signals_held &operator=(const signals_held &) = delete;

private:
    bool nested_;  // nested inside another
};

// Between the platform files and fsys_common.cpp.
namespace detail {

// A binary write stream over the descriptor fd (nullptr when fd < 0). When
// none can be made, fd is closed and the file at created, when given (one
// this run has just made for it), removed; errno tells why.
std::FILE *write_stream(int fd, const char *created);

// The platform's fdopen for writing, and close.
std::FILE *fd_write_stream(int fd);
void close_fd(int fd);

}  // namespace detail

}  // namespace kwtool::fsys

#endif
