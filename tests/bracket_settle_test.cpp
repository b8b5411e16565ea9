// The breaking bracket's float where the march's R and the reference's R lie
// on two sides of a boundary between floats: a wave number a few units in
// the last place off the reference's moves R that far, and the march must
// then take the reference's float. The march's source is compiled here for
// the baseline alone (every instruction set gives the same bits).
#ifndef HWY_COMPILE_ONLY_STATIC
#define HWY_COMPILE_ONLY_STATIC 1
#endif
#include "physics/roller_march.cpp"  // NOLINT(bugprone-suspicious-include)

#include <gtest/gtest.h>

#include <cmath>

// Highway's operations carry the target's attributes (on Arm too): so must
// the code that calls them.
HWY_BEFORE_NAMESPACE();
namespace {

namespace hn = hwy::HWY_NAMESPACE;
namespace march = qav::HWY_NAMESPACE;

// Two neighbouring doubles near R whose brackets round to different floats.
struct Boundary {
    double below, above;
};

Boundary BoundaryNear(double R) {
    double below = R;
    double above = R * (1.0 + 1e-6);
    const double first = qav::NearestRoundedBracket(below);
    EXPECT_NE(first, qav::NearestRoundedBracket(above)) << R;
    while (std::nextafter(below, above) < above) {
        const double middle = below + (above - below) * 0.5;
        (qav::NearestRoundedBracket(middle) == first ? below : above) = middle;
    }
    return {below, above};
}

// The lanes' bracket of one register of R; the reference's R of every lane
// is ReferenceHGamma(h, omega) / H.
double LaneBracket(double R, double H, double h, double omega, double inverseG) {
    const march::D d;
    march::Pack<march::D, 1> vR, vH, vh, vOmega;
    vR.v[0] = hn::Set(d, R);
    vH.v[0] = hn::Set(d, H);
    vh.v[0] = hn::Set(d, h);
    vOmega.v[0] = hn::Set(d, omega);
    march::MaskPack<march::D, 1> active;
    active.m[0] = hn::FirstN(d, hn::Lanes(d));
    march::LanePieceGuess<1> guess;
    guess.piece[0] = hn::Zero(hn::RebindToSigned<march::D>());
    guess.R = march::Constant<1>(d, 0.0);
    guess.onePolynomial = false;
    guess.allWhole = false;
    return hn::GetLane(march::RoundedBracket(vR, vH, vh, vOmega, inverseG, active, guess).v[0]);
}

TEST(BracketSettling, TheReferencesFloatWhereAWaveNumberOffCouldMoveR) {
    const double inverseG = 1.0 / 9.81;
    // On the whole bracket's fit, between the two terms' fits, on the second
    // term's alone; at R = 9 the bracket moves most with R.
    for (const double R : {1.3, 4.6, 7.0, 9.0}) {
        const Boundary b = BoundaryNear(R);
        const double reference = qav::NearestRoundedBracket(b.above);
        // The march's R as far below the boundary as half the move a wave
        // number may make: the fit alone would take the float below.
        double ours = b.below;
        while (std::fabs(std::nextafter(ours, 0.0) - b.above) < b.above * 0x1p-49)
            ours = std::nextafter(ours, 0.0);
        ASSERT_EQ(qav::NearestRoundedBracket(ours), qav::NearestRoundedBracket(b.below)) << R;
        march::PieceGuess guess;
        EXPECT_EQ(march::RoundedBracket(ours, guess, [&] { return b.above; }), reference) << R;
        // The single march's fits in y = R^2 settle it alike (h gamma = R,
        // H = 1), and a y off R^2, whose fit alone would take another float,
        // changes nothing.
        const auto referenceR = [&] { return b.above; };
        march::PieceGuess squareGuess;
        EXPECT_EQ(march::RoundedBracketOfSquare(ours * ours, ours, 1.0, squareGuess, referenceR), reference)
            << R;
        const double off = ours * 1.01;
        ASSERT_NE(qav::NearestRoundedBracket(off), reference) << R;
        EXPECT_EQ(march::RoundedBracketOfSquare(off * off, ours, 1.0, squareGuess, referenceR), reference)
            << R;
        // Past the fits only a y that is R^2 gives 0.
        EXPECT_EQ(march::RoundedBracketOfSquare(144.0, ours, 1.0, squareGuess, referenceR), reference) << R;
        EXPECT_EQ(march::RoundedBracketOfSquare(144.0, 12.0, 1.0, squareGuess, referenceR), 0.0) << R;

        // The lanes settle the same points, from the reference's wave number
        // of the lane's point: one far from R here, so that a lane the fit
        // took would show.
        const double h = 2.0;
        const double omega = 1.0;
        const double H = 1.0;
        const double elsewhere = march::ReferenceHGamma(h, omega, inverseG) / H;
        ASSERT_NE(qav::NearestRoundedBracket(elsewhere), qav::NearestRoundedBracket(ours)) << R;
        EXPECT_EQ(LaneBracket(ours, H, h, omega, inverseG), qav::NearestRoundedBracket(elsewhere)) << R;
    }
}

}  // namespace
HWY_AFTER_NAMESPACE();
