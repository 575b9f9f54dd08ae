// The host steps under the file-system work of fs.h that differ between
// POSIX and Windows; fs_common.cpp builds the shared sequences (commit,
// rewrite in place) from them. Internal to the platform folder.
#ifndef KW_PLATFORM_FS_HOST_H
#define KW_PLATFORM_FS_HOST_H

#include <cstddef>
#include <cstdio>

namespace kw::plat::host {

// Put what the host holds of f's file on the disk. A file that has no such
// thing as a sync (a device, a pipe) is no failure unless regular is true.
bool sync_stream(std::FILE *f, bool regular) noexcept;

// Make sure the regular file behind f can take bytes bytes holding
// line_ends line ends, as a text-mode write stores them, without a full
// disk showing halfway; nothing has changed when it fails.
bool reserve_room(std::FILE *f, std::size_t bytes, std::size_t line_ends) noexcept;

// Cut the regular file behind f (flushed) where its position stands.
bool cut_here(std::FILE *f) noexcept;

// Whether a seek of f to its start that just failed is what a file of its
// kind does (a pipe, a terminal) rather than a failure.
bool unseekable(bool regular) noexcept;

}  // namespace kw::plat::host

#endif
