// kwtool pack and unpack as calls, for their subcommands and the demo.
#ifndef KWTOOL_PACK_CMD_H
#define KWTOOL_PACK_CMD_H

#include <cstdint>
#include <string>

#include "file_io.h"

namespace kwtool {

struct stream_result {
    std::uint64_t in_bytes = 0;
    std::uint64_t out_bytes = 0;
};

// in and out: paths, or "-" for the standard streams. threads: 1 or 2.
// level: 1 (fastest) to 9 (smallest). opts: how out treats an existing
// file (output in file_io.h); the output takes the input's mode and times.
// test_only: verify in completely and write nothing (out is not used).
// Failures throw kwtool::failure with exit status 2.
stream_result pack_stream(const std::string &in, const std::string &out, unsigned threads, int level = 1,
                          const write_options &opts = {});
stream_result unpack_stream(const std::string &in, const std::string &out, unsigned threads,
                            const write_options &opts = {}, bool test_only = false);

}  // namespace kwtool

#endif
