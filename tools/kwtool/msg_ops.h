// The catalog operations behind kwtool msg and the demo. Failures throw
// kwtool::failure naming the file (and the line, for sources).
#ifndef KWTOOL_MSG_OPS_H
#define KWTOOL_MSG_OPS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "file_io.h"

namespace kwtool::msg_ops {

struct compiled {
    std::size_t messages = 0;
    std::size_t bytes = 0;
};
// Every faulty line of the source goes to standard error as
// "SOURCE:LINE:COLUMN: cause", then a failure gives their number. With
// check_only nothing is written and catalog is not used; opts: how the
// catalog treats an existing file (output in file_io.h).
compiled compile_file(const std::string &source, const std::string &catalog, bool ebcdic,
                      const write_options &opts = {}, bool check_only = false);

std::string dump_file(const std::string &catalog);

struct formatted {
    std::string text;        // in ASCII unless raw was asked for
    bool found = true;       // false: the not-found entry stands in for the number
    std::string key;         // the key asked for
    bool ebcdic = false;     // the catalog's encoding
};
// Each argument is taken as a number or a text by the specifier of its
// position; a %c argument of one character is that character.
formatted format(const std::string &catalog, const std::string &appid, std::uint16_t number,
                 const std::vector<std::string> &args, bool strip_key, bool raw);

}  // namespace kwtool::msg_ops

#endif
