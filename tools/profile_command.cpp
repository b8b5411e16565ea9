// qav profile: a profile as measured, checked and said in words what keeps
// the model from taking it, turned round, cut at the toe and smoothed where
// asked, and written as the profile the model then takes.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "files/csv_writer.h"
#include "model/model.h"
#include "tools/commands.h"
#include "tools/errors.h"
#include "tools/file_options.h"
#include "tools/model_options.h"
#include "tools/output_file.h"

namespace qav::cli {
namespace {

// The steepest segment the model takes, and the one smoothing works to.
constexpr double SlopeLimit = 0.1;

struct ProfileArguments {
    std::string profile;
    std::string output;
    bool reverse = false;
    bool smooth = false;
    double toeX = 0.0;
    files::CsvOptions csv;
    OutputOptions table;
};

std::string Number(double value) { return files::FormatNumber(value); }

// The profile turned round, so that x grows from the sea (the deep end) to
// the dike: rows listed from the dike to the sea are put in order; a profile
// whose x grows towards the sea is mirrored (x' = largest x - x).
void Reverse(Profile& profile) {
    const std::size_t n = profile.x.size();
    const auto sortBy = [&profile, n](const std::vector<double>& key) {
        std::vector<std::size_t> order(n);
        for (std::size_t i = 0; i < n; ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&key](std::size_t a, std::size_t b) { return key[a] < key[b]; });
        Profile sorted = profile;
        for (std::size_t i = 0; i < n; ++i) {
            sorted.x[i] = key[order[i]];
            sorted.z[i] = profile.z[order[i]];
            sorted.lines[i] = profile.lines[order[i]];
        }
        return sorted;
    };
    Profile listed = sortBy(profile.x);
    if (!std::is_sorted(profile.x.begin(), profile.x.end()) && listed.z.front() < listed.z.back()) {
        profile = std::move(listed);
        return;
    }
    const double largest = *std::max_element(profile.x.begin(), profile.x.end());
    std::vector<double> mirrored(n);
    for (std::size_t i = 0; i < n; ++i) mirrored[i] = largest - profile.x[i];
    profile = sortBy(mirrored);
}

// The profile up to the toe at x = toe, with a point there interpolated.
void CutAtToe(Profile& profile, double toe) {
    const std::vector<double>& x = profile.x;
    if (x.empty() || toe <= x.front() || toe > x.back() || !std::is_sorted(x.begin(), x.end())) {
        throw InputError("--toe-x " + Number(toe) + " lies outside the profile (x from " + Number(x.front()) +
                         " to " + Number(x.back()) + ", increasing)");
    }
    const std::size_t after = static_cast<std::size_t>(std::lower_bound(x.begin(), x.end(), toe) - x.begin());
    const double z = x[after] == toe ? profile.z[after]
                                     : profile.z[after - 1] + (profile.z[after] - profile.z[after - 1]) *
                                                                  (toe - x[after - 1]) / (x[after] - x[after - 1]);
    profile.x.resize(after + 1);
    profile.z.resize(after + 1);
    profile.lines.resize(after + 1);
    profile.x[after] = toe;
    profile.z[after] = z;
}

bool Steep(const Profile& p, std::size_t i) {
    return std::fabs(p.z[i + 1] - p.z[i]) / (p.x[i + 1] - p.x[i]) > SlopeLimit;
}

// Every segment at most 1:10, changed as little as needed: only the two ends
// of a steeper segment are touched, each replaced by a 1-2-1 average with its
// neighbours, until none is steeper. The first and last points stay.
std::size_t Smooth(Profile& profile) {
    std::vector<double>& z = profile.z;
    const std::vector<double> measured = z;
    for (int round = 0; round < 1000; ++round) {
        std::vector<bool> touch(z.size(), false);
        bool steep = false;
        for (std::size_t i = 0; i + 1 < z.size(); ++i) {
            if (!Steep(profile, i)) continue;
            steep = true;
            touch[i] = touch[i + 1] = true;
        }
        if (!steep) {
            std::size_t changed = 0;
            for (std::size_t i = 0; i < z.size(); ++i) changed += z[i] != measured[i] ? 1 : 0;
            return changed;
        }
        std::vector<double> smoothed = z;
        for (std::size_t j = 1; j + 1 < z.size(); ++j) {
            if (touch[j]) smoothed[j] = 0.25 * z[j - 1] + 0.5 * z[j] + 0.25 * z[j + 1];
        }
        if (smoothed == z) break;
        z = smoothed;
    }
    std::size_t i = 0;
    while (i + 1 < z.size() && !Steep(profile, i)) ++i;
    throw InputError("the profile cannot be brought within 1:10 by smoothing its steep segments alone: the segment "
                     "from x " + Number(profile.x[i]) + " to " + Number(profile.x[i + 1]) +
                     " stays steeper (too few points around it, or a step at the first or last point)");
}

std::string Where(const Profile& p, std::size_t i) {
    return "point " + std::to_string(i + 1) + " (line " + std::to_string(p.lines[i]) + ", x " + Number(p.x[i]) + ")";
}

// What keeps the model from taking the profile, in words; empty when nothing.
std::string Explain(const Profile& p) {
    const std::size_t n = p.x.size();
    const auto& x = p.x;
    const auto& z = p.z;
    for (std::size_t i = 1; i < n; ++i) {
        if (x[i] > x[i - 1]) continue;
        if (std::is_sorted(x.rbegin(), x.rend(), std::less_equal<>())) {
            return "x decreases from the first point to the last, and it must grow from the sea to the dike; "
                   "--reverse turns the profile round";
        }
        return "x does not increase at " + Where(p, i) + " after " + Number(x[i - 1]) +
               ": the points must run from the sea to the dike, each further on";
    }
    const std::size_t lowest = static_cast<std::size_t>(std::min_element(z.begin(), z.end()) - z.begin());
    if (z[lowest] < z[0]) {
        const std::size_t positive = static_cast<std::size_t>(std::count_if(z.begin(), z.end(), [](double v) { return v > 0; }));
        const bool highestFirst = std::max_element(z.begin(), z.end()) == z.begin();
        if (highestFirst && 2 * positive > n) {
            return "z is positive and largest at the first point: depths given instead of levels? z is the bottom "
                   "level in the datum of the water level, negative under water";
        }
        if (lowest == n - 1) {
            return "the bed falls all the way to the last point: the profile runs landward-to-sea (x grows "
                   "towards the sea); --reverse turns it round";
        }
        return Where(p, lowest) + " at z " + Number(z[lowest]) + " lies below the first point (z " + Number(z[0]) +
               "): the profile must start at its deepest point offshore";
    }
    std::size_t steep = 0;
    std::size_t first = 0;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        if (Steep(p, i) && steep++ == 0) first = i;
    }
    if (steep > 0) {
        const double slope = (x[first + 1] - x[first]) / std::fabs(z[first + 1] - z[first]);
        return std::to_string(steep) + " segment" + (steep == 1 ? " is" : "s are") + " steeper than 1:10, the first " +
               "from " + Where(p, first) + " to x " + Number(x[first + 1]) + " (1:" + Number(std::round(slope * 10) / 10) +
               "); --smooth flattens only such segments";
    }
    return {};
}

int RunProfile(const ProfileArguments& args, const CLI::App& command) {
    const NamedFile named[] = {{"--profile", args.profile, false}, {"-o", args.output, true}};
    CheckNamedFiles(named);
    Profile profile = files::ReadProfile(args.profile, args.csv);
    if (args.reverse) Reverse(profile);
    if (command.count("--toe-x") != 0) CutAtToe(profile, args.toeX);
    std::size_t smoothed = 0;
    if (args.smooth) {
        const std::string before = Explain(profile);
        if (!before.empty() && !before.ends_with("--smooth flattens only such segments")) {
            throw InputError(args.profile + ": " + before);
        }
        smoothed = Smooth(profile);
    }
    std::array<char, MessageLength> text{};
    MessageBuffer message(text.data(), text.size());
    message.Clear();
    if (ValidateProfile(profile.x, profile.z, message) != 0) {
        const std::string words = Explain(profile);
        std::fprintf(stderr, "qav profile: %s: refused: %s%s%s\n", args.profile.c_str(),
                     std::string(message.Trimmed()).c_str(), words.empty() ? "" : "; ", words.c_str());
        return ExitRunFailed;
    }
    const files::TableFormat format = OutputFormat(args.table, profile.format);
    std::string out = format.byteOrderMark ? "\xEF\xBB\xBF" : "";
    out += "x";
    out += format.separator;
    out += "z";
    out += format.lineEnd;
    for (std::size_t i = 0; i < profile.x.size(); ++i) {
        files::AppendNumber(out, profile.x[i], format);
        out += format.separator;
        files::AppendNumber(out, profile.z[i], format);
        out += format.lineEnd;
    }
    OutputFile output(args.output);
    output.Write(out);
    output.Commit();
    std::fprintf(stderr, "qav profile: %zu points accepted%s\n", profile.x.size(),
                 args.smooth ? (", " + std::to_string(smoothed) + " of them smoothed").c_str() : "");
    return ExitSuccess;
}

}  // namespace

void AddProfileCommand(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<ProfileArguments>();
    CLI::App* command = app.add_subcommand(
        "profile", "A profile as measured: what keeps the model from it, in words; turned, cut and smoothed as asked");
    command->add_option("profile", args->profile, "Profile CSV file with columns x,z (m)")->required();
    command->add_option("-o,--output", args->output,
                        "Write the profile the model takes to this file (default: standard output)");
    command->add_flag("--reverse", args->reverse,
                      "Turn the profile round: points listed from the dike to the sea, or x growing towards the sea");
    command->add_option("--toe-x", args->toeX, "Cut the profile at the dike toe at this x (m), interpolating a point there");
    command->add_flag("--smooth", args->smooth,
                      "Flatten the segments steeper than 1:10, and only those, by 1-2-1 averages of their end points");
    AddFileOptions(*command, args->csv, files::ProfileColumns, false);
    AddOutputOptions(*command, args->table);
    command->footer(
        "Example:\n"
        "  qav profile survey.csv --reverse --toe-x 1850 --smooth -o profile.csv\n"
        "The steps run in this order: --reverse, --toe-x, --smooth. Exit code 0 when the model takes the\n"
        "profile (it is written), 1 when it refuses it (standard error says why, in words), 2 for a usage\n"
        "error or a file that cannot be read.");
    command->callback([args, command, &exitCode] { exitCode = RunProfile(*args, *command); });
}

}  // namespace qav::cli
