#include "platform/stream.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kw::plat {

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
    char *full = ::realpath(name, nullptr);
    if (full == nullptr) {
        return 0;
    }
    std::size_t len = std::strlen(full);
    if (len + 1 > cap) {
        std::free(full);
        return 0;
    }
    std::memcpy(out, full, len + 1);
    std::free(full);
    return len;
}

}  // namespace kw::plat
