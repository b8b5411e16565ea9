#pragma once

namespace CLI {
class App;
}

namespace qav::cli {

// Each Add*Command registers a subcommand whose callback stores the program's
// exit code in exitCode. Callbacks throw InputError for input they cannot use.
void AddRunCommand(CLI::App& app, int& exitCode);
void AddTransectCommand(CLI::App& app, int& exitCode);
void AddValidateCommand(CLI::App& app, int& exitCode);
void AddProfileCommand(CLI::App& app, int& exitCode);

} // namespace qav::cli
