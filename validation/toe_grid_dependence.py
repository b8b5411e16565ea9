#!/usr/bin/env python3
"""How far a toe at the water line makes the toe Hm0 depend on the grid.

For three profiles (the example's 1:40 toe, a 1:10 toe, a 1:500 toe) and two
grids each, runs storms of Hm0 0.5 to 3 m at toe depths from 0 to 3 m with
`qav run`, once as given and once on a grid twice as fine (half
--min-step-size, half --ratio-depth), and counts the steps whose toe Hm0
differs by more than 5 % against the steps the note "toe at the water line"
flags. Usage: validation/toe_grid_dependence.py [path of qav]
"""
import csv
import io
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
QAV = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "release", "qav")
PROFILES = {
    "example (1:40 at the toe)": open(os.path.join(HERE, "..", "examples", "profile.csv")).read(),
    "1:10 at the toe": "x,z\n0,-8\n200,-5\n300,-3\n330,-2\n350,0\n",
    "1:500 at the toe": "x,z\n0,-6\n200,-3\n400,-1.5\n500,-1.2\n600,-1.0\n",
}
GRIDS = {"example (1:40 at the toe)": (1.0, 0.2), "1:10 at the toe": (1.0, 0.5), "1:500 at the toe": (1.0, 5.0)}
DEPTHS = [0, 0.005, 0.01, 0.02, 0.05, 0.1, 0.15, 0.2, 0.25, 0.3, 0.4, 0.5, 0.75, 1.0, 1.5, 2.0, 3.0]


def run(profile, series, step, ratio):
    done = subprocess.run([QAV, "run", "--profile", profile, "--series", series, "--dike-normal", "270", "-q",
                           "--min-step-size", str(step), "--ratio-depth", str(ratio)],
                          capture_output=True, text=True, check=True)
    return list(csv.DictReader(io.StringIO(done.stdout)))


def main():
    total = {}
    with tempfile.TemporaryDirectory() as tmp:
        for name, text in PROFILES.items():
            profile = os.path.join(tmp, "profile.csv")
            with open(profile, "w") as f:
                f.write(text)
            toe = float([l for l in text.splitlines() if l and l[0].isdigit()][-1].split(",")[1])
            series = os.path.join(tmp, "series.csv")
            with open(series, "w") as f:
                f.write("hm0,tp,wlev,angle\n")
                for hm0 in (0.5, 1.0, 2.0, 3.0):
                    for depth in DEPTHS:
                        f.write(f"{hm0},{4 + 3 * hm0},{toe + depth},270\n")
            for step in GRIDS[name]:
                counts = {}
                worst_missed = 0.0
                for given, fine in zip(run(profile, series, step, 0.5), run(profile, series, step / 2, 0.25)):
                    a, b = float(given["hm0_toe"]), float(fine["hm0_toe"])
                    differs = abs(a - b) / max(a, b) if max(a, b) > 0 else 0.0
                    flagged = "toe at the water line" in given["note"]
                    key = (flagged, differs > 0.05)
                    counts[key] = counts.get(key, 0) + 1
                    total[key] = total.get(key, 0) + 1
                    if flagged and a == b == 0.0:
                        total["zero"] = total.get("zero", 0) + 1
                    if not flagged:
                        worst_missed = max(worst_missed, differs)
                print(f"{name}, --min-step-size {step}: flagged {counts.get((True, True), 0)} of "
                      f"{counts.get((True, True), 0) + counts.get((False, True), 0)} steps that differ by more "
                      f"than 5 %, and {counts.get((True, False), 0)} that do not; the largest difference of an "
                      f"unflagged step {100 * worst_missed:.1f} %")
    print(f"all: flagged {total.get((True, True), 0)} of {total.get((True, True), 0) + total.get((False, True), 0)}"
          f" that differ by more than 5 %; {total.get((True, False), 0)} flagged that do not ("
          f"{total.get('zero', 0)} of them 0 on both grids), of {len(PROFILES) * 2 * 4 * len(DEPTHS)} steps")


if __name__ == "__main__":
    main()
