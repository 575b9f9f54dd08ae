// The framed file format of kwtool pack (docs/pack-format.md): a file
// header, blocks of at most 65,535 bytes of content each, stored or RDC
// compressed, and an end marker with the content's length and checksum.
// This file holds the layout and the work on one block; pack_cmd.cpp drives
// the streams.
#ifndef KWTOOL_PACK_FORMAT_H
#define KWTOOL_PACK_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kwtool::pack {

inline constexpr unsigned char kMagic[4] = {'K', 'W', 'P', 'K'};
inline constexpr unsigned char kVersion = 1;
inline constexpr std::size_t kFileHeaderSize = 8;   // magic, version, flags, 2 reserved
inline constexpr std::size_t kBlockHeaderSize = 9;  // kind, size, stored size, check
inline constexpr std::size_t kTrailerSize = 16;     // content length, content checksum
inline constexpr std::size_t kBlockSize = 65535;    // content bytes of a full block

// Block kinds.
inline constexpr unsigned char kKindEnd = 0;
inline constexpr unsigned char kKindStored = 1;
inline constexpr unsigned char kKindRdc = 2;

struct block_header {
    unsigned char kind = kKindEnd;
    std::uint16_t size = 0;    // content bytes, 1 to 65,535
    std::uint16_t stored = 0;  // bytes that follow the header
    std::uint32_t check = 0;   // low 32 bits of the content's XXH3-64
};

void write_file_header(unsigned char *out);
// nullopt for a header this version reads, else why not.
std::optional<std::string> check_file_header(const unsigned char *in, std::size_t have);

void encode_header(const block_header &h, unsigned char *out);
block_header decode_header(const unsigned char *in);

void encode_trailer(std::uint64_t length, std::uint64_t checksum, unsigned char *out);
void decode_trailer(const unsigned char *in, std::uint64_t &length, std::uint64_t &checksum);

// The check of one block's content.
std::uint32_t block_check(const unsigned char *data, std::size_t n);

// Compresses blocks at one RDC level (1 to 9; 1 is the fast greedy parse);
// one per thread, since it owns the RDC work area.
class block_encoder {
public:
    explicit block_encoder(int level = 1);
    ~block_encoder();
    block_encoder(const block_encoder &) = delete;
    block_encoder &operator=(const block_encoder &) = delete;

    // Write the header and data of a block of 1 to 65,535 content bytes to
    // out (room for kBlockHeaderSize + n bytes); returns the bytes written.
    // A block whose samples do not shrink is stored without being parsed
    // whole; every block written compressed is the library's exact stream.
    std::size_t encode(const unsigned char *in, std::size_t n, unsigned char *out);

private:
    bool looks_incompressible(const unsigned char *in, std::size_t n, unsigned char *scratch);

    std::unique_ptr<void *[]> work_;
    int level_;
};

// Check a block header against the format and expand its data into out
// (room for 65,535 bytes), verifying the content's check. nullopt when the
// block is sound, else what is wrong with it.
std::optional<std::string> validate_header(const block_header &h);
std::optional<std::string> decode_block(const block_header &h, const unsigned char *data, unsigned char *out);

// Streaming XXH3-64 over the whole content.
class content_hash {
public:
    content_hash();
    ~content_hash();
    content_hash(const content_hash &) = delete;
    content_hash &operator=(const content_hash &) = delete;
    void update(const unsigned char *data, std::size_t n);
    std::uint64_t digest() const;

private:
    void *state_;
};

}  // namespace kwtool::pack

#endif
