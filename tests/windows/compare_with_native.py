#!/usr/bin/env python3
"""The Windows qav.exe (under Wine) against the native qav on the same input.

usage: compare_with_native.py NATIVE_QAV EXAMPLES_DIR WORK_DIR WINDOWS_COMMAND...

WINDOWS_COMMAND is the emulator and qav.exe, as CMake runs Windows programs.
Runs `qav run` on both for the bundled example (with each kind of dam) and on
random profiles and series (fixed seed, so a failure can be replayed), and
compares the two CSV tables (each case on another march path, the same on
both sides; a path the processor lacks falls back alike): the echoed inputs, statuses and messages must be
the same text; the toe values may differ by 1e-13 relative (Windows has
another C math library). Output files that may not be written (an input, a
read-only file, a folder) are refused on both alike. Exits 1 on the first
difference beyond that.
"""
import csv
import io
import math
import os
import random
import subprocess
import sys

TOLERANCE = 1e-13
SEED = 20250117
RANDOM_CASES = 6
STEPS_PER_CASE = 300
# Columns that repeat the input: written so that they read back as the same
# doubles, on every platform.
ECHOED = {"step", "hm0", "tp", "wlev", "angle"}
MARCH_PATHS = ["avx2", "avx512", "baseline", "reference"]


def write_csv(path, header, rows):
    with open(path, "w", newline="") as file:
        file.write(",".join(header) + "\n")
        for row in rows:
            file.write(",".join(repr(v) for v in row) + "\n")


def random_case(rng, index, work):
    """A random foreshore rising towards the dike and a random storm on it."""
    points = rng.randint(2, 25)
    x = sorted(rng.sample(range(0, 3000), points))
    start, end = rng.uniform(-20.0, -4.0), rng.uniform(-3.0, 2.0)
    z = [start + (end - start) * (xi - x[0]) / (x[-1] - x[0]) + rng.uniform(-0.5, 0.5) for xi in x]
    profile = os.path.join(work, f"profile{index}.csv")
    write_csv(profile, ["x", "z"], zip([float(v) for v in x], z))

    normal = rng.choice([0.0, 90.0, 180.0, 270.0, rng.uniform(0.0, 360.0)])
    rows = []
    for _ in range(STEPS_PER_CASE):
        hm0 = rng.choice([0.0, rng.uniform(0.0, 0.05)]) if rng.random() < 0.05 else rng.uniform(0.1, 4.5)
        rows.append((hm0, rng.uniform(2.0, 15.0), rng.uniform(-1.0, 3.0), (normal + rng.uniform(-100.0, 100.0)) % 360.0))
    series = os.path.join(work, f"series{index}.csv")
    write_csv(series, ["hm0", "tp", "wlev", "angle"], rows)

    dam = rng.choice(["none", "caisson", "wall", "dam"])
    crest = rng.uniform(-3.0, 1.0)
    options = ["--dike-normal", repr(normal), "--dam", dam] + (["--dam-height", repr(crest)] if dam != "none" else []) + [
               "--alpha", repr(rng.uniform(0.5, 1.5)), "--fc", repr(rng.uniform(0.0, 0.05)),
               "--ratio-depth", repr(rng.uniform(0.1, 0.6)), "--min-step-size", repr(rng.uniform(0.25, 2.0))]
    return os.path.basename(profile), os.path.basename(series), options


def run(command, work, output, march_path):
    # An output file that exists already is replaced, as on Linux.
    with open(os.path.join(work, output), "w") as file:
        file.write("an earlier table\n")
    environment = dict(os.environ, QAV_MARCH_PATH=march_path)
    result = subprocess.run(command + ["-o", output, "--quiet"], cwd=work, capture_output=True, text=True,
                            timeout=300, env=environment)
    # Exit 1 is a run that failed by the library's rule: its table is still written.
    if result.returncode not in (0, 1):
        sys.exit(f"{' '.join(command)}: exit {result.returncode}\n{result.stderr}")
    with open(os.path.join(work, output), "rb") as file:
        table = file.read().decode()
    separator = ";" if table.startswith("step;") else ","
    return result.returncode, list(csv.reader(io.StringIO(table, newline=""), delimiter=separator)), table


def relative_difference(a, b):
    if a == b or (math.isnan(a) and math.isnan(b)):
        return 0.0
    return abs(a - b) / max(abs(a), abs(b))


def compare(name, native, windows):
    """The largest relative difference of the toe values; exits on a fault."""
    if native[0] != windows[0]:
        sys.exit(f"{name}: exit code {native[0]} natively, {windows[0]} on Windows")
    if native[2].count("\r\n") != windows[2].count("\r\n") or native[2][:5] != windows[2][:5]:
        sys.exit(f"{name}: the tables' layouts differ (separator, line ends)")
    native, windows = native[1], windows[1]
    if len(native) != len(windows) or native[0] != windows[0]:
        sys.exit(f"{name}: tables differ in shape or header:\n{native[0]}\n{windows[0]}")
    header = native[0]
    largest = 0.0
    for line, (a_row, b_row) in enumerate(zip(native[1:], windows[1:]), start=2):
        for column, a, b in zip(header, a_row, b_row):
            if a == b:
                continue
            try:
                a_value, b_value = float(a.replace(",", ".")), float(b.replace(",", "."))
            except ValueError:
                sys.exit(f"{name}: line {line}, {column}: '{a}' natively, '{b}' on Windows")
            if column in ECHOED:
                sys.exit(f"{name}: line {line}, input {column} echoed as {a} natively, {b} on Windows")
            difference = relative_difference(a_value, b_value)
            if not difference <= TOLERANCE:
                sys.exit(f"{name}: line {line}, {column}: {a} natively, {b} on Windows "
                         f"({difference:.2e} relative, more than {TOLERANCE:g})")
            largest = max(largest, difference)
    return largest, len(native) - 1


def check_refusals(native_qav, windows_command, work):
    """-o naming an input, a read-only file or a folder: exit 2 on both, the
    files untouched."""
    read_only = os.path.join(work, "read-only.csv")
    if os.path.exists(read_only):
        os.chmod(read_only, 0o644)
    with open(read_only, "w") as file:
        file.write("keep me\n")
    os.chmod(read_only, 0o444)
    os.makedirs(os.path.join(work, "folder.csv"), exist_ok=True)
    arguments = ["run", "--profile", "profile.csv", "--series", "series.csv", "--dike-normal", "270", "-o"]
    for target in ("series.csv", "read-only.csv", "folder.csv"):
        with open(os.path.join(work, "series.csv"), "rb") as file:
            series = file.read()
        for side, command in (("natively", [native_qav]), ("on Windows", windows_command)):
            result = subprocess.run(command + arguments + [target], cwd=work, capture_output=True, text=True,
                                    timeout=300)
            if result.returncode != 2 or "qav: " not in result.stderr:
                sys.exit(f"-o {target} {side}: exit {result.returncode}, expected 2 with a message\n{result.stderr}")
        with open(os.path.join(work, "series.csv"), "rb") as file:
            if file.read() != series:
                sys.exit("-o series.csv changed the input")
    with open(read_only) as file:
        if file.read() != "keep me\n":
            sys.exit("the read-only file was written")


def check_log_name(windows_command, work):
    """A log named in UTF-8 with an umlaut is written under that name."""
    log = "Protokoll_Büsum.log"
    if os.path.exists(os.path.join(work, log)):
        os.remove(os.path.join(work, log))
    arguments = ["run", "--profile", "profile.csv", "--series", "series.csv", "--dike-normal", "270",
                 "--quiet", "-o", "logged.csv", "--log", log]
    result = subprocess.run(windows_command + arguments, cwd=work, capture_output=True, text=True, timeout=300)
    if result.returncode != 0:
        sys.exit(f"--log {log} on Windows: exit {result.returncode}\n{result.stderr}")
    if not os.path.exists(os.path.join(work, log)) or os.path.getsize(os.path.join(work, log)) == 0:
        sys.exit(f"--log {log} on Windows: no log under that name; in the folder: {sorted(os.listdir(work))}")


def main():
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    native_qav, examples, work, windows_command = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    if not os.access(native_qav, os.X_OK):
        sys.exit(f"no native qav at {native_qav}: build the release preset first "
                 "(cmake --preset release && cmake --build --preset release), or set QAV_NATIVE_QAV")
    os.makedirs(work, exist_ok=True)
    for name in ("profile.csv", "series.csv"):
        with open(os.path.join(examples, name), "rb") as source, open(os.path.join(work, name), "wb") as copy:
            copy.write(source.read())

    # A German export under a name with an umlaut, its column named with a degree sign: the command
    # line and file names reach qav.exe in UTF-8, and the table keeps the file's ';', ',' and CR LF.
    with open(os.path.join(examples, "series.csv"), newline="") as source:
        rows = list(csv.reader(line for line in source if not line.startswith("#")))
    german = "Sturmflut_Büsum.csv"
    with open(os.path.join(work, german), "w", encoding="utf-8", newline="") as file:
        names = {"angle": "Richtung [°N]"}
        file.write(";".join(names.get(name, name) for name in rows[0]) + "\r\n")
        file.writelines(";".join(cell.replace(".", ",") for cell in row) + "\r\n" for row in rows[1:])
    cases = [("German export, UTF-8 names", "profile.csv", german,
              ["--dike-normal", "270", "--column", "angle=Richtung [°N]"])]
    cases += [(f"example, {dam}", "profile.csv", "series.csv",
              ["--dike-normal", "270", "--dam", dam] + (["--dam-height", "-1"] if dam != "none" else []))
             for dam in ("none", "caisson", "wall", "dam")]
    rng = random.Random(SEED)
    for index in range(RANDOM_CASES):
        profile, series, options = random_case(rng, index, work)
        cases.append((f"random case {index} (seed {SEED})", profile, series, options))

    largest, steps = 0.0, 0
    for number, (name, profile, series, options) in enumerate(cases):
        arguments = ["run", "--profile", profile, "--series", series] + options
        path = MARCH_PATHS[number % len(MARCH_PATHS)]
        native = run([native_qav] + arguments, work, f"native{number}_ä.csv", path)
        windows = run(windows_command + arguments, work, f"windows{number}_ä.csv", path)
        case_largest, case_steps = compare(f"{name}, march path {path}", native, windows)
        largest, steps = max(largest, case_largest), steps + case_steps
    check_refusals(native_qav, windows_command, work)
    check_log_name(windows_command, work)
    print(f"{len(cases)} runs, {steps} time steps: the same table natively and on Windows; "
          f"largest relative difference of a toe value {largest:.2e}")


if __name__ == "__main__":
    main()
