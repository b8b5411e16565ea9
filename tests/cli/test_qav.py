"""Drives the qav program as a user does.

usage: test_qav.py QAV EXAMPLES_DIR [SUITE ...]
"""
import csv
import datetime
import fcntl
import hashlib
import io
import math
import os
import random
import re
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

QAV = EXAMPLES = None

RUN_COLUMNS = ["step", "hm0", "tp", "wlev", "angle", "hm0_toe", "tp_toe", "angle_toe", "status", "message", "note"]


def qav(*args, **kwargs):
    kwargs.setdefault("timeout", 60)
    return subprocess.run([QAV, *map(str, args)], capture_output=True, text=True, **kwargs)


def write(directory, name, text):
    path = os.path.join(directory, name)
    with open(path, "w") as f:
        f.write(text)
    return path


def series_text(rows):
    return "hm0,tp,wlev,angle\n" + "".join(",".join(repr(v) for v in row) + "\n" for row in rows)


def same_number(a, b):
    """Bit for bit, NaN equal to NaN."""
    return (math.isnan(a) and math.isnan(b)) or (a == b and math.copysign(1, a) == math.copysign(1, b))


# A sanitized build reserves terabytes of address space for its shadow memory.
skip_when_sanitized = unittest.skipIf(os.environ.get("QAV_SANITIZED") == "1",
                                      "an address-space limit cannot hold a sanitized program")


def limited_memory(megabytes):
    """A preexec_fn: the child's address space limited as `ulimit -v` does."""
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (megabytes << 20, megabytes << 20))
    return limit


DAM_NAMES = {0: "none", 1: "caisson", 2: "wall", 3: "dam"}


def reference(profile, series, dike_normal=0.0, dam_type=0, dam_height=0.0):
    """Rows, return code and run message of the run on one thread, one step after another."""
    args = ["run", "--profile", profile, "--series", series, "--dike-normal", dike_normal, "--threads", 1,
            "--quiet"]
    if dam_type != 0:
        args += ["--dam", DAM_NAMES[dam_type], "--dam-height", dam_height]
    done = qav(*args)
    message = done.stderr.strip().rpartition("the last message: ")[2]
    return list(csv.reader(io.StringIO(done.stdout)))[1:], 0 if done.returncode == 0 else -1, message


SVG = {"s": "http://www.w3.org/2000/svg"}


def text_box(element):
    """Rough box (left, top, right, bottom) of an SVG text: 0.6 em per character."""
    size = float(element.get("font-size", 12))
    width = 0.6 * size * len(element.text or "")
    x, y = float(element.get("x")), float(element.get("y"))
    anchor = element.get("text-anchor", "start")
    left = x - width if anchor == "end" else x - width / 2 if anchor == "middle" else x
    box = (left, y - size, left + width, y + 0.3 * size)
    if "rotate(-90" in (element.get("transform") or ""):  # about (x, y)
        box = (x + box[1] - y, y - (box[2] - x), x + box[3] - y, y - (box[0] - x))
    return box


def shape_box(element):
    tag = element.tag.split("}")[1]
    if tag == "line":
        xs, ys = [float(element.get(k)) for k in ("x1", "x2")], [float(element.get(k)) for k in ("y1", "y2")]
        return (min(xs), min(ys), max(xs), max(ys))
    if tag == "circle":
        x, y, r = (float(element.get(k)) for k in ("cx", "cy", "r"))
        return (x - r, y - r, x + r, y + r)
    x, y, w, h = (float(element.get(k)) for k in ("x", "y", "width", "height"))
    return (x, y, x + w, y + h)


def overlaps(a, b):
    return a[0] < b[2] and a[2] > b[0] and a[1] < b[3] and a[3] > b[1]


def polyline_points(element):
    return [tuple(map(float, p.split(","))) for p in element.get("points").split()]


class Chart:
    """An SVG chart of `qav transect`, with its data areas and axis scales."""

    def __init__(self, path):
        self.root = ET.parse(path).getroot()
        self.width, self.height = float(self.root.get("width")), float(self.root.get("height"))
        self.areas = {r.get("id"): shape_box(r) for r in self.root.iterfind(".//s:rect[@class='data-area']", SVG)}
        self.texts = list(self.root.iterfind(".//s:text", SVG))
        self.legend_texts = [t.text for t in self.root.iterfind(".//s:g[@class='legend']/s:text", SVG)]
        self.lines = {p.get("id"): polyline_points(p) for p in self.root.iterfind(".//s:polyline", SVG)}

    def ticks(self, area):
        """(value, pixel) of the y ticks and of the x ticks of a data area."""
        left, top, right, bottom = self.areas[area]
        ys, xs = [], []
        for t in self.texts:
            try:
                value = float(t.text)
            except (TypeError, ValueError):
                continue
            x, y = float(t.get("x")), float(t.get("y"))
            if t.get("text-anchor") == "end" and x < left and top - 6 <= y <= bottom + 6:
                ys.append((value, y - 4))
            elif t.get("text-anchor") == "middle" and bottom < y < bottom + 25:
                xs.append((value, x))
        return sorted(ys), sorted(xs)

    def y_pixel(self, area, value):
        ys, _ = self.ticks(area)
        (v0, p0), (v1, p1) = ys[0], ys[-1]
        return p0 + (value - v0) * (p1 - p0) / (v1 - v0)


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.tmp = self.dir.name
        self.profile = os.path.join(EXAMPLES, "profile.csv")

    def tearDown(self):
        self.dir.cleanup()

    def assertRunEqualsOneThread(self, profile, series, dike_normal=0.0, dam=("none", 0), dam_height=0.0,
                               threads=2):
        args = ["run", "--profile", profile, "--series", series, "--dike-normal", dike_normal,
                "--threads", threads, "--quiet"]
        if dam[0] != "none":
            args += ["--dam", dam[0], "--dam-height", dam_height]
        done = qav(*args)
        rows, code, message = reference(profile, series, dike_normal, dam[1], dam_height)
        ours = list(csv.reader(io.StringIO(done.stdout)))
        self.assertEqual(ours[0], RUN_COLUMNS)
        self.assertEqual(len(ours) - 1, len(rows))
        for mine, theirs in zip(ours[1:], rows):
            self.assertEqual(mine[0], theirs[0])
            for a, b in zip(mine[1:8], theirs[1:8]):
                self.assertTrue(same_number(float(a), float(b)), f"step {mine[0]}: {mine} != {theirs}")
            self.assertEqual(mine[8:], theirs[8:], f"step {mine[0]}")
        self.assertEqual(done.returncode, 0 if code == 0 else 1, done.stderr)
        if code != 0:
            self.assertIn(message, done.stderr)
        return ours


class RunOutcomes(Case):
    def test_example_storm_behind_a_dam(self):
        rows = self.assertRunEqualsOneThread(self.profile, os.path.join(EXAMPLES, "series.csv"), 270,
                                           ("dam", 3), -1.0)
        statuses = {row[8] for row in rows[1:]}
        self.assertIn("computed", statuses)
        self.assertIn("calm", statuses)

    def test_every_outcome_and_each_dam_type(self):
        # computed, calm, refused (negative Tp, invalid level), waves from behind
        # the dike, 85 degrees off the normal (height halved by the model).
        series = write(self.tmp, "s.csv", series_text([
            (2.0, 7.0, 1.5, 260.0), (0.0, 6.0, 0.5, 270.0), (1.0, -5.0, 1.0, 270.0),
            (1.5, 6.0, 1.0, 90.0), (1.5, 6.0, 1.0, 185.0), (1.0, 6.0, -999.0, 270.0),
            (2.5, 8.0, 2.0, 275.0), (1.2, 6.0, 0.8, 350.0), (1.0, 5.0, 0.5, 270.0)]))
        for dam in (("none", 0), ("caisson", 1), ("wall", 2), ("dam", 3)):
            with self.subTest(dam=dam[0]):
                rows = self.assertRunEqualsOneThread(self.profile, series, 270, dam, 0.5)
                self.assertEqual([r[8] for r in rows[1:4]], ["computed", "calm", "refused"])
                self.assertEqual(rows[4][8], "angle outside range")

    def test_failed_run_reports_the_last_message_across_threads(self):
        # Two of four steps refused: the run fails, and the message is that of
        # step 2, which the first of two threads computed.
        series = write(self.tmp, "s.csv", series_text([
            (1.0, -5.0, 1.0, 270.0), (1.0, 5.0, -999.0, 270.0), (2.0, 7.0, 1.5, 260.0), (2.0, 7.0, 1.5, 265.0)]))
        for threads in (1, 2, 8):
            with self.subTest(threads=threads):
                self.assertRunEqualsOneThread(self.profile, series, 270, threads=threads)
        done = qav("run", "--profile", self.profile, "--series", series, "--dike-normal", 270, "--threads", 2)
        self.assertEqual(done.returncode, 1)
        self.assertIn("Wlev is invalid", done.stderr)

    def test_refused_set_up_fails_every_step(self):
        profile = write(self.tmp, "p.csv", "x,z\n0,-5\n10,-6\n20,-4\n")  # bottom below the toe
        series = os.path.join(EXAMPLES, "series.csv")
        rows = self.assertRunEqualsOneThread(profile, series, 270)
        self.assertEqual({r[8] for r in rows[1:]}, {"refused set-up"})
        self.assertEqual({r[5] for r in rows[1:]}, {"-999"})

    def test_single_point_profile_has_no_foreshore(self):
        profile = write(self.tmp, "p.csv", "x,z\n0,-5\n")
        rows = self.assertRunEqualsOneThread(profile, os.path.join(EXAMPLES, "series.csv"), 270, ("wall", 2), 1.0)
        self.assertIn("no foreshore", {r[8] for r in rows[1:]})

    def test_output_file_holds_the_same_table(self):
        series = os.path.join(EXAMPLES, "series.csv")
        out = os.path.join(self.tmp, "toe.csv")
        to_file = qav("run", "--profile", self.profile, "--series", series, "--dike-normal", 270, "-o", out)
        to_stdout = qav("run", "--profile", self.profile, "--series", series, "--dike-normal", 270)
        self.assertEqual(to_file.returncode, 0)
        self.assertEqual(to_file.stdout, "")
        with open(out) as f:
            self.assertEqual(f.read(), to_stdout.stdout)
        self.assertEqual(os.listdir(self.tmp), ["toe.csv"])


    def test_absurd_wave_angle_is_computed_alike_on_every_march_path(self):
        # A direction 1e300 degrees from the dike normal: the reference computes
        # it, and so must every fast path (their sine once failed such a step).
        profile = write(self.tmp, "p.csv", "x,z\n0,-10\n1000,-3\n")
        series = write(self.tmp, "s.csv", series_text([(1.0, 6.0, 0.0, 1e300), (1.0, 6.0, 0.0, -3e120)]))
        version = qav("version").stdout
        paths = version[version.index("(supported: ") + 12:version.index(")")].split()
        tables = {}
        for path in paths:
            done = qav("run", "--profile", profile, "--series", series, "--dike-normal", 0, "--quiet",
                       env={**os.environ, "QAV_MARCH_PATH": path})
            tables[path] = [row[:5] + row[6:] for row in csv.reader(io.StringIO(done.stdout))]
            self.assertEqual(done.returncode, 0, f"{path}: {done.stderr}")
        self.assertEqual(tables["Reference"][1][-3], "computed")
        for path, table in tables.items():
            self.assertEqual([r[-3:] for r in table], [r[-3:] for r in tables["Reference"]], path)


class Threads(Case):
    def test_thread_count_does_not_change_a_byte(self):
        rng = random.Random(7)
        rows = []
        for i in range(3000):
            hm0 = 0.0 if i % 97 == 0 else rng.uniform(0.2, 3.5)
            tp = -1.0 if i % 211 == 0 else rng.uniform(4.0, 11.0)
            rows.append((round(hm0, 3), round(tp, 3), round(rng.uniform(-0.5, 4.5), 3),
                         round(rng.uniform(150.0, 400.0), 2)))
        series = write(self.tmp, "long.csv", series_text(rows))
        outputs = {}
        for threads in (1, 2, 3):
            done = qav("run", "--profile", self.profile, "--series", series, "--dike-normal", 270,
                       "--dam", "caisson", "--dam-height", 1.0, "--threads", threads)
            self.assertEqual(done.returncode, 0, done.stderr)
            outputs[threads] = done.stdout
        self.assertEqual(outputs[1], outputs[2])
        self.assertEqual(outputs[1], outputs[3])
        self.assertEqual(len(outputs[1].splitlines()), 3001)
        # and the same as the library's own driver
        self.assertRunEqualsOneThread(self.profile, series, 270, ("caisson", 1), 1.0, threads=2)


    @skip_when_sanitized
    def test_memory_limit_does_not_change_the_table(self):
        # More threads than the limit lets the process start: the run goes on
        # with the threads it has (it used to abort), and the table is the same.
        series = os.path.join(EXAMPLES, "series.csv")
        tables = set()
        for threads in (1, 64):
            done = subprocess.run([QAV, "run", "--profile", self.profile, "--series", series, "--dike-normal", "270",
                                   "--threads", str(threads)], capture_output=True, text=True, timeout=60,
                                  preexec_fn=limited_memory(60))
            self.assertEqual(done.returncode, 0, done.stderr)
            tables.add(done.stdout)
        self.assertEqual(len(tables), 1)

    @skip_when_sanitized
    def test_memory_limit_does_not_fail_steps_on_more_threads(self):
        # Steps of a million grid points each: one thread runs them under
        # 200 MB; more threads must not fail some of them for lack of memory.
        profile = write(self.tmp, "long.csv", "x,z\n0,-10\n1000000,-2\n")
        series = write(self.tmp, "s.csv", series_text([(1 + 0.1 * i, 7.0, 0.1 * i, 270.0) for i in range(8)]))
        tables = {}
        for threads in (1, 2, 3):
            done = subprocess.run([QAV, "run", "--profile", profile, "--series", series, "--dike-normal", "270",
                                   "--threads", str(threads), "--quiet"], capture_output=True, text=True,
                                  timeout=60, preexec_fn=limited_memory(200))
            tables[threads] = (done.returncode, done.stdout)
        self.assertEqual(tables[1][0], 0)
        self.assertEqual(tables[2], tables[1])
        self.assertEqual(tables[3], tables[1])


class BadInput(Case):
    def run_bad(self, profile_text, series_text_, expected):
        profile = write(self.tmp, "p.csv", profile_text) if profile_text is not None else self.profile
        series = (write(self.tmp, "s.csv", series_text_) if series_text_ is not None
                  else os.path.join(EXAMPLES, "series.csv"))
        out_dir = tempfile.mkdtemp(dir=self.tmp)
        done = qav("run", "--profile", profile, "--series", series, "--dike-normal", 270, "-o",
                   os.path.join(out_dir, "toe.csv"))
        self.assertEqual(done.returncode, 2, done.stderr)
        self.assertRegex(done.stderr, expected)
        self.assertEqual(done.stdout, "")
        self.assertEqual(os.listdir(out_dir), [], "no output file may be left behind")

    def test_every_kind_of_bad_file(self):
        cases = {
            "missing file": (None, None, None),
            "wrong column count": (None, "hm0,tp,wlev,angle\n1,5,0.5,270\n1,5,0.5\n", r"s\.csv:3:8: 3 fields, but the header has 4"),
            "extra field": (None, "# c\nhm0,tp,wlev,angle\n1,5,0.5,270,9\n", r"s\.csv:3:13: 5 fields"),
            # not a decimal comma: the rows end in a separator, the header does not
            "separator at the line ends": (None, "hm0,tp,wlev,angle\n1,5,0.5,270,\n", r"s\.csv:2:13: 5 fields, but "
                                           r"the header has 4 \(the line ends in a separator that the header line"),
            "number does not parse": (None, "hm0,tp,wlev,angle\n1,5,0.5,270\n1,5x,0.5,270\n",
                                      r"s\.csv:3:3: '5x' in column 'tp' is not a number"),
            "empty field": ("x,z\n0,-5\n10,\n", None, r"p\.csv:3:4: '' in column 'z' is not a number"),
            "empty file": ("", None, r"p\.csv: the file is empty"),
            "only comments": (None, "# nothing\n\n", r"s\.csv: the file is empty"),
            "header lacks a column": (None, "hm0,tp,level,angle\n1,5,0.5,270\n",
                                      r"s\.csv:1:1: the header lacks the column 'wlev'"),
            "no rows": ("x,z\n", None, r"p\.csv:1: no rows"),
        }
        for name, (profile, series, expected) in cases.items():
            with self.subTest(name):
                if name == "missing file":
                    out = os.path.join(self.tmp, "toe.csv")
                    done = qav("run", "--profile", os.path.join(self.tmp, "nope.csv"), "--series",
                               os.path.join(EXAMPLES, "series.csv"), "--dike-normal", 270, "-o", out)
                    self.assertEqual(done.returncode, 2)
                    self.assertRegex(done.stderr, r"nope\.csv: cannot open the file")
                    self.assertFalse(os.path.exists(out))
                else:
                    self.run_bad(profile, series, expected)

    def test_comments_blank_lines_and_column_order_are_fine(self):
        series = write(self.tmp, "s.csv", "# storm\n\n# from the buoy\n Angle , HM0,tp,wlev\n270,1.5,6,1\n\n  \n260,2,7,1.5\n")
        plain = write(self.tmp, "plain.csv", series_text([(1.5, 6.0, 1.0, 270.0), (2.0, 7.0, 1.5, 260.0)]))
        a = qav("run", "--profile", self.profile, "--series", series, "--dike-normal", 270)
        b = qav("run", "--profile", self.profile, "--series", plain, "--dike-normal", 270)
        self.assertEqual(a.returncode, 0, a.stderr)
        self.assertEqual(a.stdout, b.stdout)

    def test_failed_run_still_replaces_an_existing_file_only_when_complete(self):
        out = write(self.tmp, "toe.csv", "old\n")
        done = qav("run", "--profile", self.profile, "--series", write(self.tmp, "s.csv", "hm0,tp\n1,2\n"),
                   "--dike-normal", 270, "-o", out)
        self.assertEqual(done.returncode, 2)
        with open(out) as f:
            self.assertEqual(f.read(), "old\n")

    def test_usage_errors(self):
        # Each is refused with exit 2 before the run: no table, no output file, no log.
        series = os.path.join(EXAMPLES, "series.csv")
        out = os.path.join(self.tmp, "toe.csv")
        run = ["run", "--profile", self.profile, "--series", series, "-o", out]
        for args in (["run", "--profile", self.profile, "--dike-normal", 270],
                     run,  # no --dike-normal: its old default 0 turned most steps away
                     [*run, "--dike-normal", 270, "--threads", 0],
                     [*run, "--dike-normal", 270, "--ag", "heavy"],
                     [*run, "--dike-normal", 270, "--dam", "wall"],
                     [*run, "--dike-normal", 270, "--dam-height", 1],
                     [*run, "--dike-normal", 270, "--dam", "none", "--dam-height", 1],
                     [*run, "--dike-normal", 270, "--log", os.path.join(self.tmp, "no", "such", "dir", "run.log")],
                     [*run, "--dike-normal", 270, "--log", ""],
                     ["run", "--profile", self.profile, "--series", series, "--dike-normal", 270, "-o", ""],
                     ["transect", "--profile", self.profile, "--hm0", 1],
                     ["transect", "--profile", self.profile, "--hm0", 1, "--tp", 6, "--wlev", 1, "--angle", 270],
                     ["validate"], ["fly"]):
            with self.subTest(args=args):
                done = qav(*args)
                self.assertEqual(done.returncode, 2, done.stderr)
                self.assertNotEqual(done.stderr.strip(), "")
                self.assertEqual(done.stdout, "")
                self.assertEqual(os.listdir(self.tmp), [])


STORM = [("2024-01-01 00:00", 0.8, 5.0, 0.2, 270.0), ("2024-01-01 01:00", 1.25, 5.8, 0.6, 265.0),
         ("2024-01-01 02:00", 0.0, 6.0, 0.6, 270.0), ("2024-01-01 03:00", 2.4, 7.6, 2.0, 258.5),
         ("2024-01-01 04:00", 1.0, 6.0, 0.4, 95.0)]


def euro(value):
    return repr(value).replace(".", ",")


class Spreadsheets(Case):
    """Files as spreadsheets and people write them read to the numbers of the plain file."""

    def run_table(self, series, *extra):
        return qav("run", "--profile", self.profile, "--series", series, "--dike-normal", 270, "--quiet", *extra)

    def test_spreadsheet_variants_read_to_the_same_numbers(self):
        plain = write(self.tmp, "plain.csv", "time,hm0,tp,wlev,angle\n" + "".join(
            f"{t},{h!r},{p!r},{w!r},{a!r}\n" for t, h, p, w, a in STORM))
        # each variant: its text, options, and the separator, decimal mark, byte order mark and line end
        # the table comes back in
        variants = {
            # Excel, "CSV UTF-8": byte order mark, CRLF, every field quoted
            "bom, quotes, crlf": ("\ufeff\"time\",\"hm0\",\"tp\",\"wlev\",\"angle\"\r\n" + "".join(
                f'"{t}","{h!r}","{p!r}","{w!r}","{a!r}"\r\n' for t, h, p, w, a in STORM), [],
                (",", ".", "\ufeff", "\r\n")),
            # Excel in a European locale: ';' and decimal commas, with its sep= line
            "excel european": ("\ufeffsep=;\r\nTime;Hm0;Tp;Wlev;Angle\r\n".replace("Time", "time") + "".join(
                f"{t};{euro(h)};{euro(p)};{euro(w)};{euro(a)}\r\n" for t, h, p, w, a in STORM), [],
                (";", ",", "\ufeff", "\r\n")),
            # pasted from a spreadsheet: tabs and decimal commas, blank line at the end
            "tab": ("time\thm0\ttp\twlev\tangle\n" + "".join(
                f"{t}\t{euro(h)}\t{euro(p)}\t{euro(w)}\t{euro(a)}\n" for t, h, p, w, a in STORM) + "\n", [],
                ("\t", ",", "", "\n")),
            # the columns named otherwise and in another order, comments above the header
            "renamed": ("# buoy 7\n# exported 2024-01-02\nDir_deg,time,Hs_m,Tp_s,WL_m\n" + "".join(
                f"{a!r},{t},{h!r},{p!r},{w!r}\n" for t, h, p, w, a in STORM),
                ["--column", "hm0=Hs_m", "--column", "TP=TP_S", "--column", "wlev=WL_m", "--column",
                 "angle=Dir_deg"], (",", ".", "", "\n")),
            # ',' separated with decimal commas in quotes, old Mac line ends
            "quoted decimal commas": ("time,hm0,tp,wlev,angle\r" + "".join(
                f'{t},"{euro(h)}","{euro(p)}","{euro(w)}","{euro(a)}"\r' for t, h, p, w, a in STORM),
                ["--decimal", ","], (",", ",", "", "\r")),
        }
        expected = self.run_table(plain)
        self.assertEqual(expected.returncode, 0, expected.stderr)
        self.assertEqual(expected.stdout.splitlines()[0], "step,time," + ",".join(RUN_COLUMNS[1:]))
        self.assertEqual(len(expected.stdout.splitlines()), len(STORM) + 1)
        for name, (text, options, (separator, mark, bom, line_end)) in variants.items():
            with self.subTest(name):
                path = os.path.join(self.tmp, "variant.csv")
                with open(path, "w", encoding="utf-8", newline="") as f:
                    f.write(text)
                done = subprocess.run([QAV, "run", "--profile", self.profile, "--series", path, "--dike-normal",
                                       "270", "--quiet", *options], capture_output=True, timeout=60).stdout.decode()
                self.assertTrue(done.startswith(bom + "step" + separator + "time" + separator))
                self.assertEqual(done.count(line_end), len(STORM) + 1)
                rows = list(csv.reader(io.StringIO(done.removeprefix(bom), newline=""), delimiter=separator))
                self.assertEqual([[cell.replace(mark, ".") for cell in row] for row in rows],
                                 list(csv.reader(io.StringIO(expected.stdout))))
                # the other way back, when asked
                plainly = self.run_table(path, *options, "--output-separator", ",", "--output-decimal", ".")
                self.assertEqual(plainly.stdout.removeprefix(bom), expected.stdout)

    def test_a_row_is_never_dropped_or_shifted(self):
        # Excel's #N/A, even in a row's first cell, is a value of that row, never a comment.
        na_first = "hm0,tp,wlev,angle,id\n1,5,0.5,270,a\n#N/A,6,0.5,270,b\n1.5,6,1,265,c\n"
        for series, where in (
                (na_first, r"s\.csv:3:1: '#N/A' in column 'hm0' is not a number: a missing value"),
                ("id,hm0,tp,wlev,angle\na,1.0,5,0.5,270\nb,#N/A,6,0.5,270\n",
                 r"s\.csv:3:3: '#N/A' in column 'hm0' is not a number: a missing value"),
                ("hm0,tp,wlev,angle\n1,5,0.5,270\n# calm from here\n0,5,0.5,270\n",
                 r"s\.csv:3:17: 1 fields, but the header has 4 \(comment lines are read only above the header")):
            with self.subTest(where=where):
                done = self.run_table(write(self.tmp, "s.csv", series))
                self.assertEqual(done.returncode, 2)
                self.assertRegex(done.stderr, where)
                self.assertEqual(done.stdout, "")
        done = self.run_table(write(self.tmp, "s.csv", na_first), "--missing", "invalid")
        table = list(csv.DictReader(io.StringIO(done.stdout)))
        self.assertEqual([(r["step"], r["id"], r["hm0"], r["status"]) for r in table],
                         [("1", "a", "1", "computed"), ("2", "b", "-999", "refused"), ("3", "c", "1.5", "computed")])
        self.assertEqual(table[1]["message"], "Hm0 is invalid")

    def test_missing_values_with_and_without_the_option(self):
        text = ("time,hm0,tp,wlev,angle\nt1,1.0,5,0.5,270\nt2,,6,0.5,270\nt3,1.5,NaN,1,265\nt4,1.2,6,NA,265\n"
                "t5,1.1,6,0.4,270\nt6,1.3,6,0.5,268\nt7,0.9,5,0.3,271\nt8,1.0,5,0.5,275\n")
        series = write(self.tmp, "s.csv", text)
        done = self.run_table(series)
        self.assertEqual(done.returncode, 2)
        self.assertRegex(done.stderr, r"s\.csv:3:4: '' in column 'hm0' is not a number: a missing value")
        # 3 of 8 steps refused, fewer than half: the run succeeds, and says what it took as missing
        done = self.run_table(series, "--missing", "invalid", "--invalid-value", -5)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("3 missing values taken as the invalid value -5 (the first at ", done.stderr)
        self.assertIn("s.csv:3:4, column 'hm0')", done.stderr)
        table = list(csv.DictReader(io.StringIO(done.stdout)))
        self.assertEqual([r["time"] for r in table], [f"t{i}" for i in range(1, 9)])
        self.assertEqual([r["status"] for r in table], ["computed", "refused", "refused", "refused"] + ["computed"] * 4)
        self.assertEqual([r["message"] for r in table[1:4]], ["Hm0 is invalid", "Tp is invalid", "Wlev is invalid"])
        self.assertEqual((table[1]["hm0"], table[2]["tp"], table[3]["wlev"]), ("-5", "-5", "-5"))
        # the failure rule still holds: 4 of 8 missing fail the run
        four = write(self.tmp, "s4.csv", text.replace("t5,1.1", "t5,#N/A"))
        done = self.run_table(four, "--missing", "invalid")
        self.assertEqual(done.returncode, 1)
        self.assertEqual(len(done.stdout.splitlines()), 9)

    def test_columns_not_found_are_listed_with_the_option(self):
        series = write(self.tmp, "s.csv", "Hs_m,Tp_s,level,dir\n1,5,0.5,270\n")
        done = self.run_table(series)
        self.assertEqual(done.returncode, 2)
        self.assertIn("s.csv:1:1: the header lacks the columns 'hm0', 'tp', 'wlev' and 'angle' (found 4 columns: "
                      "'Hs_m', 'Tp_s', 'level', 'dir'); name each of them that is there with --column hm0=NAME and "
                      "so on", done.stderr)
        done = self.run_table(series, "--column", "hm0=Hs_m", "--column", "tp=Tp_s", "--column", "wlev=level")
        self.assertRegex(done.stderr, r"lacks the column 'angle' .*--column angle=NAME")
        # A title line above the header, as exports write them.
        titled = write(self.tmp, "titled.csv", "Storm export 2026\nhm0,tp,wlev,angle\n1,5,0.5,270\n")
        done = self.run_table(titled)
        self.assertEqual(done.returncode, 2)
        self.assertIn("titled.csv:1:1: the header lacks the columns 'hm0', 'tp', 'wlev' and 'angle' (found 1 column: 'Storm export 2026'); "
                      "columns are separated by ',' ';' or a tab (--separator), and a title above the header "
                      "starts with '#'", done.stderr)
        # Saved as plain "CSV" by a spreadsheet: the degree sign in Latin-1, which no
        # --column typed in UTF-8 matches; the message says how to save it instead.
        latin1 = os.path.join(self.tmp, "latin1.csv")
        with open(latin1, "wb") as f:
            f.write("hm0;tp;wlev;angle (°)\r\n1;5;0,5;270\r\n".encode("latin-1"))
        done = self.run_table(latin1, "--column", "angle=angle (°)")
        self.assertEqual(done.returncode, 2)
        self.assertIn("'angle (\\xb0)'); if one of them is it, name it with --column angle=NAME; the header is not "
                      "UTF-8 text (saved in a code page such as Latin-1?): save the file as CSV UTF-8", done.stderr)
        for bad in ("speed=Hs_m", "hm0", "hm0="):
            with self.subTest(bad=bad):
                done = self.run_table(series, "--column", bad)
                self.assertEqual(done.returncode, 2)
                self.assertIn("--column", done.stderr)

    def test_other_columns_pass_through_and_a_table_reads_back(self):
        text = ('id;time;hm0;tp;wlev;angle;remark\n'
                '7;"2024-01-01 00:00";0,8;5;0,2;270;"calm, then ""rising"""\n'
                '8;2024-01-01 01:00;1,2;5,8;0,6;265;\n')
        done = self.run_table(write(self.tmp, "s.csv", text))
        self.assertEqual(done.returncode, 0, done.stderr)
        table = list(csv.reader(io.StringIO(done.stdout), delimiter=";"))
        self.assertEqual(table[0][:4], ["step", "id", "time", "remark"])
        self.assertEqual([r[:4] for r in table[1:]], [["1", "7", "2024-01-01 00:00", 'calm, then "rising"'],
                                                      ["2", "8", "2024-01-01 01:00", ""]])
        # A result table is a series too: its own columns come back under other names, numbers unchanged,
        # each name once however often it is read back.
        again = done
        for _ in range(3):
            again = self.run_table(write(self.tmp, "toe.csv", again.stdout))
            self.assertEqual(again.returncode, 0, again.stderr)
            back = list(csv.DictReader(io.StringIO(again.stdout), delimiter=";"))
            header = next(csv.reader(io.StringIO(again.stdout), delimiter=";"))
            self.assertEqual(len(set(header)), len(header), header)
        self.assertEqual(header[:4], ["step", "input_input_input_step", "input_input_step", "input_step"])
        for row, before in zip(back, table[1:]):
            self.assertEqual(row["hm0_toe"], before[8])
            self.assertEqual(row["input_hm0_toe"], before[8])


    def test_a_german_export_runs_as_it_is(self):
        # Units after the names, Excel's empty rows at the end, a note in a data row, decimal commas on the
        # command line too: the numbers of the plain file.
        plain = self.run_table(write(self.tmp, "plain.csv", series_text([(1.25, 5.8, 0.6, 265.0), (0.8, 5.0, 0.2, 270.0), (2.0, 7.0, 1.0, 260.0)])),
                               "--dam", "dam", "--dam-height", "-1.5")
        german = write(self.tmp, "g.csv", "Hm0 [m];Tp (s);WL [m+NAP];Richtung [\u00b0N];Bemerkung\n"
                       "1,25;5,8;0,6;265;\n0,8;5;0,2;270;\n2;7;1;260;\nGerät aus;;;;\n;;;;\n;;;;;;\n")
        done = self.run_table(german, "--column", "WLEV=wl", "--column", "Angle=Richtung", "--dam", "Dam",
                              "--dam-height", "-1,5", "--decimal", ",",
                              "--output-separator", ",", "--output-decimal", ".", "--missing", "invalid")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("4 missing values taken as the invalid value -999 (the first at "
                      + german + ":5:1, column 'Hm0 [m]' (hm0))", done.stderr)
        rows = list(csv.reader(io.StringIO(done.stdout)))
        expected = list(csv.reader(io.StringIO(plain.stdout)))
        self.assertEqual([r[:1] + r[2:] for r in rows[:4]], expected)
        self.assertEqual(len(rows), 5)
        # without --missing invalid the note is an error, and a decimal point in a comma file stays one
        self.assertIn("g.csv:5:1: 'Gerät aus' in column 'Hm0 [m]' (hm0) is not a number",
                      self.run_table(german, "--column", "wlev=WL", "--column", "angle=Richtung").stderr)
        mixed = write(self.tmp, "m.csv", "hm0;tp;wlev;angle\n1,5;5;0,5;270\n1.5;5;0,5;270\n")
        self.assertIn("m.csv:3:1: '1.5' in column 'hm0' is not a number",
                      self.run_table(mixed, "--missing", "invalid").stderr)
        # a unit that is not the column's, and every missing column in one message
        for header, message in (("hm0 [cm],tp,wlev,angle", "the column 'hm0 [cm]' is in 'cm', but qav reads hm0 in m"),
                                ("Hs,T,wlev,dir", "the header lacks the columns 'hm0', 'tp' and 'angle' (found 4")):
            with self.subTest(header):
                done = self.run_table(write(self.tmp, "u.csv", header + "\n1,5,0.5,270\n"))
                self.assertEqual(done.returncode, 2)
                self.assertIn(message, done.stderr)

    def test_cells_come_back_as_written_and_never_as_formulas(self):
        cells = ["=HYPERLINK(\"http://x\")", "+cmd|'/C calc'!A0", "@SUM(1+1)", "-x", "\tlead", "-5", "+7.5",
                 "line\rbreak", "line\r\nbreak", "plain"]
        path = os.path.join(self.tmp, "s.csv")
        with open(path, "w", newline="") as f:
            f.write("hm0,tp,wlev,angle,remark\n" + "".join(
                '1,5,0.5,270,"{}"\n'.format(cell.replace('"', '""')) for cell in cells))
        full = list(csv.DictReader(io.StringIO(self.run_table(path).stdout)))[0]
        for raw in (False, True):
            done = subprocess.run([QAV, "run", "--profile", self.profile, "--series", path, "--dike-normal", "270",
                                   "--quiet", "--digits", "3"] + (["--raw-cells"] if raw else []),
                                  capture_output=True, timeout=60)
            rows = list(csv.DictReader(io.StringIO(done.stdout.decode(), newline="")))
            guarded = [cell if raw or cell[0] not in "=+-@\t" or cell in ("-5", "+7.5") else "'" + cell
                       for cell in cells]
            self.assertEqual([r["remark"] for r in rows], guarded)
            self.assertEqual({(r["hm0_toe"], r["angle_toe"]) for r in rows},
                             {(f"{float(full['hm0_toe']):.3g}", f"{float(full['angle_toe']):.3g}")})
        # A spreadsheet's UTF-32 text is named as such.
        with open(path, "wb") as f:
            f.write("hm0,tp,wlev,angle\n1,5,0.5,270\n".encode("utf-32"))
        done = self.run_table(path)
        self.assertEqual(done.returncode, 2)
        self.assertIn("s.csv: the file is UTF-32 text; save it as CSV in UTF-8", done.stderr)


class BoundedInput(Case):
    def test_long_lines_and_endless_files_end_promptly(self):
        long_line = write(self.tmp, "s.csv", "hm0,tp,wlev,angle\n1,5,0.5,270\n" + "1," * 600000 + "\n")
        done = qav("run", "--profile", self.profile, "--series", long_line, "--dike-normal", 270, timeout=20)
        self.assertEqual(done.returncode, 2)
        self.assertRegex(done.stderr, r"s\.csv:3: the line is longer than 1048576 bytes")
        done = qav("run", "--profile", self.profile, "--series", "/dev/zero", "--dike-normal", 270, timeout=20)
        self.assertEqual(done.returncode, 2)
        self.assertIn("/dev/zero:1:1: a NUL byte", done.stderr)

    def test_echoed_cells_are_cut_and_escaped(self):
        cell = "\x1b]0;owned\x07\x1b[2J" + "9" * 100000
        path = os.path.join(self.tmp, "s.csv")
        with open(path, "wb") as f:
            f.write(b"hm0,tp,wlev,angle\n1,5,0.5,270\n1," + cell.encode() + b",0.5,270\n")
        done = subprocess.run([QAV, "run", "--profile", self.profile, "--series", path, "--dike-normal", "270"],
                              capture_output=True, timeout=60)
        self.assertEqual(done.returncode, 2)
        message = done.stderr.decode()
        self.assertLess(len(message), 400)
        self.assertNotIn("\x1b", message)
        self.assertNotIn("\x07", message)
        self.assertIn(r"s.csv:3:3: '\x1b]0;owned\x07\x1b[2J9999", message)
        self.assertIn(f"... ({len(cell)} bytes)' in column 'tp' is not a number", message)
        with open(path, "wb") as f:
            f.write(b"hm0,tp,wlev,angle\n1,5\x00x,0.5,270\n")
        done = subprocess.run([QAV, "run", "--profile", self.profile, "--series", path, "--dike-normal", "270"],
                              capture_output=True)
        self.assertEqual(done.returncode, 2)
        self.assertIn(b"s.csv:2:4: a NUL byte: this is not a text file", done.stderr)


class Blocks(Case):
    """A series runs a block of rows at a time; nothing of the table may show it."""

    def run_blocks(self, series, block_rows, threads):
        return qav("run", "--profile", self.profile, "--series", series, "--dike-normal", 270, "--quiet",
                   "--block-rows", block_rows, "--threads", threads)

    def test_blocks_and_threads_do_not_change_a_byte(self):
        rng = random.Random(11)
        lines = ["id,hm0,tp,wlev,angle"]
        for i in range(1500):
            hm0 = 0.0 if i % 89 == 0 else round(rng.uniform(0.2, 3.5), 3)
            tp = -1.0 if i % 113 == 0 else round(rng.uniform(4.0, 11.0), 3)
            lines.append(f"r{i},{hm0},{tp},{round(rng.uniform(-0.5, 4.5), 3)},{round(rng.uniform(150, 400), 2)}")
        series = write(self.tmp, "long.csv", "\n".join(lines) + "\n")
        whole = self.run_blocks(series, 10 ** 9, 1)
        self.assertEqual(whole.returncode, 0, whole.stderr)
        for block_rows, threads in ((1, 1), (7, 2), (256, 3), (1499, 2)):
            with self.subTest(block_rows=block_rows, threads=threads):
                done = self.run_blocks(series, block_rows, threads)
                self.assertEqual((done.returncode, done.stdout, done.stderr), (0, whole.stdout, whole.stderr))

    def test_failure_rule_and_last_message_count_over_all_blocks(self):
        ok, refused, calm = "1.5,6,1,270", "1.5,-6,1,270", "0,6,1,270"
        cases = {
            # 5 of 10 refused, all in the first block of 5: the run fails, with step 5's message
            "half fail": ([refused] * 5 + [ok] * 5, 1, "Tp is negative"),
            # 4 of 10 refused, a block of 4 all refused: the run succeeds
            "fewer than half": ([refused] * 4 + [ok] * 6, 0, None),
            # the last message in time order is the calm step's of a later block
            "calm last": ([refused] * 5 + [ok, calm, ok, ok, ok], 1, "Hm0 is (almost) zero"),
        }
        for name, (rows, code, message) in cases.items():
            with self.subTest(name):
                series = write(self.tmp, "s.csv", "hm0,tp,wlev,angle\n" + "\n".join(rows) + "\n")
                whole = self.run_blocks(series, 10 ** 9, 1)
                for block_rows in (1, 4, 5, 6):
                    done = self.run_blocks(series, block_rows, 2)
                    self.assertEqual((done.returncode, done.stdout, done.stderr),
                                     (whole.returncode, whole.stdout, whole.stderr), f"blocks of {block_rows}")
                self.assertEqual(whole.returncode, code, whole.stderr)
                if message:
                    self.assertEqual(whole.stderr.strip(), "qav run: the run failed: 5 of 10 time steps failed; a run "
                                                           f"fails when half or more fail; the last message: {message}")

    def test_a_series_from_a_pipe_runs_in_blocks_too(self):
        series = os.path.join(EXAMPLES, "series.csv")
        with open(series) as f:
            piped = qav("run", "--profile", self.profile, "--series", "/dev/stdin", "--dike-normal", 270,
                        "--block-rows", 4, input=f.read())
        from_file = self.run_blocks(series, 10 ** 9, 1)
        self.assertEqual((piped.returncode, piped.stdout), (0, from_file.stdout), piped.stderr)

    def test_a_bad_row_late_in_the_file_stops_the_run_before_any_output(self):
        rows = ["1.5,6,1,270"] * 300
        rows[250] = "1.5,6,1,west"
        series = write(self.tmp, "s.csv", "hm0,tp,wlev,angle\n" + "\n".join(rows) + "\n")
        done = self.run_blocks(series, 10, 2)
        self.assertEqual(done.returncode, 2)
        self.assertIn("s.csv:252:9: 'west' in column 'angle' is not a number", done.stderr)
        self.assertEqual(done.stdout, "")

    def test_a_series_cut_short_while_it_runs_is_an_error_and_no_table(self):
        # Steps of 50,000 grid points: the run lasts long enough to cut the
        # file once its output has begun.
        profile = write(self.tmp, "long.csv", "x,z\n0,-10\n50000,-2\n")
        rows = "".join(f"{1 + (i % 7) * 0.1!r},7.0,{0.001 * i!r},270.0\n" for i in range(600))
        series = write(self.tmp, "s.csv", "hm0,tp,wlev,angle\n" + rows)
        out = os.path.join(self.tmp, "toe.csv")
        process = subprocess.Popen([QAV, "run", "--profile", profile, "--series", series, "--dike-normal", "270",
                                    "--quiet", "--threads", "1", "--block-rows", "10", "-o", out],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 30
        while not any(".tmp-" in name for name in os.listdir(self.tmp)) and time.monotonic() < deadline:
            time.sleep(0.005)
        self.assertIsNone(process.poll(), "the run ended before the file could be cut")
        with open(series, "r+") as f:
            f.truncate(len(rows) // 2 + 3)  # in the middle of a row
        _, errors = process.communicate(timeout=120)
        self.assertEqual(process.returncode, 2, errors)
        self.assertIn(f"{series}: the file changed while qav read it", errors)
        self.assertEqual(sorted(os.listdir(self.tmp)), ["long.csv", "s.csv"])


class Transect(Case):
    def transect(self, *extra):
        svg = os.path.join(self.tmp, "t.svg")
        done = qav("transect", "--profile", self.profile, "--dike-normal", 270, "--svg", svg, *extra)
        return done, svg

    def parse(self, text):
        comments = dict(line[2:].split(": ", 1) for line in text.splitlines() if line.startswith("# "))
        rows = list(csv.DictReader(line for line in text.splitlines() if not line.startswith("#")))
        return comments, rows

    def test_toe_values_match_a_run_and_the_march(self):
        args = ("--hm0", 2.4, "--tp", 7.6, "--wlev", 2.0, "--angle", 258, "--dam", "dam", "--dam-height", -1)
        done, svg = self.transect(*args)
        self.assertEqual(done.returncode, 0, done.stderr)
        comments, rows = self.parse(done.stdout)
        self.assertEqual(comments["status"], "computed")

        series = write(self.tmp, "one.csv", series_text([(2.4, 7.6, 2.0, 258.0)]))
        run = list(csv.DictReader(io.StringIO(qav("run", "--profile", self.profile, "--series", series,
                                                  "--dike-normal", 270, "--dam", "dam", "--dam-height", -1).stdout)))
        self.assertEqual(comments["hm0_toe"], run[0]["hm0_toe"])
        self.assertEqual(comments["angle_toe"], run[0]["angle_toe"])
        # 12 degrees off the normal: no oblique reduction, the toe is the last point of the march.
        # The rows come from the reference march, the toe from the run's fast path: within 1e-13.
        toe = float(comments["hm0_toe"])
        self.assertAlmostEqual(float(rows[-1]["hm0"]), toe, delta=1e-13 * toe)
        self.assertEqual(float(rows[0]["x"]), 0.0)
        self.assertGreater(float(rows[-1]["x"]), 340.0)
        self.assertEqual(rows[-1]["bottom_level"], rows[-2]["bottom_level"])
        for row in rows:
            self.assertAlmostEqual(float(row["depth"]), max(2.0 - float(row["bottom_level"]), 0.001), places=9)
            self.assertAlmostEqual(float(row["hm0"]), float(row["hrms"]) * math.sqrt(2), places=12)
            energy = 1025 * 9.81 * float(row["hrms"]) ** 2 / 8
            self.assertAlmostEqual(float(row["energy"]), energy, delta=1e-9 * energy)
        # breaking grows towards the shallow toe
        self.assertGreater(float(rows[-2]["breaking_dissipation"]), float(rows[0]["breaking_dissipation"]))

        root = ET.parse(svg).getroot()
        ns = {"s": "http://www.w3.org/2000/svg"}
        lines = {p.get("id"): p.get("points").split() for p in root.iterfind("s:polyline", ns)}
        self.assertEqual(set(lines), {"bottom", "still-water-level", "wave-height"})
        self.assertEqual(len(lines["wave-height"]), len(rows))
        self.assertIsNotNone(root.find("s:circle[@id='toe']", ns))
        texts = "".join(t.text or "" for t in root.iterfind(".//s:text", ns))
        for label in ("x (m)", "level (m)", "Hm0 (m)", "Hm0 at the toe"):
            self.assertIn(label, texts)

    def test_calm_and_behind_the_dike_give_no_march(self):
        for angle, hm0, status in ((270, 0.0, "calm"), (90, 1.0, "angle outside range")):
            with self.subTest(status=status):
                done, svg = self.transect("--hm0", hm0, "--tp", 6, "--wlev", 1, "--angle", angle)
                self.assertEqual(done.returncode, 0, done.stderr)
                comments, rows = self.parse(done.stdout)
                self.assertEqual(comments["status"], status)
                self.assertEqual(comments["hm0_toe"], "0")
                self.assertEqual(rows, [])
                ET.parse(svg)

    def assertChartLaidOut(self, chart):
        """Labels and legends beside the data areas, on the page; axes on round ticks."""
        self.assertTrue(chart.areas)
        for text in chart.texts:
            box = text_box(text)
            with self.subTest(text=text.text):
                self.assertGreaterEqual(box[0], 0)
                self.assertLessEqual(box[2], chart.width)
                self.assertLessEqual(box[3], chart.height)
                for area in chart.areas.values():
                    self.assertFalse(overlaps(box, area), f"{text.text!r} {box} lies on the data area {area}")
        for swatch in chart.root.iterfind(".//s:g[@class='legend']/*", SVG):
            if swatch.tag.endswith("text"):
                continue
            for area in chart.areas.values():
                self.assertFalse(overlaps(shape_box(swatch), area))
        self.assertTrue(chart.root.findall(".//s:g[@class='grid']/s:line", SVG))
        for area in chart.areas:
            for ticks in chart.ticks(area):
                self.assertGreaterEqual(len(ticks), 3, area)
                values = [v for v, _ in ticks]
                steps = {round(b - a, 9) for a, b in zip(values, values[1:])}
                self.assertEqual(len(steps), 1, values)
                step = steps.pop()
                mantissa = step / 10 ** math.floor(math.log10(step))
                self.assertIn(round(mantissa, 6), (1.0, 2.0, 5.0), values)
                self.assertTrue(all(abs(v / step - round(v / step)) < 1e-6 for v in values), values)

    def test_chart_of_the_storm_behind_each_dam(self):
        for dam in ("dam", "caisson", "wall"):
            with self.subTest(dam=dam):
                done, svg = self.transect("--hm0", 3.5, "--tp", 9.7, "--wlev", 4, "--angle", 245, "--dam", dam,
                                          "--dam-height", -1)
                self.assertEqual(done.returncode, 0, done.stderr)
                chart = Chart(svg)
                self.assertChartLaidOut(chart)
                self.assertEqual(set(chart.areas), {"levels-area", "waves-area"})
                # The dam stands offshore of the profile, up to its crest.
                dam_shape = chart.root.find(".//s:polygon[@id='dam']", SVG)
                corners = [tuple(map(float, p.split(","))) for p in dam_shape.get("points").split()]
                self.assertAlmostEqual(min(y for _, y in corners), chart.y_pixel("levels-area", -1.0), delta=0.6)
                self.assertLess(max(x for x, _ in corners), chart.lines["bottom"][1][0])
                self.assertIn(f"{dam}, crest -1 m", chart.legend_texts)
                # Offshore Hm0 before the dam, and the curve after it.
                offshore = chart.root.find(".//s:circle[@id='offshore']", SVG)
                self.assertAlmostEqual(float(offshore.get("cy")), chart.y_pixel("waves-area", 3.5), delta=0.6)
                self.assertIn("offshore Hm0 3.5 m", chart.legend_texts)
                self.assertGreater(chart.lines["wave-height"][0][1], float(offshore.get("cy")))

    def test_chart_of_a_step_not_computed_shows_the_profile_and_status(self):
        for args, status in (((90, 1.0), "angle outside range"), ((270, 0.0), "calm")):
            with self.subTest(status=status):
                done, svg = self.transect("--hm0", args[1], "--tp", 6, "--wlev", 1, "--angle", args[0])
                self.assertEqual(done.returncode, 0, done.stderr)
                chart = Chart(svg)
                self.assertChartLaidOut(chart)
                self.assertEqual(set(chart.areas), {"levels-area"})
                self.assertEqual(set(chart.lines), {"bottom", "still-water-level"})
                self.assertEqual(len(chart.lines["bottom"]), 10)  # the example profile's points
                self.assertIn(f"status: {status}", " ".join(t.text for t in chart.texts))
        profile = write(self.tmp, "one.csv", "x,z\n0,-5\n")
        svg = os.path.join(self.tmp, "one.svg")
        done = qav("transect", "--profile", profile, "--dike-normal", 270, "--svg", svg, "--hm0", 1, "--tp", 6,
                   "--wlev", 1, "--angle", 270)
        self.assertEqual(done.returncode, 0, done.stderr)
        chart = Chart(svg)
        self.assertChartLaidOut(chart)
        self.assertIsNotNone(chart.root.find(".//s:rect[@id='profile-point']", SVG))

    def test_long_transect_keeps_every_point_and_draws_few(self):
        profile = write(self.tmp, "long.csv", "x,z\n0,-10\n200000,-2\n")
        svg, table = os.path.join(self.tmp, "t.svg"), os.path.join(self.tmp, "t.csv")
        done = qav("transect", "--profile", profile, "--dike-normal", 270, "--hm0", 2, "--tp", 8, "--wlev", 0,
                   "--angle", 270, "--svg", svg, "-o", table)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(table) as f:
            rows = sum(1 for line in f if line[0].isdigit())
        self.assertEqual(rows, 200002)  # grid step 1 m, and one step beyond the toe
        self.assertLess(os.path.getsize(svg), 100_000)
        chart = Chart(svg)
        self.assertChartLaidOut(chart)
        wave = chart.lines["wave-height"]
        self.assertLess(len(wave), 3000)
        # The thinned line still starts at the offshore height and ends at the toe's.
        offshore = chart.root.find(".//s:circle[@id='offshore']", SVG)
        toe = chart.root.find(".//s:circle[@id='toe']", SVG)
        self.assertAlmostEqual(wave[0][1], float(offshore.get("cy")), delta=0.1)
        self.assertAlmostEqual(wave[-1][1], float(toe.get("cy")), delta=0.6)

    def test_refused_step_and_refused_set_up(self):
        done, svg = self.transect("--hm0", 1, "--tp", -6, "--wlev", 1, "--angle", 270)
        self.assertEqual(done.returncode, 1)
        self.assertIn("Tp is negative", done.stderr)
        self.assertFalse(os.path.exists(svg))
        done, svg = self.transect("--hm0", 1, "--tp", 6, "--wlev", 1, "--angle", 270, "--ratio-depth", 0)
        self.assertEqual(done.returncode, 1)
        self.assertIn("ratio depth must be larger than zero", done.stderr)
        self.assertNotIn("present-", done.stderr)


class Validate(Case):
    def test_profiles(self):
        self.assertEqual(qav("validate", "--profile", self.profile).returncode, 0)
        bad = write(self.tmp, "p.csv", "x,z\n0,-5\n10,-4\n10,-3\n")
        done = qav("validate", "--profile", bad)
        self.assertEqual(done.returncode, 1)
        self.assertIn("x-values not increasing", done.stderr)

    def test_profile_as_measured_is_explained_turned_cut_and_smoothed(self):
        def points(text):
            return [tuple(float(v.replace(",", ".")) for v in row) for row in csv.reader(io.StringIO(text), delimiter=";")
                    if row and row[0] != "x"]

        sea_first = [(0.0, -6.0), (100.0, -2.0), (200.0, 1.0), (300.0, 3.0)]
        variants = {  # the same profile as surveys write it, and the words of what is wrong
            "landward.csv": ([(300 - x, z) for x, z in reversed(sea_first)], "the profile runs landward-to-sea"),
            "decreasing.csv": ([(300 - x, z) for x, z in sea_first], "x decreases from the first point to the last"),
            "backwards.csv": (list(reversed(sea_first)), "x decreases from the first point to the last"),
        }
        for name, (rows, words) in variants.items():
            with self.subTest(name):
                path = write(self.tmp, name, "x;z\n" + "".join(f"{euro(x)};{euro(z)}\n" for x, z in rows))
                done = qav("profile", path)
                self.assertEqual((done.returncode, done.stdout), (1, ""))
                self.assertIn(words, done.stderr)
                done = qav("profile", path, "--reverse")
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(points(done.stdout), sea_first)
        depths = write(self.tmp, "depths.csv", "x,z\n0,8\n100,5\n200,2\n300,-1\n")
        self.assertIn("depths given instead of levels", qav("profile", depths).stderr)
        # a survey with one step steeper than 1:10, running on up the dike: cut at the toe, smoothed
        survey = [(0.0, -8.0), (10.0, -7.8), (20.0, -7.6), (30.0, -7.4), (40.0, -6.0), (50.0, -6.2), (60.0, -6.0),
                  (70.0, -5.8), (80.0, -5.6), (90.0, -1.0), (100.0, 2.0)]
        path = write(self.tmp, "survey.csv", "x;z\n" + "".join(f"{euro(x)};{euro(z)}\n" for x, z in survey))
        self.assertIn("3 segments are steeper than 1:10, the first from point 4 (line 5, x 30) to x 40 (1:7.1)",
                      qav("profile", path).stderr)
        out = os.path.join(self.tmp, "used.csv")
        done = qav("profile", path, "--toe-x", "75", "--smooth", "-o", out)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(out) as f:
            used = points(f.read())
        self.assertEqual(used[-1][0], 75.0)
        self.assertAlmostEqual(used[-1][1], -5.7, places=12)
        self.assertEqual(len(used), 9)
        for (x0, z0), (x1, z1) in zip(used, used[1:]):
            self.assertLessEqual(abs(z1 - z0) / (x1 - x0), 0.1)
        # only the ends of steep segments move; the rest is as surveyed
        self.assertEqual([p for p in used[:-1] if p in survey], [p for p in survey[:8] if p[0] not in (30.0, 40.0)])
        self.assertEqual(qav("validate", "--profile", out).returncode, 0)

    def test_series(self):
        done = qav("validate", "--series", os.path.join(EXAMPLES, "series.csv"))
        self.assertEqual(done.returncode, 0)
        self.assertIn("Hm0 is (almost) zero", done.stdout)
        bad = write(self.tmp, "s.csv", series_text([(0.0, 5.0, 1.0, 0.0), (1.0, -5.0, 1.0, 0.0)]))
        done = qav("validate", "--series", bad)
        self.assertEqual(done.returncode, 1)
        self.assertIn("Tp is negative", done.stderr)
        missing = write(self.tmp, "m.csv", series_text([(1.0, 5.0, -1.0, 0.0)]))
        self.assertEqual(qav("validate", "--series", missing, "--invalid-value", -1).returncode, 1)
        self.assertEqual(qav("validate", "--series", missing).returncode, 0)

    def test_refusals_name_their_line_and_series_count_calm_steps(self):
        profile = write(self.tmp, "p.csv", "# surveyed 2023\nx,z\n0,-8\n100,-7\n150,-1\n200,-6\n200,-5\n300,-4\n")
        done = qav("validate", "--profile", profile)
        self.assertEqual(done.returncode, 1)
        # the check reports the x-values first, wherever the steeper slope lies
        self.assertEqual(done.stderr, f"{profile}:7: refused: x-values not increasing (point 5 of 6)\n")
        series = write(self.tmp, "s.csv", "# storm\nhm0,tp,wlev,angle\n0,5,1,270\n1,5,1,270\n1,-5,1,270\n"
                                          "0,5,1,270\n1,5,-999,270\n")
        done = qav("validate", "--series", series)
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr,
                         f"{series}:5: refused: Tp is negative (step 3); 2 of 5 steps refused, 2 calm\n")
        done = qav("validate", "--series", os.path.join(EXAMPLES, "series.csv"))
        self.assertRegex(done.stdout, r"series\.csv: accepted: 23 steps, 1 calm: Hm0 is \(almost\) zero "
                                      r"\(the first on line 22\)")
        # A file name is escaped as a cell is: it neither drives the terminal nor forges a line.
        odd = write(self.tmp, "p\x1b[2J\nqav: forged.csv", "x,z\n0,-8\n100,-7\n100,-6\n")
        for args in (["validate", "--profile", odd], ["validate", "--series", odd + "-missing"],
                     ["run", "--profile", self.profile, "--series", odd, "--dike-normal", 270]):
            with self.subTest(args=args):
                done = qav(*args)
                self.assertIn("p\\x1b[2J\\nqav: forged.csv", done.stderr)
                self.assertNotIn("\x1b", done.stderr)
                self.assertEqual(done.stderr.count("\n"), 1, done.stderr)


class Logging(Case):
    def test_log_is_written_and_results_unchanged(self):
        log = os.path.join(self.tmp, "run.log")
        series = os.path.join(EXAMPLES, "series.csv")
        logged = qav("run", "--profile", self.profile, "--series", series, "--dike-normal", 270, "--log", log,
                     "--threads", 2)
        plain = qav("run", "--profile", self.profile, "--series", series, "--dike-normal", 270)
        self.assertEqual(logged.returncode, 0, logged.stderr)
        self.assertEqual(logged.stdout, plain.stdout)
        with open(log) as f:
            lines = f.read().splitlines()
        self.assertTrue(lines[0].startswith("Start Logging:"))
        self.assertTrue(lines[-1].startswith("Entry Log Finished at"))
        self.assertIn("Entry Gravity constant:", lines[1])
        # one dike normal line per step that reaches the angle check, in order
        self.assertEqual(sum(l.startswith("Entry Dike Normal:") for l in lines), 22)

    def test_a_log_that_cannot_be_written_is_counted_never_waited_for(self):
        # A named pipe nobody reads and a full disk: the run neither waits nor
        # loses its table, and says how many lines of the log it lost (exit 3).
        series = os.path.join(EXAMPLES, "series.csv")
        plain = qav("run", "--profile", self.profile, "--series", series, "--dike-normal", 270)
        pipe = os.path.join(self.tmp, "log.fifo")
        os.mkfifo(pipe)
        for log in [pipe] + (["/dev/full"] if os.path.exists("/dev/full") else []):
            with self.subTest(log=log):
                done = qav("run", "--profile", self.profile, "--series", series, "--dike-normal", 270,
                           "--log", log, timeout=30)
                self.assertEqual(done.returncode, 3, done.stderr)
                self.assertEqual(done.stdout, plain.stdout)
                self.assertRegex(done.stderr, r"qav run: \d+ lines of the log could not be written to " + log)


class Messages(Case):
    def qav_run(self, series, *extra, profile=None):
        return qav("run", "--profile", profile or self.profile, "--series", series, "--dike-normal", 270,
                   "--quiet", *extra)

    def rows(self, done):
        return list(csv.DictReader(io.StringIO(done.stdout)))

    def test_a_failed_run_names_the_rule(self):
        good, bad = (2.0, 7.0, 1.5, 260.0), (1.0, -5.0, 1.0, 270.0)
        for rows, code, text in (
                ([bad, bad, good, bad], 1, "3 of 4 time steps failed; a run fails when half or more fail; "
                                           "the last message: Tp is negative"),
                ([bad, good, good, good, bad], 1, "2 of 5 time steps failed; a run fails when half or more fail "
                                                  "(half of 5 counts as 2)"),
                ([bad, good, good, good], 0, None)):
            with self.subTest(rows=len(rows), code=code):
                done = self.qav_run(write(self.tmp, "s.csv", series_text(rows)))
                self.assertEqual(done.returncode, code, done.stderr)
                if text:
                    self.assertIn(f"qav run: the run failed: {text}", done.stderr)
                else:
                    self.assertEqual(done.stderr, "")

    def test_refused_set_up_gives_its_own_reason_and_the_log_the_library_text(self):
        log = os.path.join(self.tmp, "run.log")
        done = self.qav_run(os.path.join(EXAMPLES, "series.csv"), "--fc", -1, "--log", log)
        reason = "The value for the bottom friction must be zero or larger!"
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr, f"qav run: the set-up is refused, no time step is computed: {reason}\n")
        self.assertEqual({(r["status"], r["message"]) for r in self.rows(done)}, {("refused set-up", reason)})
        with open(log) as f:
            self.assertIn(f"Foreshore present-No Dam present-{reason}", f.read())

    def test_note_of_a_dry_toe(self):
        # The example's toe lies at -1 m.
        series = write(self.tmp, "s.csv", series_text([(1.0, 6.0, -2.0, 270.0), (1.0, 6.0, 0.5, 270.0),
                                                       (0.0, 6.0, -2.0, 270.0)]))
        rows = self.rows(self.qav_run(series))
        self.assertEqual([r["status"] for r in rows], ["computed", "computed", "calm"])
        self.assertEqual(rows[0]["note"], "dry toe: the water level -2 m lies below the toe at -1 m")
        self.assertEqual(rows[0]["hm0_toe"], "0")
        self.assertEqual([rows[1]["note"], rows[2]["note"]], ["", ""])

    def test_note_of_a_grid_too_coarse_for_the_waves(self):
        # The storm's peak: with grid steps of 100 m the march clamps the energy
        # to 0 under water; with the default 1 m it does not.
        series = write(self.tmp, "s.csv", series_text([(3.5, 9.7, 4.0, 245.0)]))
        coarse = self.rows(self.qav_run(series, "--dam", "dam", "--dam-height", -1, "--min-step-size", 100))[0]
        fine = self.rows(self.qav_run(series, "--dam", "dam", "--dam-height", -1))[0]
        self.assertEqual(coarse["status"], "computed")
        self.assertIn("the grid step is too coarse for these waves", coarse["note"])
        self.assertIn("--min-step-size", coarse["note"])
        self.assertEqual(fine["note"], "")

    def test_a_dike_normal_180_deg_off_is_said_by_run_and_validate_and_summed_up(self):
        series = os.path.join(EXAMPLES, "series.csv")
        done = qav("run", "--profile", self.profile, "--series", series, "--dike-normal", 120, "-o",
                   os.path.join(self.tmp, "toe.csv"))
        self.assertEqual(done.returncode, 0, done.stderr)
        warning, summary = done.stderr.splitlines()
        self.assertRegex(warning, r"^qav run: warning: 19 of 22 steps have waves from behind the dike .*"
                                  r"is --dike-normal 180 deg off\?")
        with open(os.path.join(self.tmp, "toe.csv")) as f:
            rows = list(csv.DictReader(f))
        behind = sum(r["status"] == "angle outside range" for r in rows)
        self.assertTrue(summary.startswith(f"qav run: 23 steps: 1 calm, {behind} angle outside range, "), summary)
        self.assertIn(f"flagged: {behind} waves from behind", summary)
        largest = max(range(len(rows)), key=lambda i: float(rows[i]["hm0_toe"]))
        self.assertTrue(summary.endswith(f"m at step {largest + 1}"), summary)
        checked = qav("validate", "--profile", self.profile, "--series", series, "--dike-normal", 120)
        self.assertEqual(checked.stderr, warning.replace("qav run:", "qav validate:") + "\n")
        # --quiet keeps the findings and drops the summary
        quiet = qav("run", "--profile", self.profile, "--series", series, "--dike-normal", 120, "-q")
        self.assertEqual(quiet.stderr, warning + "\n")

    def test_a_toe_at_the_water_line_is_noted(self):
        # the toe at -1 m, 1:40 at the toe: at 0 and 2 cm of water the toe Hm0 is the grid's
        series = write(self.tmp, "s.csv", series_text([(1.0, 6.0, -1.0, 270.0), (1.0, 6.0, -0.98, 270.0),
                                                       (1.0, 6.0, 1.0, 270.0)]))
        rows = self.rows(self.qav_run(series))
        self.assertTrue(rows[0]["note"].startswith("toe at the water line: 0 m of water at the toe"), rows[0])
        self.assertIn("compare with a smaller --min-step-size", rows[1]["note"])
        self.assertEqual(rows[2]["note"], "")

    def test_inputs_no_sea_produces_are_warned_once_and_run(self):
        # Hm0 30 m at Tp 6 s is steeper than any sea: a warning naming the first
        # such step, once; the steps still run.
        series = write(self.tmp, "s.csv", series_text([(1.0, 6.0, 1.0, 270.0), (30.0, 6.0, 1.0, 270.0),
                                                       (1.0, 6.0, 1.0, 270.0), (40.0, 5.0, 1.0, 270.0)]))
        done = self.qav_run(series, "--ag", 98.1, "--rho", 1.025)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual([r["status"] for r in self.rows(done)], ["computed"] * 4)
        warnings = done.stderr.splitlines()
        # gravity, density, the steepness of step 4, and two Hm0 above the 9 m
        # of water at the profile's first point
        self.assertEqual(len(warnings), 4, done.stderr)
        self.assertEqual(sum("--ag 98.1" in w for w in warnings), 1)
        self.assertEqual(sum("--rho 1.025" in w for w in warnings), 1)
        self.assertIn("2 steps with an offshore Hm0 above the water depth", done.stderr)
        # with g 98.1 the steepness of 30 m at 6 s is 0.053: no warning
        plain = self.qav_run(series)
        self.assertEqual(len(plain.stderr.splitlines()), 2, plain.stderr)
        self.assertIn("step 2 (the first such): Hm0 30 m at Tp 6 s is a wave steepness Hm0/L0 of 0.53",
                      plain.stderr)
        # just above the bound, the steepness is shown above it too
        near = self.qav_run(write(self.tmp, "near.csv", series_text([(2.71, 4.1, 1.0, 270.0)])))
        self.assertIn("Hm0 2.71 m at Tp 4.1 s is a wave steepness Hm0/L0 of 0.103 (L0", near.stderr)
        # the bundled example warns of nothing
        self.assertEqual(self.qav_run(os.path.join(EXAMPLES, "series.csv")).stderr, "")

    def test_dike_normal_is_brought_into_a_circle(self):
        series = os.path.join(EXAMPLES, "series.csv")
        tables = {normal: qav("run", "--profile", self.profile, "--series", series, "--dike-normal", normal).stdout
                  for normal in (270, 990, -90)}
        self.assertEqual(tables[990], tables[270])
        self.assertEqual(tables[-90], tables[270])
        done = qav("transect", "--profile", self.profile, "--dike-normal", 990, "--hm0", 3.5, "--tp", 9.7,
                   "--wlev", 4, "--angle", 245)
        self.assertIn("# angle_toe: 253.275", done.stdout)


class OutputFiles(Case):
    def qav_run(self, *extra, series=None):
        return qav("run", "--profile", self.profile, "--series", series or os.path.join(EXAMPLES, "series.csv"),
                   "--dike-normal", 270, "--quiet", *extra)

    def listing(self):
        return sorted(os.listdir(self.tmp))

    def read(self, name):
        with open(os.path.join(self.tmp, name)) as f:
            return f.read()

    def test_an_output_on_an_input_or_another_output_is_refused_first(self):
        series = write(self.tmp, "s.csv", series_text([(1.0, 6.0, 1.0, 270.0)]))
        os.symlink("s.csv", os.path.join(self.tmp, "link.csv"))
        out = write(self.tmp, "out.csv", "old\n")
        os.link(out, os.path.join(self.tmp, "hard.csv"))
        path = lambda name: os.path.join(self.tmp, name)  # noqa: E731
        transect = ["transect", "--profile", self.profile, "--dike-normal", 270, "--hm0", 1, "--tp", 6,
                    "--wlev", 1, "--angle", 270]
        for args in (["--log", series],
                     ["-o", path("link.csv")],
                     ["-o", path("new.csv"), "--log", os.path.join(self.tmp, ".", "sub", "..", "new.csv")],
                     ["-o", out, "--log", path("hard.csv")]):
            with self.subTest(args=args):
                done = qav("run", "--profile", self.profile, "--series", series, "--dike-normal", 270,
                           *args)
                self.assertEqual(done.returncode, 2, done.stderr)
                self.assertIn("name the same file", done.stderr)
                self.assertEqual(self.read("s.csv"), series_text([(1.0, 6.0, 1.0, 270.0)]))
                self.assertEqual(self.read("out.csv"), "old\n")
                self.assertEqual(self.listing(), ["hard.csv", "link.csv", "out.csv", "s.csv"])
        for args in (["-o", path("t.csv"), "--svg", path("t.csv")], ["--svg", self.profile]):
            with self.subTest(args=args):
                done = qav(*transect, *args)
                self.assertEqual(done.returncode, 2, done.stderr)
                self.assertIn("name the same file", done.stderr)
                self.assertEqual(self.listing(), ["hard.csv", "link.csv", "out.csv", "s.csv"])

    def test_existing_outputs_keep_links_mode_and_owner(self):
        table = self.qav_run().stdout
        write(self.tmp, "target.csv", "old\n")
        os.symlink("target.csv", os.path.join(self.tmp, "link.csv"))
        first = write(self.tmp, "first.csv", "old\n")
        os.link(first, os.path.join(self.tmp, "second.csv"))
        private = write(self.tmp, "private.csv", "old\n")
        os.chmod(private, 0o640)
        if os.geteuid() == 0:
            os.chown(private, 1, 1)
        for name in ("link.csv", "first.csv", "private.csv"):
            self.assertEqual(self.qav_run("-o", os.path.join(self.tmp, name)).returncode, 0)
        self.assertTrue(os.path.islink(os.path.join(self.tmp, "link.csv")))
        self.assertEqual(self.read("target.csv"), table)
        self.assertEqual(self.read("second.csv"), table)
        self.assertTrue(os.path.samefile(first, os.path.join(self.tmp, "second.csv")))
        status = os.stat(private)
        self.assertEqual((self.read("private.csv"), status.st_mode & 0o7777), (table, 0o640))
        if os.geteuid() == 0:
            self.assertEqual((status.st_uid, status.st_gid), (1, 1))
        self.assertEqual(self.listing(), ["first.csv", "link.csv", "private.csv", "second.csv", "target.csv"])

    def test_a_hard_linked_output_is_copied_under_a_lock_and_a_full_disk_keeps_it_whole(self):
        series = write(self.tmp, "s.csv", series_text([(1.0 + 0.01 * i, 6.0, 0.5, 270.0) for i in range(400)]))
        table = self.qav_run("--threads", 1, series=series).stdout
        first = write(self.tmp, "first.csv", "old\n")
        os.link(first, os.path.join(self.tmp, "second.csv"))
        # Another writer holds the file: the copy waits for it, the old content stays till then.
        with open(first) as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            process = subprocess.Popen([QAV, "run", "--profile", self.profile, "--series", series, "--dike-normal",
                                        "270", "--quiet", "--threads", "1", "-o", first],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            deadline = time.monotonic() + 30
            while not any(".tmp-" in name for name in os.listdir(self.tmp)) and time.monotonic() < deadline:
                time.sleep(0.01)
            time.sleep(0.3)
            self.assertIsNone(process.poll())
            self.assertEqual(self.read("second.csv"), "old\n")
        self.assertEqual(process.wait(timeout=60), 0, process.stderr.read())
        process.stderr.close()
        self.assertEqual(self.read("second.csv"), table)

        # A disk with room for the temporary copy but not for the file's new
        # length beside it: exit 2, and the old content whole.
        disk = os.path.join(self.tmp, "disk")
        os.mkdir(disk)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", disk], capture_output=True)
        if mounted.returncode != 0:
            self.skipTest("no scratch tmpfs to fill (mounting needs root): " + mounted.stderr.decode().strip())
        try:
            old = "old table\n" * 50
            target = write(disk, "toe.csv", old)
            os.link(target, os.path.join(disk, "linked.csv"))
            pages = -(-len(table) // 4096)
            free = os.statvfs(disk).f_bavail * 4096
            with open(os.path.join(disk, "filler"), "wb") as filler:
                filler.write(b"\0" * (free - (pages + pages // 2) * 4096))
            done = self.qav_run("--threads", 1, "-o", target, series=series)
            self.assertEqual(done.returncode, 2, done.stderr)
            self.assertIn("No space left on device", done.stderr)
            with open(os.path.join(disk, "linked.csv")) as f:
                self.assertEqual(f.read(), old)
            self.assertEqual(sorted(os.listdir(disk)), ["filler", "linked.csv", "toe.csv"])
        finally:
            subprocess.run(["umount", disk], check=True)

    def test_a_file_the_user_may_not_write_is_refused(self):
        read_only = write(self.tmp, "ro.csv", "old\n")
        os.chmod(read_only, 0o444)
        done = self.qav_run("-o", read_only)
        self.assertEqual(done.returncode, 2)
        self.assertIn("read-only", done.stderr)
        self.assertEqual(self.read("ro.csv"), "old\n")
        if os.geteuid() != 0:
            return
        # As an unprivileged user, in a folder anyone may write: a file of
        # root's (0644) is not the user's to replace, even though a rename could.
        os.chmod(self.tmp, 0o777)
        theirs = write(self.tmp, "theirs.csv", "old\n")
        for path in (read_only, theirs):
            done = subprocess.run([QAV, "run", "--profile", self.profile, "--series",
                                   os.path.join(EXAMPLES, "series.csv"), "--dike-normal", "270", "-o", path],
                                  capture_output=True, text=True, timeout=60,
                                  preexec_fn=lambda: (os.setgid(65534), os.setuid(65534)))
            self.assertEqual(done.returncode, 2, done.stderr)
            with open(path) as f:
                self.assertEqual(f.read(), "old\n")
        self.assertEqual(self.listing(), ["ro.csv", "theirs.csv"])

    def slow_run(self, out, **kwargs):
        # 3000 steps over 20 km of grid at 1 m: seconds of work.
        profile = write(self.tmp, "p.csv", "x,z\n0,-10\n20000,-2\n")
        series = write(self.tmp, "s.csv", series_text([(1.5, 7.0, 0.0, 270.0)] * 3000))
        return subprocess.Popen([QAV, "run", "--profile", profile, "--series", series, "--dike-normal", "270",
                                 "--threads", "1", "-o", out], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                text=True, **kwargs)

    def test_signals_and_write_errors_leave_no_temporary_file(self):
        out = write(self.tmp, "out.csv", "old\n")
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                process = self.slow_run(out)
                deadline = time.monotonic() + 10
                while not any(".tmp-" in name for name in os.listdir(self.tmp)) and time.monotonic() < deadline:
                    time.sleep(0.01)
                process.send_signal(sig)
                process.communicate(timeout=30)
                self.assertEqual(process.returncode, -sig)
                self.assertEqual(self.listing(), ["out.csv", "p.csv", "s.csv"])
                self.assertEqual(self.read("out.csv"), "old\n")

        # A file size limit: SIGXFSZ ends the process, or, when it is ignored,
        # the write fails; either way the temporary file goes.
        series = write(self.tmp, "s.csv", series_text([(1.5, 7.0, 0.0, 270.0)] * 300))

        def small_files(ignore):
            def limit():
                resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
                if ignore:
                    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            return limit

        for ignore, code in ((False, -signal.SIGXFSZ), (True, 2)):
            with self.subTest(sigxfsz_ignored=ignore):
                done = subprocess.run([QAV, "run", "--profile", self.profile, "--series", series, "--dike-normal",
                                       "270", "-o", out], capture_output=True, text=True, timeout=60,
                                      preexec_fn=small_files(ignore))
                self.assertEqual(done.returncode, code, done.stderr)
                self.assertEqual(self.listing(), ["out.csv", "p.csv", "s.csv"])
                self.assertEqual(self.read("out.csv"), "old\n")
        self.assertIn("File too large", done.stderr)
        # Standard output closed early, as by `| head`: SIGPIPE, and no chart left half made.
        profile = write(self.tmp, "long.csv", "x,z\n0,-10\n200000,-2\n")
        process = subprocess.Popen([QAV, "transect", "--profile", profile, "--dike-normal", "270", "--hm0", "2",
                                    "--tp", "8", "--wlev", "0", "--angle", "270", "--svg",
                                    os.path.join(self.tmp, "t.svg")], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
        process.stdout.readline()
        process.stdout.close()
        self.assertEqual(process.wait(timeout=60), -signal.SIGPIPE)
        self.assertEqual(self.listing(), ["long.csv", "out.csv", "p.csv", "s.csv"])
        with open("/dev/full", "w") as full:
            done = subprocess.run([QAV, "run", "--profile", self.profile, "--series", series, "--dike-normal",
                                   "270"], stdout=full, stderr=subprocess.PIPE, text=True, timeout=60)
        self.assertEqual(done.returncode, 2)
        self.assertIn("standard output", done.stderr)
        # Every command: a table, a verdict or the version lost is no success.
        for args in (["validate", "--profile", self.profile], ["version"], ["run", "--help"]):
            with open("/dev/full", "w") as full, self.subTest(args=args):
                done = subprocess.run([QAV, *args], stdout=full, stderr=subprocess.PIPE, text=True, timeout=60)
                self.assertEqual(done.returncode, 2)
                self.assertIn("standard output: writing failed: No space left on device", done.stderr)


class ExampleHost(Case):
    """examples/host.c, the C host a user starts from: every row of a file runs, or the line is named."""

    def host(self, series):
        return subprocess.run([os.environ["QAV_EXAMPLE_HOST"], self.profile, series, "270"], capture_output=True,
                              text=True, timeout=60)

    def test_every_row_runs_or_its_line_is_named(self):
        plain = self.host(write(self.tmp, "plain.csv", "hm0,tp,wlev,angle\n1,5,0.5,270\n1.5,6,1,265\n"))
        self.assertEqual(plain.returncode, 0, plain.stderr)
        self.assertIn("2 time steps", plain.stdout)
        # Excel's byte order mark, comments above the header, line ends \r\n, \r and none at the end.
        done = self.host(write(self.tmp, "s.csv", "\ufeff# buoy 7\n\nhm0,tp,wlev,angle\r\n1,5,0.5,270\r1.5,6,1,265"))
        self.assertEqual((done.returncode, done.stdout), (0, plain.stdout), done.stderr)
        for text, where in (("hm0,tp,wlev,angle\n1,5,0.5,270\n#N/A,6,0.5,270\n", "s.csv:3: expected 4 numbers"),
                            ("hm0,tp,wlev,angle\n1,5x,0.5,270\n", "s.csv:2: expected 4 numbers"),
                            ("hm0;tp;wlev;angle\n0,8;5;0,2;270\n", "s.csv:2: expected 4 numbers"),
                            ("hm0,tp,wlev,angle\n1,5,0.5,270,\n", "s.csv:2: expected 4 numbers"),
                            ("hm0,tp,wlev,angle\n\n", "s.csv: no rows")):
            with self.subTest(where=where):
                done = self.host(write(self.tmp, "s.csv", text))
                self.assertEqual(done.returncode, 2, done.stdout)
                self.assertIn(where, done.stderr)
                self.assertEqual(done.stdout, "")



def table(text, separator=","):
    return list(csv.DictReader(io.StringIO(text), delimiter=separator))


class Sections(Case):
    """Sections of a dike from a file: each the numbers of a run of its own."""

    def setUp(self):
        super().setUp()
        # The sections file in a folder of its own; its profiles named relative to it.
        folder = os.path.join(self.tmp, "dike")
        os.mkdir(folder)
        with open(self.profile) as f:
            write(folder, "north.csv", f.read())
        write(folder, "south.csv", "x,z\n0,-6\n120,-4\n200,-2.5\n260,-0.5\n")
        self.sections = write(folder, "sections.csv",
                              "Section;Profile;Dike_Normal [deg];dam;dam_height;fc\n"
                              "north;north.csv;260;;;\n"
                              "centre;north.csv;270;dam;-1;\n"
                              "south;south.csv;285,5;Wall;0,5;0,02\n")
        self.sides = {"north": ("north.csv", ["--dike-normal", 260]),
                      "centre": ("north.csv", ["--dike-normal", 270, "--dam", "dam", "--dam-height", -1]),
                      "south": ("south.csv", ["--dike-normal", 285.5, "--dam", "wall", "--dam-height", 0.5,
                                              "--fc", 0.02])}
        self.series = os.path.join(EXAMPLES, "series.csv")

    def single(self, name, series):
        profile, options = self.sides[name]
        done = qav("run", "--profile", os.path.join(self.tmp, "dike", profile), "--series", series, "--quiet",
                   *options)
        return table(done.stdout)

    def test_each_section_equals_its_single_run_on_any_thread_count(self):
        outputs = []
        for threads in (1, 2, 5):
            done = qav("run", "--sections", self.sections, "--series", self.series, "--threads", threads,
                       cwd=self.tmp)
            self.assertEqual(done.returncode, 0, done.stderr)
            outputs.append(done.stdout)
        self.assertEqual(outputs[1:], outputs[:-1])
        rows = table(outputs[0])
        self.assertEqual(list(rows[0])[:2], ["step", "section"])
        for name in self.sides:
            with self.subTest(section=name):
                own = [{k: v for k, v in r.items() if k != "section"} for r in rows if r["section"] == name]
                self.assertEqual(own, self.single(name, self.series))
        # Each section has its summary line on standard error.
        for name in self.sides:
            self.assertIn(f"qav run: section {name}: 23 steps", done.stderr)

    def test_a_section_column_gives_each_section_its_rows(self):
        with open(self.series) as f:
            lines = [line for line in f.read().splitlines() if not line.startswith("#")]
        names = ["north", "centre", "south"]
        series = write(self.tmp, "s.csv", "\n".join(
            ["Section," + lines[0]] + [f"{names[i % 3]}," + line for i, line in enumerate(lines[1:])]) + "\n")
        done = qav("run", "--sections", self.sections, "--series", series, "--threads", 2)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertNotIn("input_section", done.stdout.splitlines()[0])
        rows = table(done.stdout)
        self.assertEqual(len(rows), len(lines) - 1)
        for k, name in enumerate(names):
            own = [r for r in rows if r["section"] == name]
            # The step is the row of the series; the values those of a run over the section's rows alone.
            self.assertEqual([int(r["step"]) for r in own], list(range(k + 1, len(lines), 3)))
            alone = write(self.tmp, f"{name}.csv", "\n".join([lines[0]] + lines[1 + k::3]) + "\n")
            expected = self.single(name, alone)
            for r, e in zip(own, expected):
                self.assertEqual([r[c] for c in RUN_COLUMNS[1:]], [e[c] for c in RUN_COLUMNS[1:]])

    def test_faults_of_a_sections_file_name_their_place(self):
        base = "section,profile,dike_normal\n"
        for text, series, expected in (
                (base + "a,nowhere.csv,270\n", None, "nowhere.csv"),
                (base + "a,north.csv,\n", None, "sections.csv:2:"),
                (base + "a,north.csv,west\n", None, "'west' is no number"),
                ("section,profile,dike_normal,crest\na,north.csv,270,1\n", None, "no column of a sections file"),
                ("section,profile,dike_normal,dam\na,north.csv,270,dam\n", None, "needs a dam_height"),
                (base + "a,north.csv,270\na,north.csv,260\n", None, "named twice"),
                (base + "a,north.csv,270\n", "section,hm0,tp,wlev,angle\nb,1,5,0,270\n", "'b' is not in"),
                (base + "a,north.csv,270\nb,north.csv,270\n", "section,hm0,tp,wlev,angle\na,1,5,0,270\n",
                 "names the section 'b'")):
            with self.subTest(expected=expected):
                sections = write(os.path.join(self.tmp, "dike"), "sections.csv", text)
                series_path = write(self.tmp, "s.csv", series) if series else self.series
                done = qav("run", "--sections", sections, "--series", series_path)
                self.assertEqual((done.returncode, done.stdout), (2, ""), done.stderr)
                self.assertIn(expected, done.stderr)
        for extra in (["--profile", self.profile], ["--dike-normal", 270]):
            done = qav("run", "--sections", self.sections, "--series", self.series, *extra)
            self.assertEqual(done.returncode, 2, extra)
            self.assertIn("excludes", done.stderr)

    def test_the_series_is_read_once(self):
        if not shutil.which("strace"):
            self.skipTest("strace is not installed")
        # LeakSanitizer cannot run under ptrace: a sanitized build is traced without it.
        environment = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
        for args in (["--profile", self.profile, "--dike-normal", "270"], ["--sections", self.sections]):
            log = os.path.join(self.tmp, "trace")
            done = subprocess.run(["strace", "-f", "-e", "trace=openat", "-o", log, QAV, "run", *args,
                                   "--series", self.series, "--threads", "2"], capture_output=True, text=True,
                                  timeout=60, env=environment)
            self.assertEqual(done.returncode, 0, done.stderr)
            with open(log) as f:
                self.assertEqual(f.read().count("series.csv"), 1, args)


class RunChart(Case):
    def series_with_time(self):
        # A storm as German Excel writes it, at uneven times, with a step the model refuses (Tp 0).
        start = datetime.datetime(2026, 1, 15, 6, 0)
        rows = ["Datum;hm0;tp;wlev;angle"]
        for i in range(12):
            when = (start + datetime.timedelta(hours=i * i / 2)).strftime("%d.%m.%Y %H:%M")
            rows.append(";".join([when, euro(1 + 0.2 * i), "0" if i == 5 else euro(6 + 0.3 * i), "1", "265"]))
        return write(self.tmp, "storm.csv", "\n".join(rows) + "\n")

    def test_the_chart_shows_the_table_over_the_time_column(self):
        svg = os.path.join(self.tmp, "run.svg")
        out = os.path.join(self.tmp, "toe.csv")
        done = qav("run", "--profile", self.profile, "--series", self.series_with_time(), "--dike-normal", 270,
                   "-o", out, "--svg", svg)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(out) as f:
            rows = table(f.read(), ";")  # in the series' own format
        chart = Chart(svg)
        self.assertIn("time (h from 15.01.2026 06:00)", [t.text for t in chart.texts])
        # The toe line: one point per step with a result, at the table's values; the refused step a gap.
        pieces = [polyline_points(p) for p in chart.root.iterfind(".//s:g[@id='s0-hm0-toe']/s:polyline", SVG)]
        self.assertEqual([len(p) for p in pieces], [5, 6])
        points = [p for piece in pieces for p in piece]
        computed = [r for r in rows if r["status"] != "refused"]
        for (x, y), r in zip(points, computed):
            self.assertAlmostEqual(y, chart.y_pixel("s0-waves", float(r["hm0_toe"].replace(",", "."))), delta=0.3)
        xs = [x for x, _ in points]
        self.assertEqual(xs, sorted(xs))
        self.assertAlmostEqual((xs[-1] - xs[0]) / (xs[1] - xs[0]), 121, delta=1)  # hours i*i/2, not steps
        self.assertEqual(len(chart.root.findall(".//s:path[@class='no-result']", SVG)), 1)
        self.assertIn("no result (1 step)", chart.legend_texts)
        # Every label lies outside the data areas.
        for t in chart.texts:
            if t.get("class") in ("title", "section-title") or t in chart.legend_texts:
                continue
            for area in chart.areas.values():
                self.assertFalse(overlaps(text_box(t), area), t.text)

    def test_a_chart_file_must_be_named_svg(self):
        for command in (["run", "--series", os.path.join(EXAMPLES, "series.csv")],
                        ["transect", "--hm0", 2, "--tp", 7, "--wlev", 1, "--angle", 270]):
            out = os.path.join(self.tmp, "chart.png")
            done = qav(*command, "--profile", self.profile, "--dike-normal", 270, "--svg", out)
            self.assertEqual(done.returncode, 2)
            self.assertIn("must end in .svg", done.stderr)
            self.assertFalse(os.path.exists(out))


class Report(Case):
    def test_report_is_self_contained_traceable_and_prints_on_a4(self):
        folder = os.path.join(self.tmp, "my dike")
        os.mkdir(folder)
        with open(self.profile) as f:
            write(folder, "profile.csv", f.read())
        sections = write(folder, "sections.csv", "section,profile,dike_normal,dam,dam_height\n"
                                                 "Nord,profile.csv,262,,\nSüd,profile.csv,275,dam,-1\n")
        series = os.path.join(EXAMPLES, "series.csv")
        report = os.path.join(self.tmp, "run.html")
        done = qav("run", "--sections", sections, "--series", series, "--fc", 0.015, "--report", report,
                   "-o", os.path.join(self.tmp, "toe.csv"))
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(report, encoding="utf-8") as f:
            html = f.read()
        self.assertNotIn("<script", html.lower())
        self.assertIsNone(re.search(r"(src|href)\s*=\s*[\"']?(https?:|//)", html), "nothing fetched")
        self.assertIn("@page { size: A4", html)
        for path in (sections, os.path.join(folder, "profile.csv"), series):
            with open(path, "rb") as f:
                data = f.read()
            self.assertIn(f"<td class=\"number\">{len(data)}</td><td><span class=\"hash\">"
                          f"{hashlib.sha256(data).hexdigest()}</span>", html)
        self.assertIn("'" + folder, html)  # the command line, a path with a blank quoted
        self.assertIn("<code>--fc</code></td><td>0.015</td>", html)
        self.assertIn("<code>--ratio-depth</code></td><td>0.5</td>", html)
        with open(os.path.join(self.tmp, "toe.csv")) as f:
            rows = [r for r in table(f.read()) if r["status"] == "computed"]
        top = max(rows, key=lambda r: float(r["hm0_toe"]))
        self.assertIn(f"Step {top['step']} of section {top['section']}", html)
        self.assertEqual(html.count("<svg"), 2)

        chromium = shutil.which("chromium")
        if not chromium:
            self.skipTest("chromium is not installed (scripts/install-deps.sh)")
        flags = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + os.path.join(self.tmp, "chromium")]
        png = os.path.join(self.tmp, "report.png")
        pdf = os.path.join(self.tmp, "report.pdf")
        for output in ("--screenshot=" + png, "--print-to-pdf=" + pdf):
            subprocess.run([*flags, output, "--window-size=900,2400", "file://" + report],
                           capture_output=True, timeout=120)
        with open(png, "rb") as f:
            head = f.read(24)
        self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack(">II", head[16:24]), (900, 2400))
        with open(pdf, "rb") as f:
            boxes = re.findall(rb"/MediaBox\s*\[\s*0 0 ([\d.]+) ([\d.]+)", f.read())
        self.assertGreater(len(boxes), 1, "several pages")
        for width, height in boxes:  # A4: 210 x 297 mm = 595 x 842 pt
            self.assertAlmostEqual(float(width), 595.3, delta=1.5)
            self.assertAlmostEqual(float(height), 841.9, delta=1.5)
        if os.environ.get("QAV_KEEP_REPORT"):
            shutil.copy(png, os.environ["QAV_KEEP_REPORT"])


if __name__ == "__main__":
    QAV, EXAMPLES = sys.argv[1:3]
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
