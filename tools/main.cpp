// qav: wave conditions at the toe of a dike, from the command line.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

#include "files/file_names.h"
#endif

#include "model/model.h"
#include "qav/version.h"
#include "tools/commands.h"
#include "tools/errors.h"

namespace {

int Run(int argc, const char* const* argv) {
    using namespace qav::cli;
    CLI::App app{"qav " QAV_VERSION_TEXT
                 ": significant wave height, peak period and direction at the toe of a dike,\n"
                 "from a cross-shore profile and offshore conditions."};
    app.name("qav");
    app.require_subcommand(1);
    app.set_version_flag("--version", QAV_VERSION_TEXT);
    app.footer(
        "Examples:\n"
        "  qav run --profile examples/profile.csv --series examples/series.csv --dike-normal 270\n"
        "  qav transect --profile examples/profile.csv --hm0 3.5 --tp 9.7 --wlev 4 --angle 245 --dike-normal "
        "270\n"
        "  qav validate --profile examples/profile.csv\n"
        "Run 'qav COMMAND --help' for the options of a command.");

    int exitCode = ExitSuccess;
    AddRunCommand(app, exitCode, std::vector<std::string>(argv, argv + argc));
    AddTransectCommand(app, exitCode);
    AddValidateCommand(app, exitCode);
    AddProfileCommand(app, exitCode);
    const std::string marchWarning = qav::MarchPathWarning();
    app.add_subcommand("version", "Print the version of qav")->callback([&marchWarning] {
        std::cout << "qav " << QAV_VERSION_TEXT << '\n'
                  << "march path: " << qav::MarchPathInUse() << " (supported:";
        for (const std::string_view name : qav::SupportedMarchPathNames()) std::cout << ' ' << name;
        std::cout << ")\n";
        if (!marchWarning.empty()) std::cout << Printable(marchWarning) << '\n';
    });
    if (!marchWarning.empty()) std::fprintf(stderr, "qav: warning: %s\n", Printable(marchWarning).c_str());

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help and --version end the parse too; they are no errors.
        exitCode = app.exit(e) == 0 ? ExitSuccess : ExitBadInput;
    } catch (const InputError& e) {
        std::fprintf(stderr, "qav: %s\n", Printable(e.what()).c_str());
        exitCode = ExitBadInput;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "qav: out of memory\n");
        exitCode = ExitBadInput;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qav: %s\n", Printable(e.what()).c_str());
        exitCode = ExitBadInput;
    }
    // Whatever a command wrote to standard output is lost when it cannot be
    // written (a full disk, a closed pipe): no command ends as a success then.
    errno = 0;
    std::cout.flush();
    const bool lost = std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || !std::cout;
    if (lost && exitCode != ExitBadInput) {  // else the command has said so
        std::fprintf(stderr, "qav: standard output: writing failed: %s\n",
                     std::strerror(errno != 0 ? errno : EIO));
        return ExitBadInput;
    }
    return exitCode;
}

}  // namespace

#ifdef _WIN32
// The arguments as UTF-8, from the wide command line (wmain, -municode): the
// narrow one holds only what the ANSI code page can say. Messages go to the
// console as UTF-8 too.
int wmain(int argc, wchar_t** wide) {
    try {
        ::SetConsoleOutputCP(CP_UTF8);
        std::vector<std::string> arguments;
        for (int i = 0; i < argc; ++i) arguments.push_back(qav::files::Narrow(wide[i]));
        std::vector<const char*> argv;
        for (const std::string& argument : arguments) argv.push_back(argument.c_str());
        argv.push_back(nullptr);
        return Run(argc, argv.data());
    } catch (...) {
        std::fprintf(stderr, "qav: unexpected failure\n");
        return qav::cli::ExitBadInput;
    }
}
#else
int main(int argc, char** argv) {
    // Help and version texts wait in standard output's buffer until the end,
    // where a failed write is reported with its reason: a write that fails
    // on the way (a text longer than a smaller buffer) leaves none to tell.
    static char buffer[std::size_t{1} << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    try {
        return Run(argc, argv);
    } catch (...) {
        std::fprintf(stderr, "qav: unexpected failure\n");
        return qav::cli::ExitBadInput;
    }
}
#endif
