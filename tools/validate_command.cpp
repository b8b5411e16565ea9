// qav validate: the library's checks of a profile or of a series of offshore
// conditions, without running the model.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "model/model.h"
#include "tools/commands.h"
#include "tools/errors.h"
#include "tools/file_options.h"
#include "tools/model_options.h"
#include "tools/run_notes.h"

namespace qav::cli {
namespace {

struct ValidateArguments {
    std::string profile;
    std::string series;
    ModelOptions model;
    files::CsvOptions csv;
};

// The point at which the check refuses a profile: the end of the shortest
// start of the profile that the check refuses with the same message. The
// check runs its rules one after another over the whole profile, so a start
// that holds no fault of the reported kind holds no fault of an earlier kind
// either, and the search can halve.
std::size_t FirstRefusedPoint(const Profile& profile, std::string_view refusal) {
    std::array<char, MessageLength> text{};
    const auto refusedAt = [&](std::size_t points) {
        MessageBuffer message(text.data(), text.size());
        message.Clear();
        const std::span<const double> x(profile.x.data(), points);
        const std::span<const double> z(profile.z.data(), points);
        return ValidateProfile(x, z, message) != 0 && message.Trimmed() == refusal;
    };
    std::size_t low = 1;
    std::size_t high = profile.x.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (refusedAt(middle)) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

int ValidateProfileFile(const std::string& path, const files::CsvOptions& csv) {
    const Profile profile = files::ReadProfile(path, csv);
    std::array<char, MessageLength> text{};
    MessageBuffer message(text.data(), text.size());
    message.Clear();
    const std::size_t n = profile.x.size();
    if (ValidateProfile(profile.x, profile.z, message) == 0) {
        std::printf("%s: accepted: %zu points\n", Printable(path).c_str(), n);
        return ExitSuccess;
    }
    const std::string refusal(message.Trimmed());
    const std::size_t point = FirstRefusedPoint(profile, refusal);
    std::fprintf(stderr, "%s:%zu: refused: %s (point %zu of %zu)\n", Printable(path).c_str(),
                 profile.lines[point - 1], refusal.c_str(), point, n);
    return ExitRunFailed;
}

// The checks of every time step, one row at a time: the first refused row
// by its line, and the count of refused and calm steps. judge gets every
// row, for the findings a run would make.
int ValidateSeriesFile(const std::string& path, const files::CsvOptions& csv, double invalidValue,
                       const RunInput& setup, RunJudge& judge) {
    files::SeriesReader reader(path, csv);
    files::SeriesBlock rows;
    std::array<char, MessageLength> text{};
    MessageBuffer message(text.data(), text.size());
    std::size_t steps = 0;
    std::size_t refused = 0;
    std::size_t calm = 0;
    std::string firstRefusal;
    std::size_t refusedLine = 0;
    std::size_t refusedStep = 0;
    std::string calmText;
    std::size_t calmLine = 0;
    while (reader.ReadBlock(rows)) {
        RunInput part = setup;
        part.Hm0 = rows.hm0;
        part.Tp = rows.tp;
        part.Wlev = rows.wlev;
        part.IncomingWaveAngle = rows.angle;
        judge.AddSteps(part, steps);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            ++steps;
            const int result = ValidateSeries(std::span(&rows.hm0[i], 1), std::span(&rows.tp[i], 1),
                                              std::span(&rows.wlev[i], 1), std::span(&rows.angle[i], 1),
                                              invalidValue, message);
            if (result < 0 && refused++ == 0) {
                firstRefusal.assign(message.Trimmed());
                refusedLine = rows.lines[i];
                refusedStep = steps;
            } else if (result == 1 && calm++ == 0) {
                calmText.assign(message.Trimmed());
                calmLine = rows.lines[i];
            }
        }
    }
    const std::string calmCount = std::to_string(calm) + " calm";
    if (refused == 0) {
        std::string note;
        if (calm > 0)
            note =
                ", " + calmCount + ": " + calmText + " (the first on line " + std::to_string(calmLine) + ")";
        std::printf("%s: accepted: %zu step%s%s\n", Printable(path).c_str(), steps, steps == 1 ? "" : "s", note.c_str());
        return ExitSuccess;
    }
    std::fprintf(stderr, "%s:%zu: refused: %s (step %zu); %zu of %zu steps refused, %s\n", Printable(path).c_str(),
                 refusedLine, firstRefusal.c_str(), refusedStep, refused, steps, calmCount.c_str());
    return ExitRunFailed;
}

int Validate(const ValidateArguments& args, const CLI::App& command) {
    CheckDamOptions(args.model, command);
    files::CsvOptions csv = args.csv;
    const double invalidValue = args.model.parameters.InvalidValue;
    csv.invalidValue = invalidValue;
    int code = ExitSuccess;
    Profile profile;
    if (!args.profile.empty()) {
        code = std::max(code, ValidateProfileFile(args.profile, csv));
        profile = files::ReadProfile(args.profile, csv);
    }
    // The findings of a run: on the parameters alone, on the series with the
    // profile and the dike normal when they are given.
    const RunInput setup = MakeRunInput(args.model, profile, Series{});
    RunJudge judge(setup, command.count("--dike-normal") != 0);
    if (!args.series.empty())
        code = std::max(code, ValidateSeriesFile(args.series, csv, invalidValue, setup, judge));
    SayFindings("validate", judge);
    return code;
}

}  // namespace

void AddValidateCommand(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<ValidateArguments>();
    CLI::App* command = app.add_subcommand("validate", "Check a profile or a series of offshore conditions");
    command->add_option("--profile", args->profile, "Profile CSV file with columns x,z (m)");
    command->add_option("--series", args->series,
                        "Offshore conditions CSV file with columns hm0,tp,wlev,angle");
    AddModelOptions(*command, args->model, false);
    AddFileOptions(*command, args->csv, files::InputColumns, true);
    command->footer(
        "Examples:\n"
        "  qav validate --profile examples/profile.csv\n"
        "  qav validate --series examples/series.csv\n"
        "  qav validate --profile examples/profile.csv --series examples/series.csv --dike-normal 270\n"
        "A refusal names the line of the first refused point or time step; a series is\n"
        "reported with its count of steps, refused steps and calm ones. Inputs no sea produces\n"
        "(the findings of qav run) are warnings; those on directions need --dike-normal, those\n"
        "on water levels and depths --profile as well.\n"
        "Exit code 0 when accepted (a calm series is accepted, with its note), 1 when refused, 2 for bad "
        "input.");
    command->callback([args, command, &exitCode] {
        if (args->profile.empty() && args->series.empty()) {
            throw CLI::ValidationError("validate", "give --profile FILE or --series FILE");
        }
        exitCode = Validate(*args, *command);
    });
}

}  // namespace qav::cli
