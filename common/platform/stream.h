// Text-mode file streams and file names, as the INI engine and the catalog
// loader need them.
//
// Text mode is part of the behaviour: on a host whose text files end lines
// with CR LF, a read delivers the pair as the single byte 0x0A and a write
// turns 0x0A back into the pair. On POSIX hosts text and binary are one.
#ifndef KW_PLATFORM_STREAM_H
#define KW_PLATFORM_STREAM_H

#include <cstddef>
#include <cstdio>

namespace kw::plat {

// fopen with a text-mode string ("r", "r+", "w") or a binary one ("rb").
std::FILE *open_file(const char *path, const char *mode) noexcept;

enum class ReadLine { ok, end, error };

// Read one line of at most size - 1 bytes into buf (fgets), keeping its line
// end. Returns end at the end of the file and error on a read error; buf
// then holds nothing meaningful.
ReadLine read_line(std::FILE *f, char *buf, int size) noexcept;

// Write the absolute, link-resolved path of an existing file into out
// (zero-terminated). Returns the path's length, or 0 when it cannot be
// resolved or does not fit in cap bytes with its terminator.
std::size_t absolute_path(const char *name, char *out, std::size_t cap) noexcept;

}  // namespace kw::plat

#endif
