// Files read as bytes, whole: what the catalog loader needs of the host.
#ifndef KW_PLATFORM_FILE_H
#define KW_PLATFORM_FILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace kw::plat {

// A file opened for reading in binary mode, closed when the object goes.
// Not copyable; one thread at a time.
class InFile {
public:
    explicit InFile(const char *path) noexcept;
    ~InFile();
    InFile(const InFile &) = delete;
    InFile &operator=(const InFile &) = delete;

    // False when the file could not be opened; every other call then fails.
    bool is_open() const noexcept { return f_ != nullptr; }

    // The file's length in bytes, with the position put back at its start;
    // -1 when the length cannot be learnt.
    std::int64_t length() noexcept;

    // Read exactly n bytes from the current position into buf. False when
    // fewer are left or the read fails; buf then holds nothing meaningful.
    bool read(void *buf, std::size_t n) noexcept;

private:
    std::FILE *f_;
};

}  // namespace kw::plat

#endif
