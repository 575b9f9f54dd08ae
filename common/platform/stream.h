// Text-mode file streams, as the INI engine and the catalog
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

}  // namespace kw::plat

#endif
