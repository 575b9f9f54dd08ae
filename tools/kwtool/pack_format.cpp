#include "pack_format.h"

#include <cstring>
#include <new>
#include <xxhash.h>

#include "kwutil.h"

namespace kwtool::pack {

namespace {

constexpr std::size_t kRdcWorkSlots = 4096;  // the hash table RDC keeps in the work area

void put_be(unsigned char *out, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out[i] = static_cast<unsigned char>(v & 0xFF);
        v >>= 8;
    }
}

std::uint64_t get_be(const unsigned char *in, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        v = (v << 8) | in[i];
    }
    return v;
}

}  // namespace

void write_file_header(unsigned char *out) {
    std::memcpy(out, kMagic, sizeof kMagic);
    out[4] = kVersion;
    out[5] = 0;  // flags
    out[6] = 0;
    out[7] = 0;
}

std::optional<std::string> check_file_header(const unsigned char *in, std::size_t have) {
    if (have < sizeof kMagic || std::memcmp(in, kMagic, sizeof kMagic) != 0) {
        return std::string("not a kwtool pack file (no KWPK signature)");
    }
    if (have < kFileHeaderSize) {
        return std::string("truncated: the file ends inside its header");
    }
    if (in[4] != kVersion) {
        return "pack format version " + std::to_string(in[4]) + " is not supported (this kwtool reads version 1)";
    }
    if (in[5] != 0 || in[6] != 0 || in[7] != 0) {
        return std::string("damaged header: flags or reserved bytes are set");
    }
    return std::nullopt;
}

void encode_header(const block_header &h, unsigned char *out) {
    out[0] = h.kind;
    put_be(out + 1, h.size, 2);
    put_be(out + 3, h.stored, 2);
    put_be(out + 5, h.check, 4);
}

block_header decode_header(const unsigned char *in) {
    block_header h;
    h.kind = in[0];
    h.size = static_cast<std::uint16_t>(get_be(in + 1, 2));
    h.stored = static_cast<std::uint16_t>(get_be(in + 3, 2));
    h.check = static_cast<std::uint32_t>(get_be(in + 5, 4));
    return h;
}

void encode_trailer(std::uint64_t length, std::uint64_t checksum, unsigned char *out) {
    put_be(out, length, 8);
    put_be(out + 8, checksum, 8);
}

void decode_trailer(const unsigned char *in, std::uint64_t &length, std::uint64_t &checksum) {
    length = get_be(in, 8);
    checksum = get_be(in + 8, 8);
}

std::uint32_t block_check(const unsigned char *data, std::size_t n) {
    return static_cast<std::uint32_t>(XXH3_64bits(data, n) & 0xFFFFFFFFu);
}

block_encoder::block_encoder(int level) : work_(new void *[kRdcWorkSlots]), level_(level) {}
block_encoder::~block_encoder() = default;

// Incompressible data costs the parse most of the block before it gives up.
// Three slices from the start, the middle and the end stand for the block:
// when not one of them shrinks, the block is stored without the whole parse.
bool block_encoder::looks_incompressible(const unsigned char *in, std::size_t n, unsigned char *scratch) {
    constexpr std::size_t kSlice = 4096;
    if (n < 4 * kSlice) {
        return false;
    }
    for (const std::size_t at : {std::size_t{0}, (n - kSlice) / 2, n - kSlice}) {
        if (KW_RdcCompress(in + at, kSlice, scratch, work_.get()) < kSlice) {
            return false;
        }
    }
    return true;
}

std::size_t block_encoder::encode(const unsigned char *in, std::size_t n, unsigned char *out) {
    block_header h;
    h.size = static_cast<std::uint16_t>(n);
    h.check = block_check(in, n);
    unsigned char *data = out + kBlockHeaderSize;
    const std::uint16_t packed =
        looks_incompressible(in, n, data) ? 0 : KW_RdcCompressLevel(in, h.size, data, work_.get(), level_);
    // A result equal to the input's length may be a copy or a stream of that
    // length: both are stored as the input itself, as is a block that looked
    // incompressible and the (impossible with our own work area) 0 of a
    // failed allocation.
    if (packed != 0 && packed < n) {
        h.kind = kKindRdc;
        h.stored = packed;
    } else {
        h.kind = kKindStored;
        h.stored = h.size;
        std::memcpy(data, in, n);
    }
    encode_header(h, out);
    return kBlockHeaderSize + h.stored;
}

std::optional<std::string> validate_header(const block_header &h) {
    if (h.kind != kKindStored && h.kind != kKindRdc) {
        return "unknown block kind " + std::to_string(h.kind);
    }
    if (h.size == 0) {
        return std::string("empty block");
    }
    if (h.kind == kKindStored && h.stored != h.size) {
        return std::string("stored block whose two lengths differ");
    }
    if (h.kind == kKindRdc && (h.stored < 2 || h.stored >= h.size)) {
        return std::string("compressed block no smaller than its content");
    }
    return std::nullopt;
}

std::optional<std::string> decode_block(const block_header &h, const unsigned char *data, unsigned char *out) {
    if (auto why = validate_header(h)) {
        return why;
    }
    if (h.kind == kKindStored) {
        std::memcpy(out, data, h.size);
    } else {
        // Bounded by the recorded length: a stream that would write more is
        // refused, not trusted.
        const std::int32_t n = KW_RdcDecompressBound(data, h.stored, out, h.size);
        if (n < 0) {
            return std::string("damaged compressed data");
        }
        if (n != h.size) {
            return "compressed data expands to " + std::to_string(n) + " bytes, not " + std::to_string(h.size);
        }
    }
    if (block_check(out, h.size) != h.check) {
        return std::string("content does not match its check");
    }
    return std::nullopt;
}

content_hash::content_hash() : state_(XXH3_createState()) {
    if (state_ == nullptr) {
        throw std::bad_alloc();
    }
    XXH3_64bits_reset(static_cast<XXH3_state_t *>(state_));
}

content_hash::~content_hash() { XXH3_freeState(static_cast<XXH3_state_t *>(state_)); }

void content_hash::update(const unsigned char *data, std::size_t n) {
    XXH3_64bits_update(static_cast<XXH3_state_t *>(state_), data, n);
}

std::uint64_t content_hash::digest() const { return XXH3_64bits_digest(static_cast<XXH3_state_t *>(state_)); }

}  // namespace kwtool::pack
