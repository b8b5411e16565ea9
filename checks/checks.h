#pragma once

#include <span>

#include "common/message.h"

namespace qav {

struct RunInput;

// Absolute tolerance of every comparison with zero or with InvalidValue.
inline constexpr double Tolerance = 1e-15;

// Result codes of CheckHydraulicConditions and ValidateHydraulicSeries.
inline constexpr int ConditionsAccepted = 0;
inline constexpr int ConditionsCalm = 1;
inline constexpr int ConditionsRefused = -1;

// Judges one time step's offshore conditions. 1: calm (message "Hm0 is
// (almost) zero"); -1: refused (message lists the faults joined by " | ");
// 0: accepted, message untouched. Non-finite values count as invalid.
int CheckHydraulicConditions(double Hm0, double Tp, double Wlev, double IncomingWaveAngle,
                             double InvalidValue, MessageBuffer message);

// True when the waves come from within 90 degrees of the dike normal; else
// writes "Entry Incoming wave angle outside valid range" and logs it.
bool CheckIncomingWaveAngle(double IncomingWaveAngle, double DikeNormal, MessageBuffer message);

// Checks a whole series as VALIDATEHYDRAULICDATA does: a refused step wins,
// else a calm step, else 0. All four series have the length of Hm0.
int ValidateHydraulicSeries(std::span<const double> Hm0, std::span<const double> Tp,
                            std::span<const double> Wlev, std::span<const double> IncomingWaveAngle,
                            double InvalidValue, MessageBuffer message);

// 0 when the profile is acceptable (message untouched), -1 otherwise.
int CheckProfile(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel,
                 MessageBuffer message);

// Checks and logs the set-up of a run once before its time loop; 0 when the
// run may go on (message: foreshore and dam description), -1 otherwise.
int CheckModelSetup(const RunInput& input, MessageBuffer message);

} // namespace qav
