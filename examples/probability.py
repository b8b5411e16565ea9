"""The probability that the significant wave height at the dike toe exceeds a
limit during a storm, by Monte Carlo (blocks of 10^4 model evaluations, each
block one call of the model) and by FORM, with the number of model
evaluations each took.

    PYTHONPATH=build/release/python /usr/bin/python3 examples/probability.py [--limit 2.0] [--blocks 100]

The offshore conditions are illustrative distributions for the bundled profile
(examples/profile.csv, dike normal 270 deg, a submerged dam with its crest 1 m
below datum), not the statistics of a real site.
"""

import argparse
from pathlib import Path

import openturns as ot

import qav
import qav.openturns

EXAMPLES = Path(__file__).resolve().parent


def offshore_conditions() -> ot.Distribution:
    hm0 = ot.Gumbel(0.35, 1.6)  # m: scale 0.35 m, mode 1.6 m
    tp = ot.TruncatedDistribution(ot.Normal(7.5, 0.8), 2.0, ot.TruncatedDistribution.LOWER)  # s
    wlev = ot.Normal(1.5, 0.6)  # m above datum
    angle = ot.Uniform(230.0, 310.0)  # deg, from where the waves come
    conditions = ot.ComposedDistribution([hm0, tp, wlev, angle])
    conditions.setDescription(list(qav.openturns.INPUT_NAMES))
    return conditions


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--limit", type=float, default=2.0, help="limit of Hm0 at the toe (m)")
    parser.add_argument("--blocks", type=int, default=100, help="most blocks of 10^4 Monte Carlo points")
    parser.add_argument("--cov", type=float, default=0.05,
                        help="Monte Carlo stops at this coefficient of variation of the estimate")
    args = parser.parse_args()

    profile = qav.read_profile(EXAMPLES / "profile.csv")
    conditions = offshore_conditions()

    # Monte Carlo: every block of 10^4 points is one call of the model.
    model = qav.openturns.function(profile, dike_normal=270.0, dam_type="dam", dam_height=-1.0,
                                   outputs=["hm0_toe"])
    event = ot.ThresholdEvent(ot.CompositeRandomVector(model, ot.RandomVector(conditions)), ot.Greater(),
                              args.limit)
    ot.RandomGenerator.SetSeed(1)
    monte_carlo = ot.ProbabilitySimulationAlgorithm(event, ot.MonteCarloExperiment())
    monte_carlo.setBlockSize(10_000)
    monte_carlo.setMaximumOuterSampling(args.blocks)
    monte_carlo.setMaximumCoefficientOfVariation(args.cov)
    monte_carlo.run()
    mc = monte_carlo.getResult()
    print(f"Monte Carlo: P(Hm0 toe > {args.limit} m) = {mc.getProbabilityEstimate():.4g} "
          f"(coefficient of variation {mc.getCoefficientOfVariation():.3f}), "
          f"{model.getCallsNumber()} model evaluations")

    # FORM: the design point in standard space, with finite-difference gradients.
    model = qav.openturns.function(profile, dike_normal=270.0, dam_type="dam", dam_height=-1.0,
                                   outputs=["hm0_toe"])
    event = ot.ThresholdEvent(ot.CompositeRandomVector(model, ot.RandomVector(conditions)), ot.Greater(),
                              args.limit)
    optimizer = ot.AbdoRackwitz()
    optimizer.setMaximumIterationNumber(100)
    form = ot.FORM(optimizer, event, conditions.getMean())
    form.run()
    result = form.getResult()
    design = result.getPhysicalSpaceDesignPoint()
    print(f"FORM: P(Hm0 toe > {args.limit} m) = {result.getEventProbability():.4g} "
          f"(reliability index {result.getHasoferReliabilityIndex():.3f}), "
          f"{model.getCallsNumber()} model evaluations")
    print("design point: " + ", ".join(f"{name} {value:.3f}"
                                       for name, value in zip(qav.openturns.INPUT_NAMES, design)))


if __name__ == "__main__":
    main()
