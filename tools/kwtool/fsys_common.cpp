// The parts of kwtool's file handling that are the same on every platform,
// written over the few calls each platform file supplies.
#include "fsys.h"

#include <cerrno>

namespace kwtool::fsys::detail {

std::FILE *write_stream(int fd, const char *created) {
    if (fd < 0) {
        return nullptr;
    }
    std::FILE *f = fd_write_stream(fd);
    if (f == nullptr) {
        const int err = errno;
        close_fd(fd);
        if (created != nullptr) {
            std::remove(created);
        }
        errno = err;
    }
    return f;
}

}  // namespace kwtool::fsys::detail
