// kwtool: every family of kwutil at the shell. This file only wires the
// subcommands together and turns the outcome into the exit status:
// 0 success, 1 "not found", 2 usage or input errors, with a one-line message
// on standard error for 1 and 2.
#include <cstdio>
#include <exception>
#include <string>

#include "cli.h"

#include "commands.h"
#include "docgen.h"
#include "file_io.h"
#include "fsys.h"

namespace kwtool {

int &exit_status() {
    static int status = kExitOk;
    return status;
}

}  // namespace kwtool

int main(int argc, char **argv) {
    CLI::App app{"kwtool: the kwutil library at the shell -- INI files, message catalogs, ASCII/EBCDIC\n"
                 "translation, RDC packing, scrambling, pattern counts and console input.",
                 "kwtool"};
    app.require_subcommand(1);
    // Options are spelled -x and --name on every host: a value such as
    // /usr/bin/y must stay a value on Windows too. Set before the
    // subcommands are added, which take it from here.
    app.allow_windows_style_options(false);
    app.set_version_flag("-V,--version", "kwtool " KWTOOL_VERSION);
    app.footer("Exit status: 0 success, 1 not found, 2 usage or input error. 'kwtool demo' walks through it all.\n"
               "The manual: man kwtool (" KWTOOL_MANDIR "/man1/kwtool.1 where kwutil is installed); the\n"
               "documents: " KWTOOL_DOCDIR ".");
    kwtool::add_ini_commands(app);
    kwtool::add_msg_commands(app);
    kwtool::add_pack_commands(app);
    kwtool::add_stream_commands(app);
    kwtool::add_demo_command(app);

    // The manual page and the shell completion come from the definitions
    // above, so they cannot drift from what the parser accepts.
    if (argc == 3 && std::string(argv[1]) == "--generate") {
        return kwtool::generate_docs(app, argv[2]);
    }
    kwtool::fsys::install_signal_cleanup();

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &e) {
        return app.exit(e);  // --help at any level
    } catch (const CLI::ParseError &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "kwtool: %s (see --help)\n", e.what());
        return kwtool::kExitBadInput;
    } catch (const kwtool::failure &f) {
        std::fflush(stdout);
        std::fprintf(stderr, "kwtool: %s\n", f.what());
        return f.status();
    } catch (const std::exception &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "kwtool: %s\n", e.what());
        return kwtool::kExitBadInput;
    }
    std::fflush(stdout);
    if (std::ferror(stdout)) {
        std::fprintf(stderr, "kwtool: stdout: write error\n");
        return kwtool::kExitBadInput;
    }
    return kwtool::exit_status();
}
