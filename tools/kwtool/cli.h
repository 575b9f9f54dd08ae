// CLI11, the argument parser. GCC 12 reports a null dereference that cannot
// happen inside the std::string code that CLI11's helpers inline into every
// file that includes it; the report is silenced for these headers only.
#ifndef KWTOOL_CLI_H
#define KWTOOL_CLI_H

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnull-dereference"
#endif
#include <CLI/CLI.hpp>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif
