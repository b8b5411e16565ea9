// Runs the library's own driver, qav::RollerModel5, on a profile and a series
// and prints its results in the layout of `qav run`, so that a test can
// compare the two. Numbers as %.17g, the return code and the run's message
// on the last line.
//
// usage: reference_run PROFILE SERIES DIKE_NORMAL DAM_TYPE DAM_HEIGHT
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "model/model.h"

namespace {

// Rows of comma-separated numbers below a header; '#' lines and blank lines skipped.
std::vector<std::vector<double>> ReadRows(const char* path) {
    std::ifstream file(path);
    std::vector<std::vector<double>> rows;
    std::string line;
    bool header = true;
    while (std::getline(file, line)) {
        if (line.find_first_not_of(" \t\r") == std::string::npos || line[line.find_first_not_of(" \t")] == '#')
            continue;
        if (header) {
            header = false;
            continue;
        }
        std::vector<double> row;
        std::stringstream fields(line);
        std::string field;
        while (std::getline(fields, field, ',')) row.push_back(std::strtod(field.c_str(), nullptr));
        rows.push_back(row);
    }
    return rows;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s PROFILE SERIES DIKE_NORMAL DAM_TYPE DAM_HEIGHT\n", argv[0]);
        return 2;
    }
    const auto profile = ReadRows(argv[1]);
    const auto series = ReadRows(argv[2]);
    std::vector<double> x, z, hm0, tp, wlev, angle;
    for (const auto& row : profile) {
        x.push_back(row.at(0));
        z.push_back(row.at(1));
    }
    for (const auto& row : series) {
        hm0.push_back(row.at(0));
        tp.push_back(row.at(1));
        wlev.push_back(row.at(2));
        angle.push_back(row.at(3));
    }
    qav::RunInput input;
    input.DikeNormal = std::strtod(argv[3], nullptr);
    input.DamType = std::atoi(argv[4]);
    input.DamHeight = std::strtod(argv[5], nullptr);
    input.Hm0 = hm0;
    input.Tp = tp;
    input.Wlev = wlev;
    input.IncomingWaveAngle = angle;
    input.ProfileX = x;
    input.ProfileBottomLevel = z;

    const std::size_t n = hm0.size();
    std::vector<double> hm0Toe(n), tpToe(n), angleToe(n);
    std::vector<qav::StepOutcome> outcomes(n);
    std::vector<std::string> messages(n);
    std::array<char, 1000> text{};
    const qav::RunOutput output{hm0Toe, tpToe, angleToe, outcomes, messages};
    const int code = qav::RollerModel5(input, output, qav::MessageBuffer(text.data(), text.size()));

    for (std::size_t i = 0; i < n; ++i) {
        std::printf("%zu,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%s,\"%s\"\n", i + 1, hm0[i], tp[i], wlev[i],
                    angle[i], hm0Toe[i], tpToe[i], angleToe[i], std::string(qav::OutcomeName(outcomes[i])).c_str(),
                    messages[i].c_str());
    }
    std::printf("# code %d: %s\n", code, std::string(qav::TrimTrailingBlanks({text.data(), text.size()})).c_str());
    return 0;
}
