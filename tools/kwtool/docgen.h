// kwtool --generate man|bash: the manual page (roff) and the bash
// completion script, written from the parser's own definitions. The build
// runs it for the installed copies; a test keeps the checked-in ones (used
// where the build cannot run kwtool) identical to them.
#ifndef KWTOOL_DOCGEN_H
#define KWTOOL_DOCGEN_H

#include <string>

namespace CLI {
class App;
}

namespace kwtool {

// Print the document named what ("man" or "bash") on standard output;
// returns the exit status.
int generate_docs(const CLI::App &app, const std::string &what);

}  // namespace kwtool

#endif
