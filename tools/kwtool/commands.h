// Each file of kwtool adds its subcommands to the application here; main.cpp
// only wires them together and turns failures into exit statuses.
#ifndef KWTOOL_COMMANDS_H
#define KWTOOL_COMMANDS_H

namespace CLI {
class App;
}

namespace kwtool {

void add_ini_commands(CLI::App &app);
void add_msg_commands(CLI::App &app);
void add_pack_commands(CLI::App &app);
void add_stream_commands(CLI::App &app);
void add_demo_command(CLI::App &app);

// The status a subcommand asks main to exit with when it ends without a
// failure (0, or 1 for "not found" answers printed in full).
int &exit_status();

}  // namespace kwtool

#endif
