#include "platform/stream.h"

#include <cstdlib>
#include <cstring>

namespace kw::plat {

// fopen's default translation mode is text, so "r", "r+" and "w" turn CR LF
// into 0x0A and back, as the INI engine expects.
std::FILE *open_file(const char *path, const char *mode) noexcept {
    return std::fopen(path, mode);
}

ReadLine read_line(std::FILE *f, char *buf, int size) noexcept {
    if (std::fgets(buf, size, f) != nullptr) {
        return ReadLine::ok;
    }
    return std::ferror(f) != 0 ? ReadLine::error : ReadLine::end;
}

std::size_t absolute_path(const char *name, char *out, std::size_t cap) noexcept {
    if (cap > 0x7fffffff || _fullpath(out, name, cap) == nullptr) {
        return 0;
    }
    return std::strlen(out);
}

}  // namespace kw::plat
