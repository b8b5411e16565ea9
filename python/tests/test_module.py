"""What the compiled module adds: each step's status and message as `qav run`
gives them, the transect, input of any float layout, errors for misuse, the
GIL released during a run, and the CSV files read by the program's rules."""

import csv
import io
import os
import subprocess
import threading
import time

import numpy as np
import pytest

import qav
from conftest import REPOSITORY

PROGRAM = os.environ.get("QAV_PROGRAM")
needs_program = pytest.mark.skipif(not PROGRAM, reason="QAV_PROGRAM (the qav program) is not set")
EXAMPLES = REPOSITORY / "examples"


def qav_program(*arguments):
    return subprocess.run([PROGRAM, *map(str, arguments)], capture_output=True, text=True)


@needs_program
def test_status_and_messages_are_those_of_qav_run(example, tmp_path):
    # Steps that are calm, refused, from behind the dike and computed, with a dam.
    series = tmp_path / "series.csv"
    rows = list(zip(example["hm0"], example["tp"], example["wlev"], example["angle"]))
    rows += [(1.0, -2.0, 0.0, 270.0), (-1.0, 5.0, 0.0, 270.0), (2.0, 6.0, 9.0, 270.0), (1.0, 6.0, -1.5, 270.0),
             (1.0, 6.0, -0.98, 270.0)]
    series.write_text("hm0,tp,wlev,angle\n" + "".join(",".join(map(repr, r)) + "\n" for r in rows))
    table = qav_program("run", "--profile", EXAMPLES / "profile.csv", "--series", series, "--dike-normal", 270,
                        "--dam", "dam", "--dam-height", -1, "--quiet")
    expected = list(csv.DictReader(io.StringIO(table.stdout)))
    hm0, tp, wlev, angle = (np.array(column) for column in zip(*rows))
    result = qav.run(example["profile_x"], example["profile_z"], hm0, tp, wlev, angle, dike_normal=270.0,
                     dam_type="dam", dam_height=-1.0)
    assert len(expected) == len(rows)
    assert list(result.status) == [row["status"] for row in expected]
    assert list(result.messages) == [row["message"] for row in expected]
    # The notes are the note column's, with the arguments named as Python passes them.
    for option in ("--min-step-size", "--ratio-depth"):
        for row in expected:
            row["note"] = row["note"].replace(option, option[2:].replace("-", "_"))
    assert list(result.notes) == [row["note"] for row in expected]
    assert (result.flags != 0).tolist() == [n != "" for n in result.notes]
    assert (result.flags[-2], result.flags[-1] & 2) == (1, 2)  # dry toe; toe at the water line
    assert result.notes[-2].startswith("dry toe") and result.notes[-1].startswith("toe at the water line")
    assert result.hm0_toe.tolist() == [float(row["hm0_toe"]) for row in expected]
    assert {"computed", "calm", "angle outside range", "refused"} <= set(result.status)
    assert set(result.status) <= set(qav.STATUS_NAMES)
    failed = np.isin(result.status, qav.FAILED_STATUS_NAMES)
    assert failed.any() and (result.hm0_toe[failed] == -999.0).all()
    assert result.energy_clamped.tolist() == [bool(f & 4) for f in result.flags]


def test_refused_set_up_marks_every_step(example):
    result = qav.run(**{**example, "profile_x": [0.0, 10.0, 5.0], "profile_z": [-5.0, -4.0, -3.0]})
    assert result.code == -1
    assert set(result.status) == {"refused set-up"}
    assert result.message and all(m == "" for m in result.messages)


def test_short_calls_give_whole_results_of_their_own(example):
    # A host's one-step calls reuse the module's per-thread step records: a
    # refused step's message must not outlive its call, and each result is a
    # RunResult of its own that pickles.
    import pickle
    profile = dict(profile_x=example["profile_x"], profile_z=example["profile_z"], dike_normal=270.0)
    refused = qav.run(**profile, hm0=[1.0, 0.0], tp=[-2.0, 6.0], wlev=[0.0, 0.6], angle=[270.0, 270.0])
    computed = qav.run(**profile, hm0=np.array([1.2]), tp=np.array([5.8]), wlev=np.array([0.6]),
                       angle=np.array([265.0]))
    assert list(refused.status) == ["refused", "calm"] and refused.messages[0] and refused.messages[1]
    assert list(computed.status) == ["computed"] and list(computed.messages) == [""]
    assert type(computed) is qav.RunResult and computed.index is None
    again = pickle.loads(pickle.dumps(computed))
    assert again.hm0_toe.tobytes() == computed.hm0_toe.tobytes() and list(again.status) == ["computed"]
    with pytest.raises(TypeError):
        qav._qav.run(1, 2)


class TestTransect:
    def test_toe_equals_the_run_and_the_march_ends_at_it(self, example):
        arguments = dict(profile_x=example["profile_x"], profile_z=example["profile_z"], dike_normal=270.0,
                         dam_type="dam", dam_height=-1.0)
        step = dict(hm0=3.5, tp=9.7, wlev=4.0, angle=245.0)
        traced = qav.transect(**arguments, **step)
        run = qav.run(**arguments, **{k: [v] for k, v in step.items()})
        assert (traced.code, traced.status) == (0, "computed")
        assert (traced.hm0_toe, traced.tp_toe, traced.angle_toe) == \
               (run.hm0_toe[0], run.tp_toe[0], run.angle_toe[0])
        # Within 80 deg of the normal there is no oblique reduction: the last
        # point carries the toe height.
        assert traced.hm0[-1] == traced.hm0_toe
        assert traced.x[0] == example["profile_x"][0] and traced.x[-2] <= example["profile_x"][-1] < traced.x[-1]
        assert np.all(np.diff(traced.x) > 0) and np.all(traced.energy > 0)
        assert np.allclose(traced.depth, 4.0 - traced.bottom_level)
        frame = traced.to_frame()
        assert list(frame.columns)[:3] == ["x", "bottom_level", "depth"] and len(frame) == len(traced.x)

    @needs_program
    def test_points_are_those_of_qav_transect(self, example):
        out = qav_program("transect", "--profile", EXAMPLES / "profile.csv", "--hm0", 3.5, "--tp", 9.7,
                          "--wlev", 4, "--angle", 245, "--dike-normal", 270).stdout
        table = np.loadtxt(io.StringIO(out), delimiter=",", comments="#", skiprows=5)
        traced = qav.transect(example["profile_x"], example["profile_z"], 3.5, 9.7, 4.0, 245.0, dike_normal=270.0)
        ours = np.column_stack([traced.x, traced.bottom_level, traced.depth, traced.hrms, traced.hm0,
                                traced.energy, traced.group_velocity, traced.breaking_dissipation,
                                traced.friction_dissipation])
        assert ours.tobytes() == table.tobytes()

    def test_steps_without_a_march(self, example):
        profile = dict(profile_x=example["profile_x"], profile_z=example["profile_z"], dike_normal=270.0)
        calm = qav.transect(**profile, hm0=0.0, tp=5.0, wlev=0.0, angle=270.0)
        assert (calm.code, calm.status, calm.message, calm.hm0_toe) == (0, "calm", "Hm0 is (almost) zero", 0.0)
        assert calm.x.shape == (0,)
        refused = qav.transect(**profile, hm0=1.0, tp=-5.0, wlev=0.0, angle=270.0)
        assert (refused.code, refused.status, refused.hm0_toe) == (-1, "refused", -999.0)
        bad_profile = qav.transect([0.0, 0.0], [-1.0, 0.0], hm0=1.0, tp=5.0, wlev=0.0, angle=270.0,
                                   dike_normal=270.0)
        assert (bad_profile.code, bad_profile.status) == (-1, "refused set-up")
        assert bad_profile.message

    def test_misuse_raises(self, example):
        with pytest.raises(ValueError, match="hm0 must be a real number"):
            qav.transect(example["profile_x"], example["profile_z"], [1.0], 5.0, 0.0, 0.0, dike_normal=270.0)


def test_any_float_dtype_and_layout_gives_the_same_result(example):
    base = qav.run(**example)
    hm0 = example["hm0"]
    variants = {
        "big-endian": hm0.astype(">f8"),
        "Fortran column of a 2-D array": np.asfortranarray(np.column_stack([hm0, hm0]))[:, 1],
        "read-only": np.frombuffer(hm0.tobytes()),
        "reversed twice": hm0[::-1][::-1],
        "long double": hm0.astype(np.longdouble),
    }
    for name, values in variants.items():
        result = qav.run(**{**example, "hm0": values})
        assert result.hm0_toe.tobytes() == base.hm0_toe.tobytes(), name
    # Numbers that are not doubles are converted, as numpy converts them.
    half = qav.run(**{**example, "hm0": hm0.astype(np.float16)})
    assert half.hm0_toe.tobytes() == qav.run(**{**example, "hm0": hm0.astype(np.float16).astype(float)}).hm0_toe.tobytes()


def test_threads_do_not_change_the_result(example):
    storm = {k: np.tile(example[k], 40) for k in ("hm0", "tp", "wlev", "angle")}
    one = qav.run(**{**example, **storm})
    two = qav.run(**{**example, **storm}, threads=2)
    assert one.hm0_toe.tobytes() == two.hm0_toe.tobytes()
    assert (one.code, one.message, list(one.messages)) == (two.code, two.message, list(two.messages))
    for wrong in (0, -1, 2.0, "2"):
        with pytest.raises(ValueError, match="threads must be a whole number"):
            qav.run(**example, threads=wrong)


def test_log_file_that_cannot_be_written_raises(example, tmp_path):
    with pytest.raises(FileNotFoundError):
        qav.run(**example, log_file=tmp_path / "no such folder" / "run.log")
    with pytest.raises(IsADirectoryError):
        qav.run(**example, log_file=tmp_path)


def test_the_gil_is_released_while_the_model_runs(example):
    # The main thread notes the time now and then while a worker runs the
    # model. Holding the interpreter, the run would let it in only at the
    # run's very start or end; released, the main thread runs throughout.
    storm = {k: np.tile(example[k], 3000) for k in ("hm0", "tp", "wlev", "angle")}
    span, done, stamps = [], threading.Event(), []

    def worker():
        span.append(time.monotonic())
        qav.run(**{**example, **storm})
        span.append(time.monotonic())
        done.set()

    thread = threading.Thread(target=worker)
    thread.start()
    while not done.is_set():
        stamps.append(time.monotonic())
        time.sleep(0.001)
    thread.join()
    start, end = span
    assert end - start > 0.1, "the run is too short to tell"
    assert any(start + 0.03 < t < end - 0.03 for t in stamps)


class TestReadFiles:
    def test_examples_read_as_numpy_reads_them(self, example):
        x, z = qav.read_profile(EXAMPLES / "profile.csv")
        series = qav.read_series(str(EXAMPLES / "series.csv"))
        assert x.tobytes() == example["profile_x"].tobytes() and z.tobytes() == example["profile_z"].tobytes()
        assert series.hm0.tobytes() == example["hm0"].tobytes()
        assert list(series.to_frame().columns) == ["hm0", "tp", "wlev", "angle"]

    @needs_program
    @pytest.mark.parametrize("text", [
        "hm0,tp,wlev,angle\n1,5,0,270\n2,5x,0,270\n",
        "hm0,tp,wlev\n1,5,0\n",
        "hm0,tp,wlev,angle\n1,5,0\n",
        "# only a comment\n",
        "hm0,tp,wlev,angle\n",
        "hm0,tp,wlev,angle\n1,,0,270\n",
    ], ids=["not a number", "lacks a column", "short row", "empty", "no rows", "missing value"])
    def test_errors_are_those_of_qav(self, tmp_path, example, text):
        # The same words, but where qav names an option Python names the argument.
        series = tmp_path / "series.csv"
        series.write_text(text)
        with pytest.raises(qav.InputError) as error:
            qav.read_series(series)
        program = qav_program("run", "--profile", EXAMPLES / "profile.csv", "--series", series, "--dike-normal", 270,
                              "--quiet")
        assert program.returncode == 2
        in_python = (program.stderr.replace("--column angle=NAME", "columns={'angle': NAME}")
                     .replace("(--missing invalid runs", "(missing='invalid' runs"))
        assert in_python == f"qav: {error.value}\n"
        assert "--" not in str(error.value)

    @needs_program
    def test_missing_file(self, tmp_path):
        with pytest.raises(FileNotFoundError) as error:
            qav.read_profile(tmp_path / "nothing.csv")
        assert error.value.filename == str(tmp_path / "nothing.csv")
        assert isinstance(error.value, qav.InputError)
        program = qav_program("validate", "--profile", tmp_path / "nothing.csv")
        assert program.stderr == f"qav: {error.value}\n"
        assert issubclass(qav.InputError, ValueError)

    def test_spreadsheet_options(self, tmp_path):
        # As a spreadsheet in a comma-decimal locale writes it, with its own column names.
        series = tmp_path / "series.csv"
        series.write_text("sep=;\ntime;Hs_m;tp;wlev;angle\n06:00;1,5;6;0,25;270\n07:00;;6,5;0,5;265\n")
        with pytest.raises(qav.InputError, match="series.csv:4:"):
            qav.read_series(series, columns={"hm0": "Hs_m"})
        hm0, tp, wlev, angle = qav.read_series(series, columns={"hm0": "Hs_m"}, missing="invalid",
                                               invalid_value=-7.0)
        assert (hm0.tolist(), tp.tolist(), wlev.tolist(), angle.tolist()) == \
               ([1.5, -7.0], [6.0, 6.5], [0.25, 0.5], [270.0, 265.0])
        with pytest.raises(ValueError, match="separator"):
            qav.read_series(series, separator="|")
        with pytest.raises(ValueError, match="columns"):
            qav.read_profile(series, columns={"hm0": "Hs_m"})


def test_contiguous_doubles_are_read_in_place(example):
    # numpy reports its allocations to tracemalloc: converting the four
    # float32 series costs four float64 copies more than passing float64.
    import tracemalloc
    n = 100_000
    series64 = {"hm0": np.zeros(n), "tp": np.full(n, 6.0), "wlev": np.zeros(n), "angle": np.full(n, 270.0)}
    series32 = {k: v.astype(np.float32) for k, v in series64.items()}
    peaks = {}
    for name, series in (("float64", series64), ("float32", series32)):
        tracemalloc.start()
        result = qav.run(example["profile_x"], example["profile_z"], **series, dike_normal=270.0)
        peaks[name] = tracemalloc.get_traced_memory()[1]
        tracemalloc.stop()
        assert set(result.status) == {"calm"}
    assert peaks["float32"] - peaks["float64"] >= 0.9 * 4 * n * 8
