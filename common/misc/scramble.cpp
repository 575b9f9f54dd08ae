// KW_crbrk and KW_dcprc: the reversible in-place scrambler.
//
// Key schedule. Each call copies one of the 64 key strings of xk
// (scramble_keys.h) into an 80-byte working key, cryptext, and walks it with
// an index, crypt_ptr, that advances by one per buffer byte and wraps at the
// key's length. Buffer byte i is XORed with the keystream byte
//
//   cryptext[crypt_ptr] ^ low8(cryptext[0] * crypt_ptr)
//
// and then the working key moves on: cryptext[crypt_ptr] += the following key
// byte (cryptext[0] after the last one), mod 256, with a 0 replaced by 1 so
// that the key keeps its length. The keystream depends only on the starting
// key and index, never on the data, so running crpt twice from the same start
// restores the buffer.
//
// Buffer bytes 0 and 39 are the exception: they are XORed with keymask only,
// which is the short mask for buffers under 40 bytes and the long mask
// otherwise. That keeps them recoverable before anything is undone, and
// they choose the key: the string is (byte 39, or byte 0 under 40 bytes,
// XOR keymask) mod 64 of the plain buffer, the start index (byte 0 XOR the
// start mask) mod the key's length. KW_dcprc reads the same values from the
// scrambled bytes, in which the XOR with keymask is already made.
#include <cstdint>
#include <cstring>

#include "kwutil.h"
#include "misc/scramble_keys.h"

namespace kw::misc {
namespace {

// Apply the keystream that starts at cryptext / crypt_ptr to pBuf. cryptext
// holds crypt_length (>= 1) non-zero bytes and is changed as the key moves.
void crpt(unsigned char *pBuf, std::uint32_t bufsize, unsigned char keymask, unsigned char *cryptext,
          std::uint32_t crypt_ptr, std::uint32_t crypt_length) noexcept {
    const std::uint32_t last = crypt_length - 1;
    for (std::uint32_t i = 0; i < bufsize; ++i) {
        const unsigned key = cryptext[crypt_ptr];
        if (i == 0 || i == 39) {
            pBuf[i] = static_cast<unsigned char>(pBuf[i] ^ keymask);
        } else {
            pBuf[i] = static_cast<unsigned char>(pBuf[i] ^ key ^ ((cryptext[0] * crypt_ptr) & 0xFFu));
        }
        const unsigned next = crypt_ptr == last ? cryptext[0] : cryptext[crypt_ptr + 1];
        const unsigned sum = (key + next) & 0xFFu;
        cryptext[crypt_ptr] = static_cast<unsigned char>(sum == 0 ? 1 : sum);
        crypt_ptr = crypt_ptr == last ? 0 : crypt_ptr + 1;
    }
}

enum class Direction { scramble, restore };

void scramble(unsigned char *buffer, std::uint32_t bufsize, Direction dir) noexcept {
    if (bufsize == 0) {
        return;
    }
    const bool is_short = bufsize < 40;
    const unsigned char keymask = is_short ? kShortMask : kLongMask;
    const unsigned char selector = buffer[is_short ? 0 : 39];
    // Scrambling has already XORed bytes 0 and 39 with keymask; restoring
    // reads them as they are.
    const unsigned ixkey = (dir == Direction::scramble ? selector ^ keymask : selector) % kKeyCount;
    const unsigned char start = dir == Direction::scramble ? buffer[0] : static_cast<unsigned char>(buffer[0] ^ keymask);

    unsigned char cryptext[80];
    const std::uint32_t crypt_length = static_cast<std::uint32_t>(xk_offset[ixkey + 1] - xk_offset[ixkey] - 1);
    std::memcpy(cryptext, xk_pool + xk_offset[ixkey], crypt_length + 1);
    const std::uint32_t crypt_ptr = static_cast<std::uint32_t>(start ^ kStartMask) % crypt_length;
    crpt(buffer, bufsize, keymask, cryptext, crypt_ptr, crypt_length);
}

}  // namespace
}  // namespace kw::misc

extern "C" KW_API void KW_crbrk(unsigned char *buffer, uint32_t bufsize) {
    kw::misc::scramble(buffer, bufsize, kw::misc::Direction::scramble);
}

extern "C" KW_API void KW_dcprc(unsigned char *buffer, uint32_t bufsize) {
    kw::misc::scramble(buffer, bufsize, kw::misc::Direction::restore);
}
