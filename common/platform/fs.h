// File-system work for writing a held file back: what the held stream is,
// where it is now, a new file beside it that can take its place in one
// step, and a rewrite in place through the held stream itself.
//
// Every function is noexcept, reports failure by its result, and leaves
// errno (or the host's last error) as the failing call set it.
#ifndef KW_PLATFORM_FS_H
#define KW_PLATFORM_FS_H

#include <cstddef>
#include <cstdio>

namespace kw::plat {

// What the file behind a held stream is, asked of the stream itself.
struct HeldFile {
    bool regular;  // a regular file, not a device, FIFO or socket
    bool named;    // it still has a name: not removed since it was opened
    bool linked;   // it has more than one name (hard links)
};

// Describe the file behind f. False when the host cannot tell.
bool inspect(std::FILE *f, HeldFile *out) noexcept;

// Write the absolute, link-resolved path under which the file behind f can
// be found now (renames and a change of working folder since its opening
// included) into out, zero-terminated. Returns the path's length, or 0 when
// the host cannot tell or the path does not fit in cap bytes.
std::size_t held_path(std::FILE *f, char *out, std::size_t cap) noexcept;

// Whether the process may write the file behind f, as an open for writing
// by its name would find (its permission bits, or the read-only attribute on
// Windows): the held stream itself was opened for writing long ago. path is
// its held_path, or null when unknown.
bool may_write(std::FILE *f, const char *path) noexcept;

enum class TempFile {
    ok,      // created and open for writing
    denied,  // the folder does not let us create a file in it
    unlike,  // created, but it could not be given the held file's owner,
             // group and permission bits; already removed again
    failed,  // any other reason (no such folder, name too long, no space, ...)
};

// Create a new, empty file in the folder of target (the held_path of held),
// under a name no other file has, and open it for writing in text mode. It
// gets held's owner, group, permission bits and (Linux) the extended
// attributes this process can read, access lists among them, or the result
// is unlike, so that on ok it can take held's place unchanged. The name is written to path
// (cap bytes with the terminator); on any result but ok nothing is left
// behind and *out is null.
TempFile create_temp_beside(std::FILE *held, const char *target, char *path, std::size_t cap,
                            std::FILE **out) noexcept;

// Write a zero-terminated text (fputs). False on failure; a buffered stream
// may also report a failure only at commit_file or finish_rewrite.
bool put_text(std::FILE *f, const char *text) noexcept;

// Flush f and have the host put its data on the disk, then close f whatever
// happened. False when anything failed (a full disk shows here).
bool commit_file(std::FILE *f) noexcept;

// Put the file at from in the place of the file at to, in one step: a reader
// sees the old file or the new one, never a mix. to keeps its name; from no
// longer exists afterwards. False when nothing was replaced.
bool replace_file(const char *from, const char *to) noexcept;

// Remove a file; failures are ignored (used to clean up after a failure).
void remove_file(const char *path) noexcept;

// Close a stream whose pending output, if any, no longer matters.
void close_file(std::FILE *f) noexcept;

// Rewriting the file behind the held update stream f where it stands, in
// three steps: start_rewrite, the text through put_text, finish_rewrite.
// f stays open throughout and after, positioned at the start.
//
// start_rewrite drops what an earlier failed attempt left in f's buffer and
// puts f at the start of the file. For a regular file it first reserves the
// room for the new text of bytes bytes holding line_ends line ends (which a
// text-mode write may widen), so that a full disk shows before any byte is
// overwritten; nothing has changed when it fails.
bool start_rewrite(std::FILE *f, bool regular, std::size_t bytes, std::size_t line_ends) noexcept;

// Flush f; for a regular file cut it where the new text ends and sync it to
// the disk. A device that cannot sync is no failure. False when the flush,
// the cut or a sync failed.
bool finish_rewrite(std::FILE *f, bool regular) noexcept;

}  // namespace kw::plat

#endif
