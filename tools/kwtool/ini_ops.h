// The INI operations behind kwtool ini and the demo. Each one works on an
// open kw::ini_file and throws kwtool::failure (status 1 for "not found",
// 2 for bad input) with a message that names the file.
#ifndef KWTOOL_INI_OPS_H
#define KWTOOL_INI_OPS_H

#include <cstdint>
#include <string>
#include <vector>

#include "kwutil.hpp"

namespace kwtool::ini_ops {

// Every line kept (mode 2) so that line numbers are those of the file; a
// file that cannot be opened for writing is read in mode 1 instead, which
// drops comment and empty lines.
kw::ini_file open_for_reading(const std::string &path);
kw::ini_file open_for_editing(const std::string &path);

std::string get(kw::ini_file &f, const std::string &path, const std::string &section, const std::string &key);
std::vector<std::string> tokens(kw::ini_file &f, const std::string &path, const std::string &section,
                                const std::string &key);

struct listed_line {
    std::uint16_t number;
    std::string type;  // "comment", "section", "key"
    std::string text;  // without its line end
};
std::vector<listed_line> list(kw::ini_file &f);

// What set did, for the demo's report.
enum class set_effect { replaced, inserted, appended_section };
set_effect set(kw::ini_file &f, const std::string &path, const std::string &section, const std::string &key,
               const std::string &value);
// The number of the line deleted.
std::uint16_t del(kw::ini_file &f, const std::string &path, const std::string &section, const std::string &key);
void write_back(kw::ini_file &f, const std::string &path);

}  // namespace kwtool::ini_ops

#endif
