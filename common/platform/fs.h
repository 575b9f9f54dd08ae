// File-system work for rewriting a file safely: a new file beside the old
// one, made durable, then put in the old one's place in one step.
//
// Every function is noexcept, reports failure by its result, and leaves
// errno (or the host's last error) as the failing call set it.
#ifndef KW_PLATFORM_FS_H
#define KW_PLATFORM_FS_H

#include <cstddef>
#include <cstdio>

namespace kw::plat {

enum class TempFile {
    ok,      // created and open for writing
    denied,  // the folder does not let us create a file in it
    failed,  // any other reason (no such folder, name too long, no space, ...)
};

// Create a new, empty file in the folder of target, under a name no other
// file has, and open it for writing in text mode. Its permission bits (and,
// where the process may set them, its owner and group) are those of target,
// so the file can take target's place unchanged. The name is written to
// path (cap bytes with the terminator); on any result but ok nothing was
// created and *out is null.
TempFile create_temp_beside(const char *target, char *path, std::size_t cap, std::FILE **out) noexcept;

// Write a zero-terminated text (fputs). False on failure; a buffered stream
// may also report a failure only at sync_file or commit_file.
bool put_text(std::FILE *f, const char *text) noexcept;

// Flush f and have the host put its data on the disk. False when either step
// fails (a full disk shows here).
bool sync_file(std::FILE *f) noexcept;

// sync_file, then close f whatever happened. False when anything failed.
bool commit_file(std::FILE *f) noexcept;

// Put the file at from in the place of the file at to, in one step: a reader
// sees the old file or the new one, never a mix. to keeps its name; from no
// longer exists afterwards. False when nothing was replaced.
bool replace_file(const char *from, const char *to) noexcept;

// Whether the process may write the existing file at path (its permission
// bits, or the read-only attribute on Windows), as an open for writing would
// find. A file replaced by replace_file needs no such permission itself, so
// a caller that wants to respect it asks first.
bool may_write(const char *path) noexcept;

// Remove a file; failures are ignored (used to clean up after a failure).
void remove_file(const char *path) noexcept;

// Reopen the stream f on path with mode (freopen). On failure f is closed
// and the result is null.
std::FILE *reopen_file(std::FILE *f, const char *path, const char *mode) noexcept;

// Close a stream whose pending output, if any, no longer matters.
void close_file(std::FILE *f) noexcept;

}  // namespace kw::plat

#endif
