"""qav.run with one time step per call from Python against the same call of
the C entry from C (Google Benchmark, bench/bench_one_step.cpp), in the same run.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_calls.py \
        build/release/bench/qav_bench_one_step [--calls 100000] [--repetitions 5]

Cases: one step again and again (the storm's peak, a moderate sea, a calm
step that needs no march), and the storm of examples/series.csv a step a
call in turn, as a host runs a series one step at a time. Prints per case
the median CPU time per call from C and from Python (C and Python take
turns, case by case, repetition by repetition) and their ratio (the target:
at most 1.3), and the same in wall-clock time. CPU time is the steadier of the two on a machine
that runs other work; with nothing else running they agree.
"""

import argparse
import itertools
import json
import os
import statistics
import subprocess
import time

import numpy as np

import qav

# The cases of bench_one_step.cpp: the bundled profile, dike normal 270 deg, a
# dam with its crest at -1 m.
CASES = {"peak": (3.5, 9.7, 4.0, 245.0), "moderate": (1.2, 5.8, 0.6, 265.0), "calm": (0.0, 6.0, 0.6, 270.0)}
# The storm of examples/series.csv, a row a call in turn (the case "storm";
# OneStep/storm in bench_one_step.cpp takes the same rows).
STORM = [(0.8, 5.0, 0.2, 270), (1.2, 5.8, 0.6, 265), (1.6, 6.4, 1.0, 262), (2.0, 7.0, 1.5, 260),
         (2.4, 7.6, 2.0, 258), (2.8, 8.2, 2.6, 255), (3.1, 8.8, 3.1, 252), (3.3, 9.2, 3.5, 250),
         (3.4, 9.5, 3.8, 248), (3.5, 9.7, 4.0, 245), (3.4, 9.6, 4.1, 242), (3.2, 9.4, 4.0, 240),
         (3.0, 9.1, 3.7, 235), (2.7, 8.7, 3.3, 230), (2.4, 8.2, 2.8, 225), (2.0, 7.7, 2.2, 215),
         (1.6, 7.0, 1.6, 200), (1.2, 6.3, 1.0, 186), (0.0, 6.0, 0.6, 270), (0.8, 5.5, 0.3, 275),
         (0.6, 5.0, 0.1, 280), (0.5, 4.8, 0.0, 290), (1.0, 6.0, 0.4, 95)]
CASE_NAMES = [*CASES, "storm"]
X = np.array([0, 50, 100, 150, 200, 230, 260, 290, 320, 340], dtype=float)
Z = np.array([-8.0, -7.5, -6.8, -5.9, -4.8, -4.0, -3.1, -2.2, -1.5, -1.0])


def c_time(program: str, case: str) -> tuple:
    """CPU and wall-clock seconds per call of one case from C (Google Benchmark)."""
    out = subprocess.run([program, "--benchmark_format=json", f"--benchmark_filter=OneStep/{case}$"],
                         capture_output=True, text=True, check=True)
    entry = json.loads(out.stdout)["benchmarks"][0]
    scale = {"us": 1e-6, "ns": 1e-9, "ms": 1e-3}[entry["time_unit"]]
    return entry["cpu_time"] * scale, entry["real_time"] * scale


def python_time(case: str, calls: int) -> tuple:
    """CPU and wall-clock seconds per call of qav.run for one case."""
    # Each step's four one-value arrays made before, as a C host has its numbers in place.
    steps = [tuple(np.array([float(v)]) for v in step) for step in (STORM if case == "storm" else [CASES[case]])]
    start_cpu, start_wall = time.process_time(), time.perf_counter()
    for (hm0, tp, wlev, angle), _ in zip(itertools.cycle(steps), range(calls)):
        qav.run(X, Z, hm0, tp, wlev, angle, dike_normal=270.0, dam_type=3, dam_height=-1.0)
    return (time.process_time() - start_cpu) / calls, (time.perf_counter() - start_wall) / calls


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("program", help="the Google Benchmark binary qav_bench_one_step")
    parser.add_argument("--calls", type=int, default=100_000)
    parser.add_argument("--repetitions", type=int, default=5)
    args = parser.parse_args()
    print(f"qav {qav.version()}, march path {qav.march_path()}; "
          f"{args.calls} calls x {args.repetitions} repetitions per case; load average {os.getloadavg()[0]:.2f}")
    # C and Python take turns, so that other work on the machine weighs on both alike.
    c = {case: [] for case in CASE_NAMES}
    python = {case: [] for case in CASE_NAMES}
    for _ in range(args.repetitions):
        for case in CASE_NAMES:
            c[case].append(c_time(args.program, case))
            python[case].append(python_time(case, args.calls))
    median = lambda samples, k: statistics.median(s[k] for s in samples)  # noqa: E731
    print(f"{'case':10} {'C cpu us':>9} {'Python cpu us':>14} {'ratio':>6}   "
          f"{'C wall us':>10} {'Python wall us':>15} {'ratio':>6}")
    for case in CASE_NAMES:
        c_cpu, c_wall = median(c[case], 0), median(c[case], 1)
        p_cpu, p_wall = median(python[case], 0), median(python[case], 1)
        print(f"{case:10} {c_cpu * 1e6:9.3f} {p_cpu * 1e6:14.3f} {p_cpu / c_cpu:6.2f}   "
              f"{c_wall * 1e6:10.3f} {p_wall * 1e6:15.3f} {p_wall / c_wall:6.2f}")
    print(f"load average at the end {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
