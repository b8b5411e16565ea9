#!/usr/bin/env python3
"""Qav against laboratory measurements of wave decay over a foreshore.

Every gauge of a flume is taken as a dike toe: the bed is cut at the gauge's
x, the model runs one time step with the offshore forcing of the test, and the
significant wave height at the toe (hm0_toe) is compared with the measured
one. The data sets and their sources are described in validation/README.md,
the method and the results in docs/validation.md.

    # figures into docs/figures, documented values into validation/expected.json,
    # the markdown tables of docs/validation.md to standard output
    python3 validation/run_validation.py

    # compare with validation/expected.json and write nothing (figures only
    # into a folder given with --figures); exit 1 when the RMSE of a case has
    # grown by more than 5 % over its documented value
    python3 validation/run_validation.py --check

The model runs in the Python package qav of a build: put build/release/python
on PYTHONPATH.
"""

from __future__ import annotations

import argparse
import csv
import json
import math
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Optional

import numpy as np

import qav

HERE = Path(__file__).resolve().parent
REPOSITORY = HERE.parent
EXPECTED = HERE / "expected.json"
FIGURES = REPOSITORY / "docs" / "figures"

# Hm0 = sqrt(2) Hrms: the factor the model itself uses to turn the root-mean-
# square height it carries into Hm0 at the toe (HrmsToHm0 in physics/physics.h).
HRMS_TO_HM0 = 1.4142135623730951

# Steepest bed slope the profile check accepts between neighbouring points.
SLOPE_LIMIT = 0.1

# An RMSE more than this fraction above its documented value fails --check.
RMSE_TOLERANCE = 0.05

INVALID = -999.0

# Model parameters of every run: the defaults of qav, except rho, that of the
# fresh water in the flumes (it cancels from the wave height: the energy and
# both dissipations scale with it), and a grid fine enough that the toe height
# no longer depends on it (the march is first order in the grid step): a step
# of 5 % of the smallest depth, and at least MinStepSize of the case.
PARAMETERS = {
    "ag": 9.81,
    "rho": 1000.0,
    "alpha": 1.0,
    "fc": 0.01,
    "ratio_depth": 0.05,
}


@dataclass(frozen=True)
class Case:
    key: str                 # folder under validation/, name of the figure
    title: str
    measured_file: str       # x and the measured height
    quantity: str            # "hm0" or "hrms": what the gauges give
    hm0: float               # offshore Hm0 at the first profile point (m)
    tp: float                # peak period (s)
    wlev: float              # still water level (m, datum of the bed)
    min_step_size: float     # smallest grid step (m)
    board: Optional[float]   # x of the wave board where the bed file starts later (flat floor there)

    @property
    def folder(self) -> Path:
        return HERE / self.key


CASES = (
    Case("boers-1c", "Boers (1996) test 1C, barred laboratory beach", "hm0-measured.csv", "hm0",
         hm0=0.1, tp=1.0 / 0.3, wlev=0.0, min_step_size=0.01, board=None),
    Case("lip-11d-2e", "LIP 11D test 2E, Delta flume (prototype scale)", "hrms-measured.csv", "hrms",
         hm0=1.4, tp=5.0, wlev=4.56, min_step_size=0.05, board=0.0),
)

# Variants for the sensitivity table: (label, changes to PARAMETERS, or to
# min_step_size, or a factor on both grid parameters under "grid").
VARIANTS = (
    ("as documented", {}),
    ("Fc = 0 (no bottom friction)", {"fc": 0.0}),
    ("Fc = 0.02", {"fc": 0.02}),
    ("Alpha = 0.8", {"alpha": 0.8}),
    ("Alpha = 1.2", {"alpha": 1.2}),
    ("grid twice as fine", {"grid": 0.5}),
    ("grid twice as coarse", {"grid": 2.0}),
    ("qav's default grid (RatioDepth 0.5, MinStepSize 1 m)", {"ratio_depth": 0.5, "min_step_size": 1.0}),
)


def read_columns(path: Path) -> tuple[np.ndarray, np.ndarray]:
    """The two numeric columns of a data file: '#' comment lines, then a header row."""
    rows = []
    with path.open(newline="") as handle:
        lines = (line for line in handle if line.strip() and not line.startswith("#"))
        reader = csv.reader(lines)
        next(reader)  # header
        for number, row in enumerate(reader, start=2):
            if len(row) != 2:
                raise ValueError(f"{path}: data row {number} has {len(row)} fields, expected 2")
            rows.append((float(row[0]), float(row[1])))
    data = np.array(rows, dtype=np.float64)
    return data[:, 0], data[:, 1]


def smooth_to_slope_limit(x: np.ndarray, z: np.ndarray, limit: float = SLOPE_LIMIT) -> np.ndarray:
    """The bed with every segment at most as steep as limit, changed as little as needed.

    Only the two end points of a segment steeper than limit are touched: each
    is replaced by a 1-2-1 average with its neighbours. This is repeated
    until no segment is too steep. The first and last points stay as they are.
    """
    z = z.copy()
    for _ in range(1000):
        steep = np.nonzero(np.abs(np.diff(z)) / np.diff(x) > limit)[0]
        if steep.size == 0:
            return z
        points = sorted({int(i) for i in steep} | {int(i) + 1 for i in steep})
        smoothed = z.copy()
        for j in points:
            if 0 < j < len(z) - 1:
                smoothed[j] = 0.25 * z[j - 1] + 0.5 * z[j] + 0.25 * z[j + 1]
        if np.array_equal(smoothed, z):
            break
        z = smoothed
    raise ValueError("the bed cannot be brought within the slope limit by local smoothing")


def bed_of(case: Case) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """x, the bed as measured and the bed the model gets (flat floor to the board, smoothed)."""
    x, z = read_columns(case.folder / "profile.csv")
    if case.board is not None and case.board < x[0]:
        x = np.insert(x, 0, case.board)
        z = np.insert(z, 0, 0.0)  # the flume floor, flat from the wave board
    return x, z, smooth_to_slope_limit(x, z)


def cut(x: np.ndarray, z: np.ndarray, at: float) -> tuple[np.ndarray, np.ndarray]:
    """The profile from its first point up to x = at, which becomes its last point (the toe)."""
    keep = x < at - 1e-9
    return np.append(x[keep], at), np.append(z[keep], np.interp(at, x, z))


def toe_hm0(case: Case, x: np.ndarray, z: np.ndarray, at: float, parameters: dict, min_step_size: float) -> float:
    """Hm0 at a toe placed at x = at, from one time step of the model."""
    cx, cz = cut(x, z, at)
    result = qav.run(cx, cz, [case.hm0], [case.tp], [case.wlev], [0.0], dike_normal=0.0,
                     min_step_size=min_step_size, invalid_value=INVALID, **parameters)
    hm0 = float(result.hm0_toe[0])
    if not math.isfinite(hm0) or hm0 == INVALID:
        reason = getattr(result, "message", "")
        raise RuntimeError(f"{case.key}: the model gave no wave height at x = {at} m: {reason}")
    return hm0


@dataclass
class Outcome:
    case: Case
    x: np.ndarray            # bed x
    z_measured: np.ndarray   # bed as in the data file
    z: np.ndarray            # bed the model gets
    gauge_x: np.ndarray
    measured: np.ndarray     # Hm0 at the gauges (m)
    computed: np.ndarray     # Hm0 at the gauges (m)

    @property
    def error(self) -> np.ndarray:
        return self.computed - self.measured

    @property
    def bias(self) -> float:
        return float(np.mean(self.error))

    @property
    def rmse(self) -> float:
        return float(np.sqrt(np.mean(self.error ** 2)))

    @property
    def mean_measured(self) -> float:
        return float(np.mean(self.measured))


def compute(case: Case, changes: Optional[dict] = None) -> Outcome:
    changes = dict(changes or {})
    grid = changes.pop("grid", 1.0)
    min_step_size = changes.pop("min_step_size", case.min_step_size) * grid
    parameters = {**PARAMETERS, **changes}
    parameters["ratio_depth"] *= grid
    x, z_measured, z = bed_of(case)
    gauge_x, height = read_columns(case.folder / case.measured_file)
    measured = height * HRMS_TO_HM0 if case.quantity == "hrms" else height
    computed = np.array([toe_hm0(case, x, z, g, parameters, min_step_size) for g in gauge_x])
    return Outcome(case, x, z_measured, z, gauge_x, measured, computed)


def along_flume(outcome: Outcome) -> tuple[np.ndarray, np.ndarray]:
    """Hm0 with the toe at every wet bed point, for the computed curve of the figure."""
    case = outcome.case
    wet = outcome.x[case.wlev - outcome.z > 0.0]
    xs = np.union1d(wet, outcome.gauge_x)
    hm0 = np.array([toe_hm0(case, outcome.x, outcome.z, at, PARAMETERS, case.min_step_size) for at in xs])
    return xs, hm0


def draw(outcome: Outcome, directory: Path) -> Path:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    case = outcome.case
    xs, curve = along_flume(outcome)
    lab = case.hm0 < 0.5  # laboratory scale: heights in mm read better
    scale, unit = (1000.0, "mm") if lab else (1.0, "m")

    figure, (top, bottom) = plt.subplots(
        2, 1, sharex=True, figsize=(10, 6.4), dpi=110, height_ratios=(3, 2), layout="constrained")
    top.plot(xs, curve * scale, color="tab:blue", linewidth=2, label="computed (toe at each x)")
    top.plot(outcome.gauge_x, outcome.measured * scale, "o", markersize=5, markerfacecolor="white",
             markeredgecolor="black", markeredgewidth=1.2,
             label="measured" + (" (√2·Hrms)" if case.quantity == "hrms" else ""))
    top.set_ylabel(f"Hm0 ({unit})")
    top.set_ylim(0, max(curve.max(), outcome.measured.max()) * scale * 1.15)
    top.grid(True, color="0.88")
    sign = "+" if outcome.bias >= 0 else "−"
    fmt = "{:.1f}" if lab else "{:.3f}"
    statistics = (f"{outcome.gauge_x.size} gauges\n"
                  f"bias {sign}{fmt.format(abs(outcome.bias) * scale)} {unit}\n"
                  f"RMSE {fmt.format(outcome.rmse * scale)} {unit}")
    legend = top.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), frameon=False, title="Hm0")
    legend._legend_box.align = "left"
    top.text(1.02, 0.45, statistics, transform=top.transAxes, va="top", ha="left", fontsize=10)
    top.set_title(f"{case.title}: Hm0 {case.hm0:g} m, Tp {case.tp:.3g} s, still water level {case.wlev:g} m",
                  fontsize=11, loc="left")

    floor = min(outcome.z.min(), 0.0) - 0.05 * (case.wlev - outcome.z.min())
    bottom.fill_between(outcome.x, floor, outcome.z, color="#e3cf9f", linewidth=0)
    bottom.plot(outcome.x, outcome.z, color="#8a6d2f", linewidth=1.5, label="bed (model)")
    bottom.axhline(case.wlev, color="tab:blue", linestyle="--", linewidth=1, label="still water level")
    bottom.plot(outcome.gauge_x, np.full(outcome.gauge_x.size, case.wlev), "|", color="black",
                markersize=9, label="gauges")
    bottom.set_ylim(floor, case.wlev + 0.15 * (case.wlev - outcome.z.min()))
    bottom.set_xlim(outcome.x[0], outcome.x[-1])
    bottom.set_xlabel("distance from the wave board x (m)")
    bottom.set_ylabel("level (m)")
    bottom.grid(True, color="0.88")
    bottom.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), frameon=False)

    directory.mkdir(parents=True, exist_ok=True)
    path = directory / f"{case.key}.png"
    figure.savefig(path)
    plt.close(figure)
    return path


def documented(outcomes: list[Outcome]) -> dict:
    return {
        "about": "Hm0 at the gauges, computed minus measured (m); written by validation/run_validation.py, "
                 "checked by its --check mode (RMSE may grow by at most the tolerance).",
        "tolerance": RMSE_TOLERANCE,
        "parameters": PARAMETERS,
        "cases": {
            o.case.key: {
                "gauges": int(o.gauge_x.size),
                "min_step_size": o.case.min_step_size,
                "mean_measured_hm0": round(o.mean_measured, 6),
                "bias": round(o.bias, 6),
                "rmse": round(o.rmse, 6),
            }
            for o in outcomes
        },
    }


def markdown_tables(outcomes: list[Outcome]) -> str:
    lines = ["| case | gauges | mean measured Hm0 (m) | bias (m) | RMSE (m) | bias / mean | RMSE / mean |",
             "|---|---:|---:|---:|---:|---:|---:|"]
    for o in outcomes:
        lines.append(f"| {o.case.title} | {o.gauge_x.size} | {o.mean_measured:.4f} | {o.bias:+.4f} | "
                     f"{o.rmse:.4f} | {o.bias / o.mean_measured:+.1%} | {o.rmse / o.mean_measured:.1%} |")
    lines += ["", "| variant | " + " | ".join(f"{o.case.key} bias (m) | {o.case.key} RMSE (m)" for o in outcomes)
              + " |", "|---|" + "---:|---:|" * len(outcomes)]
    for label, changes in VARIANTS:
        cells = []
        for o in outcomes:
            v = compute(o.case, changes)
            cells.append(f"{v.bias:+.4f} | {v.rmse:.4f}")
        lines.append(f"| {label} | " + " | ".join(cells) + " |")
    lines += ["", "| case | bed points | steeper than 1:10 as measured | points smoothed | largest change (mm) | "
              "where (x, m) |", "|---|---:|---:|---:|---:|---|"]
    for o in outcomes:
        steep = int(np.count_nonzero(np.abs(np.diff(o.z_measured)) / np.diff(o.x) > SLOPE_LIMIT))
        changed = np.nonzero(o.z != o.z_measured)[0]
        where = ", ".join(f"{v:g}" for v in o.x[changed])
        largest = float(np.max(np.abs(o.z - o.z_measured))) * 1000.0
        lines.append(f"| {o.case.key} | {o.x.size} | {steep} segments | {changed.size} | {largest:.1f} | {where} |")
    lines += ["", "| case | gauge x (m) | measured Hm0 (m) | computed Hm0 (m) | computed / measured |",
              "|---|---:|---:|---:|---:|"]
    for o in outcomes:
        if o.case.quantity != "hrms":
            continue  # the 70 Boers gauges are in the figure
        for g, m, c in zip(o.gauge_x, o.measured, o.computed):
            lines.append(f"| {o.case.key} | {g:g} | {m:.3f} | {c:.3f} | {c / m:.2f} |")
    return "\n".join(lines)


def check(outcomes: list[Outcome], expected_path: Path) -> int:
    try:
        expected = json.loads(expected_path.read_text())["cases"]
    except (OSError, ValueError, KeyError) as error:
        print(f"cannot read the documented values in {expected_path}: {error}", file=sys.stderr)
        return 1
    failed = 0
    for o in outcomes:
        key = o.case.key
        if key not in expected:
            print(f"FAILED {key}: no documented RMSE in {expected_path}")
            failed += 1
            continue
        limit = expected[key]["rmse"] * (1.0 + RMSE_TOLERANCE)
        verdict = "ok" if o.rmse <= limit else "FAILED"
        print(f"{verdict} {key}: RMSE {o.rmse:.6f} m (documented {expected[key]['rmse']:.6f} m, "
              f"limit {limit:.6f} m), bias {o.bias:+.6f} m over {o.gauge_x.size} gauges")
        if o.rmse > limit:
            failed += 1
        elif o.rmse < expected[key]["rmse"] * (1.0 - RMSE_TOLERANCE):
            print(f"   {key}: the RMSE has fallen well below the documented value; "
                  f"regenerate the documentation (validation/run_validation.py)")
    return 1 if failed else 0


def main(argv: Optional[list[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--check", action="store_true",
                        help="compare the RMSE with the documented values and write nothing")
    parser.add_argument("--expected", type=Path, default=EXPECTED,
                        help="documented values (default: validation/expected.json)")
    parser.add_argument("--figures", type=Path, default=None,
                        help="folder of the figures (default: docs/figures; with --check: none drawn "
                             "unless given)")
    args = parser.parse_args(argv)

    try:
        outcomes = [compute(case) for case in CASES]
    except (OSError, ValueError, RuntimeError) as error:
        print(f"validation: {error}", file=sys.stderr)
        return 1
    if args.check:
        code = check(outcomes, args.expected)
        if args.figures is not None:
            for o in outcomes:
                print(f"drew {draw(o, args.figures)}")
        return code

    for o in outcomes:
        print(f"wrote {draw(o, args.figures or FIGURES)}", file=sys.stderr)
    args.expected.write_text(json.dumps(documented(outcomes), indent=2) + "\n")
    print(f"wrote {args.expected}", file=sys.stderr)
    print(markdown_tables(outcomes))
    return 0


if __name__ == "__main__":
    sys.exit(main())
