#!/usr/bin/env python3
"""Qav against laboratory measurements of wave decay over a foreshore.

Every gauge of a flume is taken as a dike toe: the bed is cut at the gauge's
x, the model runs one time step, and the significant wave height at the toe
(hm0_toe) is compared with the measured one. The main comparison starts the
profile at the first gauge and forces it with the Hm0 measured there; the
second applies the test's target Hm0 at the wave board. The data sets and their sources are described in validation/README.md,
the method and the results in docs/validation.md.

    # figures into docs/figures, documented values into validation/expected.json,
    # the markdown tables of docs/validation.md to standard output
    python3 validation/run_validation.py

    # compare with validation/expected.json and write nothing (figures only
    # into a folder given with --figures); exit 1 when the RMSE of a
    # comparison lies more than 5 % above or below its documented value
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

# An RMSE more than this fraction above or below its documented value fails
# --check: a much smaller error is as much a change of the model as a larger.
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
    hm0: float               # target Hm0 of the test at the wave board (m)
    tp: float                # peak period (s)
    wlev: float              # still water level (m, datum of the bed)
    min_step_size: float     # smallest grid step (m)
    board: Optional[float]   # x of the wave board where the bed file starts later (flat floor there)
    zones: tuple             # (name, x where it starts) from the board towards the shore; the last
                             # is where a dike toe would stand

    @property
    def folder(self) -> Path:
        return HERE / self.key


CASES = (
    Case("boers-1c", "Boers (1996) test 1C, barred laboratory beach", "hm0-measured.csv", "hm0",
         hm0=0.1, tp=1.0 / 0.3, wlev=0.0, min_step_size=0.01, board=None,
         zones=(("offshore", 0.0), ("bar and trough", 19.0), ("inner slope", 25.4))),
    Case("lip-11d-2e", "LIP 11D test 2E, Delta flume (prototype scale)", "hrms-measured.csv", "hrms",
         hm0=1.4, tp=5.0, wlev=4.56, min_step_size=0.05, board=0.0,
         zones=(("offshore", 0.0), ("bar", 125.0), ("behind the bar", 142.0))),
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


# The two ways a case is forced. The main comparison starts the profile at the
# first gauge and gives it the Hm0 measured there: that gauge is the forcing
# and is not compared. The other applies the test's target Hm0 at the wave
# board and compares every gauge.
GAUGE = "first gauge"
TARGET = "target at the board"


def cut(x: np.ndarray, z: np.ndarray, start: float, at: float) -> tuple[np.ndarray, np.ndarray]:
    """The profile from x = start (the forcing) to x = at (the toe), both ends interpolated."""
    if at <= start + 1e-9:
        return np.array([at]), np.array([np.interp(at, x, z)])
    keep = (x > start + 1e-9) & (x < at - 1e-9)
    cx = np.concatenate(([start], x[keep], [at]))
    return cx, np.interp(cx, x, z)


def toe_hm0(case: Case, x: np.ndarray, z: np.ndarray, start: float, hm0: float, at: float,
            parameters: dict, min_step_size: float) -> float:
    """Hm0 at a toe placed at x = at, from one time step forced with hm0 at x = start."""
    cx, cz = cut(x, z, start, at)
    result = qav.run(cx, cz, [hm0], [case.tp], [case.wlev], [0.0], dike_normal=0.0,
                     min_step_size=min_step_size, invalid_value=INVALID, **parameters)
    toe = float(result.hm0_toe[0])
    if not math.isfinite(toe) or toe == INVALID:
        reason = getattr(result, "message", "")
        raise RuntimeError(f"{case.key}: the model gave no wave height at x = {at} m: {reason}")
    return toe


@dataclass
class Outcome:
    case: Case
    forcing: str             # GAUGE or TARGET
    start: float             # x of the forcing (m)
    hm0: float               # Hm0 of the forcing (m)
    x: np.ndarray            # bed x
    z_measured: np.ndarray   # bed as in the data file
    z: np.ndarray            # bed the model gets
    gauge_x: np.ndarray      # the gauges compared
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


def measured_hm0(case: Case) -> tuple[np.ndarray, np.ndarray]:
    gauge_x, height = read_columns(case.folder / case.measured_file)
    return gauge_x, height * HRMS_TO_HM0 if case.quantity == "hrms" else height


def compute(case: Case, changes: Optional[dict] = None, forcing: str = GAUGE) -> Outcome:
    changes = dict(changes or {})
    grid = changes.pop("grid", 1.0)
    min_step_size = changes.pop("min_step_size", case.min_step_size) * grid
    parameters = {**PARAMETERS, **changes}
    parameters["ratio_depth"] *= grid
    x, z_measured, z = bed_of(case)
    gauge_x, measured = measured_hm0(case)
    if forcing == GAUGE:
        start, hm0 = float(gauge_x[0]), float(measured[0])
        gauge_x, measured = gauge_x[1:], measured[1:]
    else:
        start, hm0 = float(x[0]), case.hm0
    computed = np.array([toe_hm0(case, x, z, start, hm0, g, parameters, min_step_size) for g in gauge_x])
    return Outcome(case, forcing, start, hm0, x, z_measured, z, gauge_x, measured, computed)


def zones(outcome: Outcome) -> list[tuple[str, float, float, Outcome]]:
    """The outcome split into the case's zones: name, x from, x to, and the gauges in it."""
    case = outcome.case
    bounds = [start for _, start in case.zones] + [math.inf]
    parts = []
    for (name, begin), end in zip(case.zones, bounds[1:]):
        inside = (outcome.gauge_x >= begin) & (outcome.gauge_x < end)
        if not inside.any():
            continue
        part = Outcome(case, outcome.forcing, outcome.start, outcome.hm0, outcome.x, outcome.z_measured,
                       outcome.z, outcome.gauge_x[inside], outcome.measured[inside], outcome.computed[inside])
        parts.append((name, float(part.gauge_x.min()), float(part.gauge_x.max()), part))
    return parts


def along_flume(outcome: Outcome) -> tuple[np.ndarray, np.ndarray]:
    """Hm0 with the toe at every wet bed point behind the forcing, for the computed curve of the figure."""
    case = outcome.case
    wet = outcome.x[(case.wlev - outcome.z > 0.0) & (outcome.x >= outcome.start)]
    xs = np.union1d(np.union1d(wet, outcome.gauge_x), [outcome.start])
    hm0 = np.array([toe_hm0(case, outcome.x, outcome.z, outcome.start, outcome.hm0, at, PARAMETERS,
                            case.min_step_size) for at in xs])
    return xs, hm0


def wave_number(tp: float, h: np.ndarray) -> np.ndarray:
    """k of linear waves of period tp in depth h (Newton on the dispersion relation, to convergence)."""
    omega2 = (2.0 * math.pi / tp) ** 2
    g = PARAMETERS["ag"]
    kh = np.maximum(omega2 * h / g, np.sqrt(omega2 * h / g))
    for _ in range(50):
        f = kh * np.tanh(kh) - omega2 * h / g
        kh = kh - f / (np.tanh(kh) + kh / np.cosh(kh) ** 2)
    return kh / h


def ranges(outcome: Outcome) -> dict:
    """What the comparison covers: period, steepness, depths, kh, Hm0/h and bed slopes at and between the gauges."""
    case = outcome.case
    g = PARAMETERS["ag"]
    h = case.wlev - np.interp(outcome.gauge_x, outcome.x, outcome.z)
    kh = wave_number(case.tp, h) * h
    stretch = (outcome.x >= outcome.start) & (outcome.x <= outcome.gauge_x.max())
    sx, sz = outcome.x[stretch], outcome.z[stretch]
    slopes = np.diff(sz) / np.diff(sx)
    h_forcing = case.wlev - float(np.interp(outcome.start, outcome.x, outcome.z))
    return {
        "Tp (s)": f"{case.tp:.3g}",
        "Hm0 / L0 at the forcing (-)": f"{outcome.hm0 / (g * case.tp ** 2 / (2 * math.pi)):.4f}",
        "depth at the forcing, at the gauges (m)": f"{h_forcing:.3g}; {h.min():.3g} to {h.max():.3g}",
        "kh at Tp at the gauges (-)": f"{kh.min():.2f} to {kh.max():.2f}",
        "measured Hm0 / h at the gauges (-)": f"{np.min(outcome.measured / h):.2f} to {np.max(outcome.measured / h):.2f}",
        "bed slope, mean and steepest up (-)": f"1:{(sx[-1] - sx[0]) / (sz[-1] - sz[0]):.0f}; 1:{1 / slopes.max():.1f}",
        "bed slope, steepest down (-)": f"1:{-1 / slopes.min():.1f}" if slopes.min() < 0 else "none",
    }


def draw(outcome: Outcome, target: Outcome, directory: Path) -> Path:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    case = outcome.case
    xs, curve = along_flume(outcome)
    txs, tcurve = along_flume(target)
    lab = case.hm0 < 0.5  # laboratory scale: heights in mm read better
    scale, unit = (1000.0, "mm") if lab else (1.0, "m")
    fmt = "{:.1f}" if lab else "{:.3f}"

    figure, (top, middle, bottom) = plt.subplots(
        3, 1, sharex=True, figsize=(10, 8.2), dpi=110, height_ratios=(3, 1.6, 1.8), layout="constrained")
    top.plot(xs, curve * scale, color="tab:blue", linewidth=2,
             label=f"computed, forced at the first gauge ({fmt.format(outcome.hm0 * scale)} {unit})")
    top.plot(txs, tcurve * scale, color="0.45", linewidth=1.2, linestyle="--",
             label=f"computed, target {case.hm0:g} m at the board")
    top.plot(target.gauge_x, target.measured * scale, "o", markersize=5, markerfacecolor="white",
             markeredgecolor="black", markeredgewidth=1.2,
             label="measured" + (" (√2·Hrms)" if case.quantity == "hrms" else ""))
    top.plot([outcome.start], [outcome.hm0 * scale], "o", markersize=5, color="black",
             label="first gauge: the forcing")
    top.set_ylabel(f"Hm0 ({unit})")
    top.set_ylim(0, max(curve.max(), tcurve.max(), target.measured.max()) * scale * 1.15)
    top.grid(True, color="0.88")
    sign = "+" if outcome.bias >= 0 else "−"
    statistics = (f"forced at the first gauge:\n{outcome.gauge_x.size} gauges\n"
                  f"bias {sign}{fmt.format(abs(outcome.bias) * scale)} {unit}\n"
                  f"RMSE {fmt.format(outcome.rmse * scale)} {unit}")
    legend = top.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), frameon=False, title="Hm0", fontsize=9)
    legend._legend_box.align = "left"
    top.text(1.02, 0.30, statistics, transform=top.transAxes, va="top", ha="left", fontsize=9)
    top.set_title(f"{case.title}: Tp {case.tp:.3g} s, still water level {case.wlev:g} m",
                  fontsize=11, loc="left")

    middle.axhspan(-10, 10, color="tab:green", alpha=0.12, linewidth=0, label="±10 %")
    middle.axhline(0, color="0.5", linewidth=0.8)
    middle.plot(target.gauge_x, 100 * target.error / target.measured, "x", color="0.45", markersize=5,
                label="target at the board")
    middle.plot(outcome.gauge_x, 100 * outcome.error / outcome.measured, "o", color="tab:blue",
                markersize=4, label="first gauge")
    worst = max(np.abs(100 * outcome.error / outcome.measured).max(),
                np.abs(100 * target.error / target.measured).max())
    limit = max(15.0, 5.0 * math.ceil(worst / 5.0 + 0.5))
    middle.set_ylim(-limit, limit)
    for name, begin in case.zones[1:]:
        for axis in (middle, bottom):
            axis.axvline(begin, color="0.35", linestyle=":", linewidth=1)
    for name, begin in case.zones:
        middle.text(begin, limit * 0.97, " " + name, fontsize=8, va="top", ha="left", color="0.3")
    middle.set_ylabel("computed − measured\n(% of measured)", fontsize=9)
    middle.grid(True, color="0.88")
    middle.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), frameon=False, title="forced at", fontsize=9)

    floor = min(outcome.z.min(), 0.0) - 0.05 * (case.wlev - outcome.z.min())
    bottom.fill_between(outcome.x, floor, outcome.z, color="#e3cf9f", linewidth=0)
    bottom.plot(outcome.x, outcome.z, color="#8a6d2f", linewidth=1.5, label="bed (model)")
    bottom.axhline(case.wlev, color="tab:blue", linestyle="--", linewidth=1, label="still water level")
    bottom.plot(target.gauge_x, np.full(target.gauge_x.size, case.wlev), "|", color="black",
                markersize=9, label="gauges")
    bottom.set_ylim(floor, case.wlev + 0.15 * (case.wlev - outcome.z.min()))
    bottom.set_xlim(outcome.x[0], outcome.x[-1])
    bottom.set_xlabel("distance from the wave board x (m)")
    bottom.set_ylabel("level (m)")
    bottom.grid(True, color="0.88")
    bottom.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), frameon=False, fontsize=9)

    directory.mkdir(parents=True, exist_ok=True)
    path = directory / f"{case.key}.png"
    figure.savefig(path)
    plt.close(figure)
    return path


def summary(o: Outcome) -> dict:
    return {
        "forcing_x": o.start,
        "forcing_hm0": round(o.hm0, 6),
        "gauges": int(o.gauge_x.size),
        "mean_measured_hm0": round(o.mean_measured, 6),
        "bias": round(o.bias, 6),
        "rmse": round(o.rmse, 6),
    }


def documented(pairs: list[tuple[Outcome, Outcome]]) -> dict:
    return {
        "about": "Hm0 at the gauges, computed minus measured (m), forced at the first gauge and, under "
                 "'target', at the board; written by validation/run_validation.py, checked by its --check "
                 "mode (each RMSE within the tolerance of its value, either way).",
        "tolerance": RMSE_TOLERANCE,
        "parameters": PARAMETERS,
        "cases": {
            o.case.key: {"min_step_size": o.case.min_step_size, **summary(o), "target": summary(t)}
            for o, t in pairs
        },
    }


def markdown_tables(pairs: list[tuple[Outcome, Outcome]]) -> str:
    lines = ["| case | forced at | Hm0 there (m) | gauges | mean measured Hm0 (m) | bias (m) | RMSE (m) | "
             "bias / mean | RMSE / mean |", "|---|---|---:|---:|---:|---:|---:|---:|---:|"]
    for pair in pairs:
        for o in pair:
            where = f"first gauge, x = {o.start:g} m" if o.forcing == GAUGE else f"board, x = {o.start:g} m (target)"
            lines.append(f"| {o.case.key} | {where} | {o.hm0:.4f} | {o.gauge_x.size} | {o.mean_measured:.4f} | "
                         f"{o.bias:+.4f} | {o.rmse:.4f} | {o.bias / o.mean_measured:+.1%} | "
                         f"{o.rmse / o.mean_measured:.1%} |")
    lines += ["", "| case | zone | gauges at x (m) | gauges | mean measured Hm0 (m) | bias (m) | RMSE (m) | "
              "bias / mean | RMSE / mean | computed / measured |", "|---|---|---|---:|---:|---:|---:|---:|---:|---|"]
    for o, _ in pairs:
        for name, begin, end, part in zones(o):
            ratio = part.computed / part.measured
            lines.append(f"| {o.case.key} | {name} | {begin:g} to {end:g} | {part.gauge_x.size} | "
                         f"{part.mean_measured:.4f} | {part.bias:+.4f} | {part.rmse:.4f} | "
                         f"{part.bias / part.mean_measured:+.1%} | {part.rmse / part.mean_measured:.1%} | "
                         f"{ratio.min():.2f} to {ratio.max():.2f} |")
    lines += ["", "| variant (forced at the first gauge) | "
              + " | ".join(f"{o.case.key} bias (m) | {o.case.key} RMSE (m)" for o, _ in pairs)
              + " |", "|---|" + "---:|---:|" * len(pairs)]
    for label, changes in VARIANTS:
        cells = []
        for o, _ in pairs:
            v = compute(o.case, changes)
            cells.append(f"{v.bias:+.4f} | {v.rmse:.4f}")
        lines.append(f"| {label} | " + " | ".join(cells) + " |")
    lines += ["", "| case | bed points | steeper than 1:10 as measured | points smoothed | largest change (mm) | "
              "where (x, m) |", "|---|---:|---:|---:|---:|---|"]
    for o, _ in pairs:
        steep = int(np.count_nonzero(np.abs(np.diff(o.z_measured)) / np.diff(o.x) > SLOPE_LIMIT))
        changed = np.nonzero(o.z != o.z_measured)[0]
        where = ", ".join(f"{v:g}" for v in o.x[changed])
        largest = float(np.max(np.abs(o.z - o.z_measured))) * 1000.0
        lines.append(f"| {o.case.key} | {o.x.size} | {steep} segments | {changed.size} | {largest:.1f} | {where} |")
    lines += ["", "| case | gauge x (m) | measured Hm0 (m) | computed, first gauge (m) | ratio | "
              "computed, target (m) | ratio |", "|---|---:|---:|---:|---:|---:|---:|"]
    for o, t in pairs:
        if o.case.quantity != "hrms":
            continue  # the 70 Boers gauges are in the figure
        main = dict(zip(o.gauge_x, o.computed))
        for g, m, c in zip(t.gauge_x, t.measured, t.computed):
            first = f"{main[g]:.3f} | {main[g] / m:.2f}" if g in main else "(forcing) | "
            lines.append(f"| {o.case.key} | {g:g} | {m:.3f} | {first} | {c:.3f} | {c / m:.2f} |")
    covered = [ranges(o) for o, _ in pairs]
    lines += ["", "| quantity | " + " | ".join(o.case.key for o, _ in pairs) + " |",
              "|---|" + "---|" * len(pairs)]
    for name in covered[0]:
        lines.append(f"| {name} | " + " | ".join(c[name] for c in covered) + " |")
    return "\n".join(lines)


def check(pairs: list[tuple[Outcome, Outcome]], expected_path: Path) -> int:
    try:
        expected = json.loads(expected_path.read_text())["cases"]
    except (OSError, ValueError, KeyError) as error:
        print(f"cannot read the documented values in {expected_path}: {error}", file=sys.stderr)
        return 1
    failed = 0
    for o, t in pairs:
        key = o.case.key
        documented_case = expected.get(key, {})
        for outcome, values in ((o, documented_case), (t, documented_case.get("target", {}))):
            name = f"{key}, forced at: {outcome.forcing}"
            if "rmse" not in values:
                print(f"FAILED {name}: no documented RMSE in {expected_path}")
                failed += 1
                continue
            low, high = values["rmse"] * (1.0 - RMSE_TOLERANCE), values["rmse"] * (1.0 + RMSE_TOLERANCE)
            inside = low <= outcome.rmse <= high
            print(f"{'ok' if inside else 'FAILED'} {name}: RMSE {outcome.rmse:.6f} m (documented "
                  f"{values['rmse']:.6f} m, allowed {low:.6f} to {high:.6f} m), bias {outcome.bias:+.6f} m "
                  f"over {outcome.gauge_x.size} gauges")
            if not inside:
                failed += 1
    if failed:
        print("An RMSE outside its band is a change of the model's results: when it is intended, run "
              "validation/run_validation.py and update docs/validation.md with the tables it prints.")
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
        pairs = [(compute(case, forcing=GAUGE), compute(case, forcing=TARGET)) for case in CASES]
    except (OSError, ValueError, RuntimeError) as error:
        print(f"validation: {error}", file=sys.stderr)
        return 1
    if args.check:
        code = check(pairs, args.expected)
        if args.figures is not None:
            for o, t in pairs:
                print(f"drew {draw(o, t, args.figures)}")
        return code

    for o, t in pairs:
        print(f"wrote {draw(o, t, args.figures or FIGURES)}", file=sys.stderr)
    args.expected.write_text(json.dumps(documented(pairs), indent=2) + "\n")
    print(f"wrote {args.expected}", file=sys.stderr)
    print(markdown_tables(pairs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
