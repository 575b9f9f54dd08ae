// The sequences of fs.h that are the same on every host, over the host's
// own steps (fs_host.h): the order of flush, reservation, cut and sync is
// what makes a failure show before any byte of the old file is lost.
#include "platform/fs.h"

#include "platform/fs_host.h"

namespace kw::plat {

bool put_text(std::FILE *f, const char *text) noexcept {
    return std::fputs(text, f) != EOF;
}

bool commit_file(std::FILE *f) noexcept {
    const bool synced = std::fflush(f) == 0 && host::sync_stream(f, true);
    const bool closed = std::fclose(f) == 0;
    return synced && closed;
}

void close_file(std::FILE *f) noexcept {
    std::fclose(f);
}

bool start_rewrite(std::FILE *f, bool regular, std::size_t bytes, std::size_t line_ends) noexcept {
    static_cast<void>(std::fflush(f));  // output of a failed attempt is stale either way
    std::clearerr(f);
    if (regular && !host::reserve_room(f, bytes, line_ends)) {
        return false;
    }
    if (std::fseek(f, 0, SEEK_SET) != 0 && !host::unseekable(regular)) {
        return false;
    }
    std::clearerr(f);
    return true;
}

bool finish_rewrite(std::FILE *f, bool regular) noexcept {
    if (std::fflush(f) != 0) {
        return false;
    }
    if (regular && !host::cut_here(f)) {
        return false;
    }
    if (!host::sync_stream(f, regular)) {
        return false;
    }
    if (std::fseek(f, 0, SEEK_SET) != 0 && regular) {
        return false;
    }
    return true;
}

}  // namespace kw::plat
