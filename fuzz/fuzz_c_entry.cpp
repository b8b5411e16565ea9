// C_FORTRANENTRY_RollerModel5 with fuzzed counts, arrays, dam and parameters,
// on the march path the input chooses (the reference or any fast path this
// processor runs), with the log on or off, up to hundreds of time steps and
// profile points, and now and then arguments passed as null pointers.
//
// Linked against the library's floors (not the shared library) so that the
// input can set the thread's march path.
#include <filesystem>

#include "fuzz/fuzz_input.h"
#include "qav.h"

namespace {

using namespace qav_fuzz;

constexpr int MaxSteps = 400;
constexpr int MaxPoints = 400;
constexpr int Arguments = 23;  // the pointer arguments before ErrorMessage

struct Call {
    int damType, n, m, logging;
    double damHeight, dikeNormal, ag, rho, alpha, fc, ratioDepth, invalid, minStep;
    Series series;
    std::vector<double> x, z;
    std::string logName;
};

struct Result {
    int code;
    std::vector<double> hm0, tp, angle;
    std::string message;
};

// Calls the entry with the arguments of the mask passed as null pointers.
Result Run(const Call& c, std::uint32_t nulls, bool nullMessage, const char** missing) {
    const auto pick = [nulls](int bit, const auto* pointer) { return (nulls >> bit) & 1u ? nullptr : pointer; };
    const size_t count = c.n > 0 ? static_cast<size_t>(c.n) : 0;
    Result r;
    // Prefilled, so that an entry that writes nothing is seen.
    r.hm0.assign(count, 12345.0);
    r.tp = r.hm0;
    r.angle = r.hm0;
    const int* damType = pick(0, &c.damType);
    const double* damHeight = pick(1, &c.damHeight);
    const double* alpha = pick(2, &c.alpha);
    const double* fc = pick(3, &c.fc);
    const double* invalid = pick(4, &c.invalid);
    const int* n = pick(5, &c.n);
    const double* hm0 = pick(6, c.series.hm0.data());
    const double* tp = pick(7, c.series.tp.data());
    const double* wlev = pick(8, c.series.wlev.data());
    const double* angle = pick(9, c.series.angle.data());
    const double* dikeNormal = pick(10, &c.dikeNormal);
    const int* m = pick(11, &c.m);
    const double* x = pick(12, c.x.data());
    const double* minStep = pick(13, &c.minStep);
    const double* z = pick(14, c.z.data());
    const double* ratioDepth = pick(15, &c.ratioDepth);
    const int* logging = pick(16, &c.logging);
    const char* logName = pick(17, c.logName.data());
    const double* ag = pick(18, &c.ag);
    const double* rho = pick(19, &c.rho);
    double* hm0Toe = (nulls >> 20) & 1u ? nullptr : r.hm0.data();
    double* tpToe = (nulls >> 21) & 1u ? nullptr : r.tp.data();
    double* angleToe = (nulls >> 22) & 1u ? nullptr : r.angle.data();
    const auto nameLength = static_cast<int64_t>(c.logName.size());
    const std::size_t N = CountOf(n), M = CountOf(m);
    *missing = FirstMissing({{"DamType", damType, 1},
                             {"DamHeight", damHeight, 1},
                             {"Alpha", alpha, 1},
                             {"Fc", fc, 1},
                             {"InvalidValue", invalid, 1},
                             {"NumberOfTimeSteps", n, 1},
                             {"Hm0", hm0, N},
                             {"Tp", tp, N},
                             {"Wlev", wlev, N},
                             {"IncomingWaveAngle", angle, N},
                             {"DikeNormal", dikeNormal, 1},
                             {"NumberOfProfilePoints", m, 1},
                             {"ProfileX", x, M},
                             {"MinStepSize", minStep, 1},
                             {"ProfileBottomLevel", z, M},
                             {"RatioDepth", ratioDepth, 1},
                             {"Logging", logging, 1},
                             {"LogFileName", logName, c.logName.size()},
                             {"Ag", ag, 1},
                             {"Rho", rho, 1},
                             {"Hm0Toe", hm0Toe, N},
                             {"TpToe", tpToe, N},
                             {"WaveAngleToe", angleToe, N}});
    char message[1000];
    std::memset(message, 'x', sizeof message);
    r.code = C_FORTRANENTRY_RollerModel5(damType, damHeight, alpha, fc, invalid, n, hm0, tp, wlev, angle,
                                         dikeNormal, m, x, minStep, z, ratioDepth, logging, logName, nameLength,
                                         ag, rho, hm0Toe, tpToe, angleToe, nullMessage ? nullptr : message);
    if (nullMessage) {
        r.message.assign(message, sizeof message);
    } else {
        Require(std::memchr(message, '\0', sizeof message) != nullptr, "message NUL-terminated");
        r.message = message;
    }
    return r;
}

bool SameResults(const Result& a, const Result& b) {
    if (a.code != b.code || a.message != b.message || a.hm0.size() != b.hm0.size()) return false;
    for (size_t i = 0; i < a.hm0.size(); ++i) {
        if (!SameBits(a.hm0[i], b.hm0[i]) || !SameBits(a.tp[i], b.tp[i]) || !SameBits(a.angle[i], b.angle[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Call c;
    const qav::MarchPath path = ChooseMarchPath(in);
    c.n = in.ConsumeIntegralInRange<int>(-2, MaxSteps);
    c.m = in.ConsumeIntegralInRange<int>(-2, MaxPoints);
    c.damType = in.ConsumeIntegralInRange<int>(-1, 4);
    c.damHeight = Value(in, -10, 10);
    c.dikeNormal = Value(in, -400, 400);
    c.ag = Value(in, 1, 20);
    c.rho = Value(in, 900, 1100);
    c.alpha = Value(in, 0, 3);
    c.fc = Value(in, 0, 0.1);
    c.ratioDepth = Value(in, 0.01, 2);
    c.invalid = in.ConsumeBool() ? -999.0 : Value(in, -1e3, 1e3);
    c.series = DrawSeries(in, c.n);
    DrawProfile(in, c.m, c.x, c.z);
    c.minStep = BoundedMinStepSize(in, c.x, c.n);
    // The log, when on, goes to a scratch file (or to one in a folder that
    // does not exist: its lines are skipped), removed after the call.
    const std::string logFile = ScratchFolder() + (in.ConsumeIntegralInRange<int>(0, 7) == 7 ? "/none/c.log" : "/c.log");
    c.logging = in.ConsumeIntegralInRange<int>(0, 3) == 3 ? in.ConsumeIntegralInRange<int>(-2, 2) : 0;
    c.logName = logFile + std::string(in.ConsumeIntegralInRange<int>(0, 3), ' ');
    if (c.logging == 0 && in.ConsumeBool()) c.logName = " ";
    const std::uint32_t nulls = NullArguments(in, Arguments);
    const bool nullMessage = in.ConsumeIntegralInRange<int>(0, 31) == 31;

    const char* missing = nullptr;
    const Result r = Run(c, nulls, nullMessage, &missing);
    std::error_code ignored;
    const bool logged = std::filesystem::file_size(logFile, ignored) > 0 && !ignored;
    std::filesystem::remove(logFile, ignored);

    Require(r.code == 0 || r.code == -1, "return code 0 or -1");
    if (nullMessage) {
        Hits::Of().Count("null.ErrorMessage");
        Require(r.code == -1, "a null message buffer fails the call");
        for (size_t i = 0; i < r.hm0.size(); ++i) {
            Require(r.hm0[i] == 12345.0 && r.tp[i] == 12345.0 && r.angle[i] == 12345.0,
                    "a null message buffer leaves the results alone");
        }
        return 0;
    }
    if (missing != nullptr) {
        Hits::Of().Count(std::string("missing.") + missing);
        Require(r.code == -1, "a missing argument fails the call");
        Require(r.message == std::string("Argument ") + missing + " is missing!",
                "the message names the first missing argument");
        return 0;
    }
    Hits::Of().Count(nulls != 0 ? "null.not-missing" : "all-present");
    const size_t length = r.message.size();
    Require(length == 999 || length == 0 || r.message[length - 1] != ' ', "no trailing blanks before the NUL");
    Require(c.n > 0 || r.code == -1, "no time steps fail the run");
    RequireResults(r.hm0, r.tp, r.angle, c.series.tp, c.series.angle, c.invalid);
    if (c.logging != 0) {
        Hits::Of().Count(logFile.find("/none/") == std::string::npos ? "log.on" : "log.unwritable");
        if (logFile.find("/none/") == std::string::npos) Require(logged, "a call with its log on writes it");
        // The log runs the steps one after another, the fast paths in lanes
        // without it: the same results and message either way.
        Call off = c;
        off.logging = 0;
        const Result quiet = Run(off, nulls, false, &missing);
        Require(SameResults(r, quiet), "the log changes nothing of the results");
    } else {
        Hits::Of().Count("log.off");
        Require(!logged, "a call with its log off writes none");
    }
    (void)path;
    return 0;
}
