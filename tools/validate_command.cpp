// qav validate: the library's checks of a profile or of a series of offshore
// conditions, without running the model.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include "model/model.h"
#include "tools/commands.h"
#include "tools/errors.h"
#include "tools/model_options.h"

namespace qav::cli {
namespace {

struct ValidateArguments {
    std::string profile;
    std::string series;
    double invalidValue = ModelParameters{}.InvalidValue;
};

int Report(const std::string& path, bool accepted, std::string_view message) {
    std::FILE* stream = accepted ? stdout : stderr;
    std::fprintf(stream, "%s: %s%s%s\n", path.c_str(), accepted ? "accepted" : "refused",
                 message.empty() ? "" : ": ", std::string(message).c_str());
    return accepted ? ExitSuccess : ExitRunFailed;
}

int Validate(const ValidateArguments& args) {
    std::array<char, MessageLength> text{};
    MessageBuffer message(text.data(), text.size());
    int code = ExitSuccess;
    if (!args.profile.empty()) {
        const Profile profile = ReadProfile(args.profile);
        message.Clear();
        const bool accepted = ValidateProfile(profile.x, profile.z, message) == 0;
        code = std::max(code, Report(args.profile, accepted, message.Trimmed()));
    }
    if (!args.series.empty()) {
        const Series series = ReadSeries(args.series);
        message.Clear();
        const int result =
            ValidateSeries(series.hm0, series.tp, series.wlev, series.angle, args.invalidValue, message);
        // A calm step (1) is no fault: the series is accepted, with the note.
        code = std::max(code, Report(args.series, result >= 0, message.Trimmed()));
    }
    return code;
}

}  // namespace

void AddValidateCommand(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<ValidateArguments>();
    CLI::App* command = app.add_subcommand("validate", "Check a profile or a series of offshore conditions");
    command->add_option("--profile", args->profile, "Profile CSV file with columns x,z (m)");
    command->add_option("--series", args->series,
                        "Offshore conditions CSV file with columns hm0,tp,wlev,angle");
    command->add_option("--invalid-value", args->invalidValue, "Marker of a missing value in the series")
        ->capture_default_str();
    command->footer(
        "Examples:\n"
        "  qav validate --profile examples/profile.csv\n"
        "  qav validate --series examples/series.csv\n"
        "Exit code 0 when accepted (a calm series is accepted, with its note), 1 when refused, 2 for bad "
        "input.");
    command->callback([args, &exitCode] {
        if (args->profile.empty() && args->series.empty()) {
            throw CLI::ValidationError("validate", "give --profile FILE or --series FILE");
        }
        exitCode = Validate(*args);
    });
}

}  // namespace qav::cli
