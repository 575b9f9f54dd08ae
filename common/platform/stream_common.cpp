// Standard C streams do what stream.h asks on every host: fopen's default
// translation mode is text, so on Windows "r", "r+" and "w" turn CR LF into
// 0x0A and back, as the INI engine expects, and on POSIX hosts text and
// binary are one.
#include "platform/stream.h"

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

}  // namespace kw::plat
