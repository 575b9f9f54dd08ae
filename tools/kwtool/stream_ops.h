// The buffer utilities over streams, shared by their subcommands and the
// demo. Failures throw kwtool::failure.
#ifndef KWTOOL_STREAM_OPS_H
#define KWTOOL_STREAM_OPS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "file_io.h"

namespace kwtool::stream_ops {

// The scrambler's buffer: a stream is scrambled and restored in chunks of
// this size, the last one shorter.
inline constexpr std::size_t kScrambleChunk = 65536;

// Both return the bytes read and written; opts: how out treats what is
// there (output in file_io.h).
std::pair<std::uint64_t, std::uint64_t> translate(const std::string &in, const std::string &out, bool to_ebcdic,
                                                  const write_options &opts = {});
std::pair<std::uint64_t, std::uint64_t> scramble(const std::string &in, const std::string &out, bool restore,
                                                 const write_options &opts = {});
std::uint64_t count(const std::string &pattern, const std::string &in);
std::string read_line(std::uint32_t max);

}  // namespace kwtool::stream_ops

#endif
