// Standard C streams in binary mode behave alike on every host, so one
// definition serves all of them.
#include "platform/file.h"

#include "platform/stream.h"

namespace kw::plat {

InFile::InFile(const char *path) noexcept : f_(open_file(path, "rb")) {}

InFile::~InFile() {
    if (f_ != nullptr) {
        std::fclose(f_);
    }
}

std::int64_t InFile::length() noexcept {
    // ftell's long is 32 bits on some hosts: a longer file reports -1 there,
    // which callers that bound the length refuse like any unknown length.
    if (f_ == nullptr || std::fseek(f_, 0, SEEK_END) != 0) {
        return -1;
    }
    const long end = std::ftell(f_);
    if (end < 0 || std::fseek(f_, 0, SEEK_SET) != 0) {
        return -1;
    }
    return end;
}

bool InFile::read(void *buf, std::size_t n) noexcept {
    if (f_ == nullptr) {
        return false;
    }
    return n == 0 || std::fread(buf, n, 1, f_) == 1;
}

}  // namespace kw::plat
