"""qav.run with one time step per call from Python against the same call of
the C entry from C (Google Benchmark, bench/bench_one_step.cpp), in the same run.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_calls.py \
        build/release/bench/qav_bench_one_step [--calls 100000] [--repetitions 5]

Prints per case the median time per call from C and from Python and their
ratio (the target: at most 1.3 for steps the model computes).
"""

import argparse
import json
import statistics
import subprocess
import time

import numpy as np

import qav

# The cases of bench_one_step.cpp: the bundled profile, dike normal 270 deg, a
# dam with its crest at -1 m.
CASES = {"peak": (3.5, 9.7, 4.0, 245.0), "moderate": (1.2, 5.8, 0.6, 265.0), "calm": (0.0, 6.0, 0.6, 270.0)}
X = np.array([0, 50, 100, 150, 200, 230, 260, 290, 320, 340], dtype=float)
Z = np.array([-8.0, -7.5, -6.8, -5.9, -4.8, -4.0, -3.1, -2.2, -1.5, -1.0])


def c_medians(program: str, repetitions: int) -> dict:
    out = subprocess.run([program, "--benchmark_format=json", f"--benchmark_repetitions={repetitions}",
                          "--benchmark_report_aggregates_only=true"], capture_output=True, text=True, check=True)
    medians = {}
    for entry in json.loads(out.stdout)["benchmarks"]:
        if entry.get("aggregate_name") == "median":
            case = entry["run_name"].split("/")[-1]
            scale = {"us": 1e-6, "ns": 1e-9, "ms": 1e-3}[entry["time_unit"]]
            medians[case] = entry["real_time"] * scale
    return medians


def python_median(case, calls: int, repetitions: int) -> float:
    hm0, tp, wlev, angle = (np.array([v]) for v in CASES[case])
    times = []
    for _ in range(repetitions):
        start = time.perf_counter()
        for _ in range(calls):
            qav.run(X, Z, hm0, tp, wlev, angle, dike_normal=270.0, dam_type=3, dam_height=-1.0)
        times.append((time.perf_counter() - start) / calls)
    return statistics.median(times)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("program", help="the Google Benchmark binary qav_bench_one_step")
    parser.add_argument("--calls", type=int, default=100_000)
    parser.add_argument("--repetitions", type=int, default=5)
    args = parser.parse_args()
    print(f"qav {qav.version()}, march path {qav.march_path()}; "
          f"{args.calls} calls x {args.repetitions} repetitions per case")
    c = c_medians(args.program, args.repetitions)
    python = {case: python_median(case, args.calls, args.repetitions) for case in CASES}
    print(f"{'case':10} {'C (us/call)':>12} {'Python (us/call)':>17} {'ratio':>7}")
    for case in CASES:
        print(f"{case:10} {c[case] * 1e6:12.3f} {python[case] * 1e6:17.3f} {python[case] / c[case]:7.2f}")


if __name__ == "__main__":
    main()
