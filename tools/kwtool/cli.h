// CLI11, the argument parser. GCC 12 reports a null dereference that cannot
// happen inside the std::string code that CLI11's helpers inline into every
// file that includes it; the report is silenced for these headers only.
#ifndef KWTOOL_CLI_H
#define KWTOOL_CLI_H

#include "platform/compiler.h"

KW_WARNING_OFF("-Wnull-dereference")
#include <CLI/CLI.hpp>
KW_WARNING_ON()

#endif
