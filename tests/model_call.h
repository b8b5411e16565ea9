// A model call through the exports with sensible defaults (a 1:50
// foreshore), for tests that change one argument at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qav.h"

namespace {

constexpr double Invalid = -999.0;

// One model run's arguments with sensible defaults: a 1:50 foreshore.
struct ModelCall {
    int damType = 0;
    double damHeight = 0.0;
    double ag = 9.81, rho = 1000.0, alpha = 1.0, fc = 0.01, ratioDepth = 0.3, invalid = Invalid,
           minStep = 1.0;
    std::vector<double> hm0, tp, wlev, angle;
    double dikeNormal = 0.0;
    std::vector<double> x{0, 200, 400}, z{-10, -6, -2};
    int logging = 0;
    std::string logFile = " ";
    std::vector<double> hm0Toe, tpToe, angleToe;
    std::string message = std::string(1000, '#');

    void AddStep(double h, double t, double w, double a) {
        hm0.push_back(h);
        tp.push_back(t);
        wlev.push_back(w);
        angle.push_back(a);
    }
    int N() const { return static_cast<int>(hm0.size()); }

    // The C entry; the message comes back NUL-terminated.
    int CallC() {
        Prepare();
        const int n = N(), m = static_cast<int>(x.size());
        message.assign(1000, '#');
        return C_FORTRANENTRY_RollerModel5(&damType, &damHeight, &alpha, &fc, &invalid, &n, hm0.data(), tp.data(),
                                           wlev.data(), angle.data(), &dikeNormal, &m, x.data(), &minStep,
                                           z.data(), &ratioDepth, &logging, logFile.data(),
                                           static_cast<int64_t>(logFile.size()), &ag, &rho, hm0Toe.data(),
                                           tpToe.data(), angleToe.data(), message.data());
    }
    // The by-reference entry; the message comes back blank padded.
    int CallRef() {
        Prepare();
        const int n = N(), m = static_cast<int>(x.size());
        const double parameters[7] = {ag, rho, alpha, fc, ratioDepth, invalid, minStep};
        message.assign(1000, '#');
        return FORTRANENTRY_ROLLERMODEL5(&damType, &damHeight, parameters, &n, hm0.data(), tp.data(), wlev.data(),
                                         angle.data(), &dikeNormal, &m, x.data(), z.data(), &logging,
                                         logFile.data(), hm0Toe.data(), tpToe.data(), angleToe.data(),
                                         message.data(), static_cast<int64_t>(logFile.size()), 1000);
    }
    void Prepare() {
        hm0Toe.assign(hm0.size(), 12345.0);
        tpToe.assign(hm0.size(), 12345.0);
        angleToe.assign(hm0.size(), 12345.0);
    }
    std::string CMessage() const { return std::string(message.c_str()); }
    std::string RefMessage() const {
        const auto end = message.find_last_not_of(' ');
        return end == std::string::npos ? "" : message.substr(0, end + 1);
    }
};

} // namespace
