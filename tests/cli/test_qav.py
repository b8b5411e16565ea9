"""Drives the qav program as a user does.

usage: test_qav.py QAV EXAMPLES_DIR [SUITE ...]
"""
import csv
import io
import math
import os
import random
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

QAV = EXAMPLES = None

RUN_COLUMNS = ["step", "hm0", "tp", "wlev", "angle", "hm0_toe", "tp_toe", "angle_toe", "status", "message"]


def qav(*args, **kwargs):
    return subprocess.run([QAV, *map(str, args)], capture_output=True, text=True, timeout=60, **kwargs)


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


DAM_NAMES = {0: "none", 1: "caisson", 2: "wall", 3: "dam"}


def reference(profile, series, dike_normal=0.0, dam_type=0, dam_height=0.0):
    """Rows, return code and run message of the run on one thread, one step after another."""
    args = ["run", "--profile", profile, "--series", series, "--dike-normal", dike_normal, "--threads", 1,
            "--quiet"]
    if dam_type != 0:
        args += ["--dam", DAM_NAMES[dam_type], "--dam-height", dam_height]
    done = qav(*args)
    message = done.stderr.strip().removeprefix("qav run: the run failed: ")
    return list(csv.reader(io.StringIO(done.stdout)))[1:], 0 if done.returncode == 0 else -1, message


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
        to_file = qav("run", "--profile", self.profile, "--series", series, "-o", out)
        to_stdout = qav("run", "--profile", self.profile, "--series", series)
        self.assertEqual(to_file.returncode, 0)
        self.assertEqual(to_file.stdout, "")
        with open(out) as f:
            self.assertEqual(f.read(), to_stdout.stdout)
        self.assertEqual(os.listdir(self.tmp), ["toe.csv"])


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


class BadInput(Case):
    def run_bad(self, profile_text, series_text_, expected):
        profile = write(self.tmp, "p.csv", profile_text) if profile_text is not None else self.profile
        series = (write(self.tmp, "s.csv", series_text_) if series_text_ is not None
                  else os.path.join(EXAMPLES, "series.csv"))
        out_dir = tempfile.mkdtemp(dir=self.tmp)
        done = qav("run", "--profile", profile, "--series", series, "-o", os.path.join(out_dir, "toe.csv"))
        self.assertEqual(done.returncode, 2, done.stderr)
        self.assertRegex(done.stderr, expected)
        self.assertEqual(done.stdout, "")
        self.assertEqual(os.listdir(out_dir), [], "no output file may be left behind")

    def test_every_kind_of_bad_file(self):
        cases = {
            "missing file": (None, None, None),
            "wrong column count": (None, "hm0,tp,wlev,angle\n1,5,0.5,270\n1,5,0.5\n", r"s\.csv:3:8: 3 fields, but the header has 4"),
            "extra field": (None, "# c\nhm0,tp,wlev,angle\n1,5,0.5,270,9\n", r"s\.csv:3:13: 5 fields"),
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
                               os.path.join(EXAMPLES, "series.csv"), "-o", out)
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
                   "-o", out)
        self.assertEqual(done.returncode, 2)
        with open(out) as f:
            self.assertEqual(f.read(), "old\n")

    def test_usage_errors(self):
        series = os.path.join(EXAMPLES, "series.csv")
        for args in (["run", "--profile", self.profile], ["run", "--profile", self.profile, "--series", series,
                                                           "--threads", 0],
                     ["run", "--profile", self.profile, "--series", series, "--ag", "heavy"],
                     ["run", "--profile", self.profile, "--series", series, "--dam", "wall"],
                     ["transect", "--profile", self.profile, "--hm0", 1], ["validate"], ["fly"]):
            with self.subTest(args=args):
                done = qav(*args)
                self.assertEqual(done.returncode, 2, done.stderr)
                self.assertNotEqual(done.stderr.strip(), "")


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
        texts = "".join(t.text or "" for t in root.iterfind("s:text", ns))
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

    def test_refused_step_and_refused_set_up(self):
        done, svg = self.transect("--hm0", 1, "--tp", -6, "--wlev", 1, "--angle", 270)
        self.assertEqual(done.returncode, 1)
        self.assertIn("Tp is negative", done.stderr)
        self.assertFalse(os.path.exists(svg))
        done, svg = self.transect("--hm0", 1, "--tp", 6, "--wlev", 1, "--angle", 270, "--ratio-depth", 0)
        self.assertEqual(done.returncode, 1)
        self.assertIn("ratio depth must be larger than zero", done.stderr)


class Validate(Case):
    def test_profiles(self):
        self.assertEqual(qav("validate", "--profile", self.profile).returncode, 0)
        bad = write(self.tmp, "p.csv", "x,z\n0,-5\n10,-4\n10,-3\n")
        done = qav("validate", "--profile", bad)
        self.assertEqual(done.returncode, 1)
        self.assertIn("x-values not increasing", done.stderr)

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


if __name__ == "__main__":
    QAV, EXAMPLES = sys.argv[1:3]
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
