#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace qav::cli {

// Each Add*Command registers a subcommand whose callback stores the program's
// exit code in exitCode. Callbacks throw InputError for input they cannot use.
// The run command's report shows commandLine, the program's own words.
void AddRunCommand(CLI::App& app, int& exitCode, std::vector<std::string> commandLine = {});
void AddTransectCommand(CLI::App& app, int& exitCode);
void AddValidateCommand(CLI::App& app, int& exitCode);
void AddProfileCommand(CLI::App& app, int& exitCode);

} // namespace qav::cli
