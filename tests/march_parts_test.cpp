// The inner parts of the march on every instruction set this build compiles
// and the processor runs, full registers of lanes: tanh against the C
// library's, the products with their rounding errors, the wave number, and
// the breaking bracket's float where the march's R and the reference's lie on
// two sides of a boundary between floats.
#include "physics/march_targets.h"
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tests/march_parts_test.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>
#include <hwy/tests/hwy_gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <type_traits>
#include <vector>

#include "physics/exact_math.h"
#include "physics/march_bracket_one-inl.h"
#include "physics/physics.h"

#ifndef QAV_MARCH_PARTS_TEST_ONCE
#define QAV_MARCH_PARTS_TEST_ONCE
namespace qav::march_test {

inline double UnitsApart(double a, double b) {
    return a == b ? 0.0 : std::fabs(a - b) / (std::nextafter(std::fabs(b), INFINITY) - std::fabs(b));
}

// Two neighbouring doubles near R whose brackets round to different floats.
struct Boundary {
    double below, above;
};

inline Boundary BoundaryNear(double R) {
    double below = R;
    double above = R * (1.0 + 1e-6);
    const double first = NearestRoundedBracket(below);
    EXPECT_NE(first, NearestRoundedBracket(above)) << R;
    while (std::nextafter(below, above) < above) {
        const double middle = below + (above - below) * 0.5;
        (NearestRoundedBracket(middle) == first ? below : above) = middle;
    }
    return {below, above};
}

}  // namespace qav::march_test
#endif

HWY_BEFORE_NAMESPACE();
namespace qav {
namespace HWY_NAMESPACE {

// f of the values a register at a time, every lane of every register used.
template <class F>
std::vector<double> ByRegisters(const std::vector<double>& values, const F& f) {
    const D d;
    const std::size_t N = hn::Lanes(d);
    std::vector<double> out(values.size());
    HWY_ALIGN double lanes[MaxLanes];
    for (std::size_t at = 0; at < values.size(); at += N) {
        for (std::size_t l = 0; l < N; ++l) lanes[l] = values[std::min(at + l, values.size() - 1)];
        Pack<D, 1> p;
        p.v[0] = hn::Load(d, lanes);
        hn::Store(f(p).v[0], d, lanes);
        for (std::size_t l = 0; l < N && at + l < values.size(); ++l) out[at + l] = lanes[l];
    }
    return out;
}

// The plain tanh of the wave numbers: within 3 units in the last place of
// glibc's, and different for about 6 of 10^4 arguments (mostly below 1).
void TanhWithinThreeUnitsOfTheLibrarys() {
#if !defined(__GLIBC__)
    GTEST_SKIP() << "the bound is glibc's";
#endif
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> logArgument(-7.0, std::log(25.0));
    std::vector<double> x{0.0,  -0.0, 0x1p-60, -0x1p-30, 0.5,      1.0,
                          -1.0, 19.5, -22.0,   40.0,     INFINITY, -INFINITY};
    while (x.size() < 65536) x.push_back((x.size() % 2 ? -1.0 : 1.0) * std::exp(logArgument(random)));
    const std::vector<double> ours =
        ByRegisters(x, [](const Pack<D, 1>& p) HWY_ATTR { return Tanh<Rounding::Plain>(D(), p); });
    std::size_t differ = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double library = std::tanh(x[i]);
        ASSERT_LE(march_test::UnitsApart(ours[i], library), 3.0)
            << x[i] << ": " << ours[i] << " against " << library;
        ASSERT_EQ(std::signbit(ours[i]), std::signbit(library)) << x[i];
        differ += ours[i] != library;
    }
    EXPECT_LE(differ, x.size() / 500) << "arguments whose tanh differs from the C library's";
    EXPECT_TRUE(std::isnan(
        ByRegisters({NAN}, [](const Pack<D, 1>& p) HWY_ATTR { return Tanh<Rounding::Plain>(D(), p); })[0]));
}

// Registers whose arguments all lie below 1, or all from 1 on, take only
// their side's operations, and those of expm1's reduction where it is known: the same bits as registers of
// both sides, in either rounding, up to the arguments where tanh is 1 and past them.
template <Rounding Mode>
void TanhOnOneSideAsOnBoth(const std::vector<double>& below, const std::vector<double>& from) {
    const auto on = [](const std::vector<double>& x, auto range) {
        return ByRegisters(
            x, [](const Pack<D, 1>& p) HWY_ATTR { return TanhIn<Mode, decltype(range)::value>(D(), p); });
    };
    using Below = std::integral_constant<TanhRange, TanhRange::BelowOne>;
    using From = std::integral_constant<TanhRange, TanhRange::FromOne>;
    using Any = std::integral_constant<TanhRange, TanhRange::Any>;
    const std::vector<double> belowOnly = on(below, Below{});
    // Below 1, the arguments of each k that expm1's reduction takes.
    const auto withK = [&](double from, double to, auto k) {
        std::vector<double> x, expected;
        for (std::size_t i = 0; i < below.size(); ++i) {
            if (std::fabs(below[i]) >= from && std::fabs(below[i]) < to) {
                x.push_back(below[i]);
                expected.push_back(belowOnly[i]);
            }
        }
        ASSERT_GT(x.size(), 1000u);
        const std::vector<double> known = ByRegisters(x, [](const Pack<D, 1>& p) HWY_ATTR {
            return TanhIn<Mode, TanhRange::BelowOne, decltype(k)::value>(D(), p);
        });
        for (std::size_t i = 0; i < x.size(); ++i)
            ASSERT_EQ(std::bit_cast<std::uint64_t>(known[i]), std::bit_cast<std::uint64_t>(expected[i]))
                << x[i];
    };
    withK(0.0, 0x1.62e43p-3, std::integral_constant<int, 0>{});
    withK(0x1.62e43p-3, 0x1.0a2b23f3bab74p-1, std::integral_constant<int, -1>{});
    withK(0x1.0a2b23f3bab74p-1, 0x1.bb9d3beb8c86bp-1, std::integral_constant<int, -2>{});
    withK(0x1.bb9d3beb8c86bp-1, 1.0, std::integral_constant<int, -3>{});
    const std::vector<double> fromOnly = on(from, From{});
    std::vector<double> fromMid, expectedMid;
    for (std::size_t i = 0; i < from.size(); ++i) {
        if (std::fabs(from[i]) < FromOneMidEnd) {
            fromMid.push_back(from[i]);
            expectedMid.push_back(fromOnly[i]);
        }
    }
    const std::vector<double> mid = on(fromMid, std::integral_constant<TanhRange, TanhRange::FromOneMid>{});
    for (std::size_t i = 0; i < fromMid.size(); ++i)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(mid[i]), std::bit_cast<std::uint64_t>(expectedMid[i]))
            << fromMid[i];
    // Both sides in every register.
    std::vector<double> mixed;
    for (std::size_t i = 0; i < below.size(); ++i) mixed.insert(mixed.end(), {below[i], from[i]});
    const std::vector<double> both = on(mixed, Any{});
    // As the march calls it: the range chosen for the whole register.
    const auto tanh = [](const Pack<D, 1>& p) HWY_ATTR { return Tanh<Mode>(D(), p); };
    const std::vector<double> chosen = ByRegisters(below, tanh);
    const std::vector<double> chosenFrom = ByRegisters(from, tanh);
    for (std::size_t i = 0; i < below.size(); ++i) {
        ASSERT_EQ(std::bit_cast<std::uint64_t>(belowOnly[i]), std::bit_cast<std::uint64_t>(both[2 * i]))
            << below[i];
        ASSERT_EQ(std::bit_cast<std::uint64_t>(fromOnly[i]), std::bit_cast<std::uint64_t>(both[2 * i + 1]))
            << from[i];
        ASSERT_EQ(std::bit_cast<std::uint64_t>(chosen[i]), std::bit_cast<std::uint64_t>(belowOnly[i]))
            << below[i];
        ASSERT_EQ(std::bit_cast<std::uint64_t>(chosenFrom[i]), std::bit_cast<std::uint64_t>(fromOnly[i]))
            << from[i];
    }
}

void TanhTheSameOnEveryRange() {
    std::mt19937_64 random(17);
    std::uniform_real_distribution<double> logBelow(-40.0, 0.0);
    std::uniform_real_distribution<double> logFrom(0.0, std::log(30.0));
    std::uniform_real_distribution<double> evenBelow(0.0, 1.0);
    // The bounds of expm1's reductions (at 2 |x|: where glibc takes k = 0 or
    // -1 directly, where the rounding of |x| / ln2 + 0.5 gives 2 and 3) and of
    // tanh's sides.
    std::vector<double> below{0.0, -0.0, 0x1p-1074, 0x1.62e43p-3, 0x1.0a2b2p-1, std::nextafter(1.0, 0.0),
                              0.5};
    std::vector<double> from{1.0, -1.0, 19.5, 22.0, 40.0, INFINITY, -INFINITY};
    for (const double edge : {0x1.62e43p-3, 0x1.0a2b2p-1, 0x1.0a2b23f3bab74p-1, 0x1.bb9d3beb8c86bp-1}) {
        for (double x = edge, y = edge, n = 0; n < 64;
             ++n, x = std::nextafter(x, 0.0), y = std::nextafter(y, 1.0))
            below.insert(below.end(), {x, -y});
    }
    while (below.size() < 32768) {
        const double sign = below.size() % 2 ? -1.0 : 1.0;
        // Evenly spread half the time, so that every reduction has many.
        below.push_back(sign * (below.size() % 4 < 2 ? std::exp(logBelow(random)) : evenBelow(random)));
        from.push_back(sign * std::exp(logFrom(random)));
    }
    for (double x = FromOneMidEnd, y = x, n = 0; n < 64;
         ++n, x = std::nextafter(x, 0.0), y = std::nextafter(y, 9.0))
        from.insert(from.end(), {x, -y});
    from.resize(below.size(), 19.5);
    // In order of |x|, so that whole registers lie within one reduction, up
    // to its bounds.
    const auto byMagnitude = [](double a, double b) { return std::fabs(a) < std::fabs(b); };
    std::sort(below.begin(), below.end(), byMagnitude);
    std::sort(from.begin(), from.end(), byMagnitude);
    // The k that Tanh reads from |x| for a whole register is the one that
    // expm1's reduction takes lane by lane.
    const std::vector<double> k = ByRegisters(below, [](const Pack<D, 1>& p) HWY_ATTR {
        const D d;
        const Pack<D, 1> twice = Add(Abs(p), Abs(p));
        return Expm1Core<Rounding::Plain, Signs::Negative>(d, Neg(twice), twice, Lt(twice, twice)).k;
    });
    for (std::size_t i = 0; i < below.size(); ++i)
        ASSERT_EQ(k[i], ReductionBelowOne(std::fabs(below[i]))) << below[i];
    // From 1 on, FromOneMidEnd is where expm1's k reaches 20.
    const std::vector<double> kFrom = ByRegisters(from, [](const Pack<D, 1>& p) HWY_ATTR {
        const D d;
        const Pack<D, 1> twice = Add(Abs(p), Abs(p));
        return Expm1Core<Rounding::Plain, Signs::Positive>(d, twice, twice, Lt(twice, twice)).k;
    });
    for (std::size_t i = 0; i < from.size(); ++i)
        ASSERT_EQ(kFrom[i] < 20.0, std::fabs(from[i]) < FromOneMidEnd) << from[i];
    TanhOnOneSideAsOnBoth<Rounding::Plain>(below, from);
    TanhOnOneSideAsOnBoth<Rounding::AsGlibc>(below, from);
}

// a b - fl(a b) to within 2^-103 of a b, and fl(a b - c) and fl(c - a b) as
// one fused rounding gives them, for numbers of any size short of overflow.
void ProductsWithTheirRoundingErrors() {
    const D d;
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-40, 40);
    std::vector<double> a, b, c, u, v;
    for (int i = 0; i < 20000; ++i) {
        a.push_back(std::ldexp(unit(random), exponent(random)));
        b.push_back(std::ldexp(unit(random), exponent(random)));
        // Factors whose product stays below 4, as in tanh's 6 - x t.
        u.push_back(2.0 * unit(random));
        v.push_back(2.0 * unit(random));
        // Near a b half the time, where the difference cancels.
        c.push_back(i % 2 ? a.back() * b.back() * (1.0 + 0x1p-40 * unit(random))
                          : std::ldexp(unit(random), exponent(random)));
    }
    const std::size_t N = hn::Lanes(d);
    HWY_ALIGN double lanes[5][MaxLanes];
    HWY_ALIGN double got[3][MaxLanes];
    for (std::size_t at = 0; at + N <= a.size(); at += N) {
        for (std::size_t l = 0; l < N; ++l) {
            lanes[0][l] = a[at + l];
            lanes[1][l] = b[at + l];
            lanes[2][l] = c[at + l];
            lanes[3][l] = u[at + l];
            lanes[4][l] = v[at + l];
        }
        const Pack<D, 1> pa = LoadPack<1>(d, lanes[0], 0);
        const Pack<D, 1> pb = LoadPack<1>(d, lanes[1], 0);
        const Split<D, 1> sa = SplitOf(d, pa);
        const Split<D, 1> sb = SplitOf(d, pb);
        StorePack(d, ProductError(sa, sb, Mul(pa, pb)), got[0], 0);
        StorePack(d, ProductMinus(sa, sb, LoadPack<1>(d, lanes[2], 0)), got[1], 0);
        StorePack(d,
                  SubtractSmallProduct(d, 6.0, SplitOf(d, LoadPack<1>(d, lanes[3], 0)),
                                       SplitOf(d, LoadPack<1>(d, lanes[4], 0))),
                  got[2], 0);
        for (std::size_t l = 0; l < N; ++l) {
            const double x = lanes[0][l];
            const double y = lanes[1][l];
            // Only tail times tail rounds: by less than 2^-103 of a b.
            ASSERT_LE(std::fabs(got[0][l] - std::fma(x, y, -(x * y))), std::fabs(x * y) * 0x1p-103)
                << x << " * " << y;
            ASSERT_EQ(got[1][l], std::fma(x, y, -lanes[2][l])) << x << " * " << y << " - " << lanes[2][l];
            ASSERT_EQ(got[2][l], std::fma(-lanes[3][l], lanes[4][l], 6.0))
                << lanes[3][l] << " * " << lanes[4][l];
        }
    }
}

// The wave number of full registers of depths from the Halley steps and the
// plain tanh: the same bits as one point at a time (WaveNumberOf), and h gamma
// within 4 units in the last place of the reference's, whose wave number comes
// from the C library's tanh.
void WaveNumberAsOnePointAndNearTheReferences() {
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> logDepth(std::log(0.01), std::log(30.0));
    std::uniform_real_distribution<double> period(2.0, 15.0);
    const Constants c{9.81, 1025.0};
    const double inverseG = 1.0 / c.g;
    std::vector<double> h;
    std::vector<double> omega;
    for (int i = 0; i < 8192; ++i) {
        h.push_back(std::exp(logDepth(random)));
        omega.push_back(TwoPi / period(random));
    }
    // One period for a register, as in a step alone; the lanes' own in lanes.
    const D d;
    const std::size_t N = hn::Lanes(d);
    std::size_t at = 0;
    const std::vector<double> k = ByRegisters(h, [&](const Pack<D, 1>& depth) HWY_ATTR {
        HWY_ALIGN double w[MaxLanes];
        for (std::size_t l = 0; l < N; ++l) w[l] = omega[std::min(at + l, omega.size() - 1)];
        at += N;
        const Pack<D, 1> vOmega = LoadPack<1>(d, w, 0);
        const Pack<D, 1> deep = Mul(Mul(depth, Mul(vOmega, vOmega)), Constant<1>(d, inverseG));
        const Pack<D, 1> x = HalleyStep(d, deep, Tanh<Rounding::Plain>(d, deep), deep);
        return Div(HalleyStep(d, x, Tanh<Rounding::Plain>(d, x), deep), depth);
    });
    std::size_t differ = 0;
    for (std::size_t i = 0; i < h.size(); ++i) {
        ASSERT_EQ(k[i], WaveNumberOf<Rounding::Plain>(h[i], omega[i], inverseG))
            << h[i] << " m, " << omega[i];
        const double reference = WaveNumber(omega[i], h[i], c);
        const double ours = h[i] * (k[i] * 0.76 * h[i] + 0.29);
        const double theirs = h[i] * (reference * 0.76 * h[i] + 0.29);
        EXPECT_LE(march_test::UnitsApart(ours, theirs), 4.0) << h[i] << " m, " << omega[i];
        differ += ours != theirs;
    }
    EXPECT_LE(differ, h.size() / 500);
}

// The lanes' bracket of one register of R; the reference's R of every lane
// is ReferenceHGamma(h, omega) / H.
double LaneBracket(double R, double H, double h, double omega, double inverseG) {
    const D d;
    const auto C = [d](double v) HWY_ATTR { return Constant<1>(d, v); };
    MaskPack<D, 1> active;
    active.m[0] = hn::FirstN(d, hn::Lanes(d));
    LanePieceGuess<1> guess;
    guess.piece[0] = hn::Zero(hn::RebindToSigned<D>());
    guess.R = C(0.0);
    guess.onePolynomial = false;
    guess.allWhole = false;
    return hn::GetLane(RoundedBracket(C(R), C(H), C(h), C(omega), inverseG, active, guess).v[0]);
}

// A wave number a few units in the last place off the reference's moves R
// that far: where the march's R and the reference's straddle a boundary, the
// march takes the reference's float, alone and in lanes.
void BracketTakesTheReferencesFloat() {
    const double inverseG = 1.0 / 9.81;
    // On the whole bracket's fit, between the two terms' fits, on the second
    // term's alone; at R = 9 the bracket moves most with R.
    for (const double R : {1.3, 4.6, 7.0, 9.0}) {
        const march_test::Boundary b = march_test::BoundaryNear(R);
        const double reference = NearestRoundedBracket(b.above);
        // The march's R as far below the boundary as half the move a wave
        // number may make: the fit alone would take the float below.
        double ours = b.below;
        while (std::fabs(std::nextafter(ours, 0.0) - b.above) < b.above * 0x1p-49)
            ours = std::nextafter(ours, 0.0);
        ASSERT_EQ(NearestRoundedBracket(ours), NearestRoundedBracket(b.below)) << R;
        PieceGuess guess;
        EXPECT_EQ(RoundedBracket(ours, guess, [&] { return b.above; }), reference) << R;
        // The single march's fits in y = R^2 settle it alike (h gamma = R,
        // H = 1), and a y off R^2, whose fit alone would take another float,
        // changes nothing.
        const auto referenceR = [&] { return b.above; };
        PieceGuess squareGuess;
        EXPECT_EQ(RoundedBracketOfSquare(ours * ours, ours, 1.0, squareGuess, referenceR), reference) << R;
        const double off = ours * 1.01;
        ASSERT_NE(NearestRoundedBracket(off), reference) << R;
        EXPECT_EQ(RoundedBracketOfSquare(off * off, ours, 1.0, squareGuess, referenceR), reference) << R;
        // Past the fits only a y that is R^2 gives 0.
        EXPECT_EQ(RoundedBracketOfSquare(144.0, ours, 1.0, squareGuess, referenceR), reference) << R;
        EXPECT_EQ(RoundedBracketOfSquare(144.0, 12.0, 1.0, squareGuess, referenceR), 0.0) << R;

        // The lanes settle the same points, from the reference's wave number
        // of the lane's point: one far from R here, so that a lane the fit
        // took would show.
        const double h = 2.0;
        const double omega = 1.0;
        const double H = 1.0;
        const double elsewhere = ReferenceHGamma(h, omega, inverseG) / H;
        ASSERT_NE(NearestRoundedBracket(elsewhere), NearestRoundedBracket(ours)) << R;
        EXPECT_EQ(LaneBracket(ours, H, h, omega, inverseG), NearestRoundedBracket(elsewhere)) << R;
    }
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace qav
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qav {

HWY_BEFORE_TEST(MarchParts);
HWY_EXPORT_AND_TEST_P(MarchParts, TanhWithinThreeUnitsOfTheLibrarys);
HWY_EXPORT_AND_TEST_P(MarchParts, TanhTheSameOnEveryRange);
HWY_EXPORT_AND_TEST_P(MarchParts, ProductsWithTheirRoundingErrors);
HWY_EXPORT_AND_TEST_P(MarchParts, WaveNumberAsOnePointAndNearTheReferences);
HWY_EXPORT_AND_TEST_P(MarchParts, BracketTakesTheReferencesFloat);

}  // namespace qav
#endif
