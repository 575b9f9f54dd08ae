// kwtool pack and unpack as calls, for their subcommands and the demo.
#ifndef KWTOOL_PACK_CMD_H
#define KWTOOL_PACK_CMD_H

#include <string>

namespace kwtool {

// in and out: paths, or "-" for the standard streams. threads: 1 or 2.
// Failures throw kwtool::failure with exit status 2.
void pack_stream(const std::string &in, const std::string &out, unsigned threads);
void unpack_stream(const std::string &in, const std::string &out, unsigned threads);

}  // namespace kwtool

#endif
