"""qav.run against the library's own entries, its argument handling and its
use from several threads."""

import os
import signal
import threading

import numpy as np
import pytest

import qav


def same_bits(a, b):
    a, b = np.asarray(a, dtype=np.float64), np.asarray(b, dtype=np.float64)
    return a.shape == b.shape and a.tobytes() == b.tobytes()


def assert_same_run(result, reference):
    hm0, tp, angle, code, message = reference
    assert result.code == code
    assert result.message == message
    assert same_bits(result.hm0_toe, hm0)
    assert same_bits(result.tp_toe, tp)
    assert same_bits(result.angle_toe, angle)


# Each case moves parameters away from their defaults, so that a parameter
# handed to the wrong slot of the entry changes the result.
CASES = {
    "defaults": {},
    "caisson": dict(dam_type=1, dam_height=1.5),
    "wall by name": dict(dam_type="wall", dam_height=0.5),
    "dam by name": dict(dam_type="dam", dam_height=2.0),
    "breaking and friction": dict(alpha=0.8, fc=0.03),
    "gravity and density": dict(ag=9.7, rho=1000.0),
    "grid": dict(ratio_depth=0.25, min_step_size=3.0),
    "oblique normal": dict(dike_normal=250.0),
    "other invalid marker": dict(invalid_value=-1.0),
}


class TestSameAsTheEntries:
    @pytest.mark.parametrize("case", CASES.values(), ids=CASES.keys())
    def test_matches_both_entries_bit_for_bit(self, example, entries, case):
        arguments = {**example, **case}
        result = qav.run(**arguments)
        numeric = {**arguments, "dam_type": qav.DAM_TYPES.get(arguments.get("dam_type"),
                                                             arguments.get("dam_type", 0))}
        assert_same_run(result, entries.run_c(**numeric))
        assert_same_run(result, entries.run_fortran(**numeric))

    def test_each_parameter_reaches_the_model(self, example):
        base = qav.run(**example)
        for name, value in dict(ag=9.7, alpha=0.8, fc=0.03, ratio_depth=0.25, min_step_size=3.0,
                                dike_normal=250.0).items():
            changed = qav.run(**{**example, name: value})
            assert not same_bits(changed.hm0_toe, base.hm0_toe), name

    def test_refused_step_holds_the_invalid_marker(self, example, entries):
        tp = example["tp"].copy()
        tp[3] = -1.0
        result = qav.run(**{**example, "tp": tp, "invalid_value": -7.5})
        assert (result.hm0_toe[3], result.tp_toe[3], result.angle_toe[3]) == (-7.5, -7.5, -7.5)
        assert_same_run(result, entries.run_fortran(**{**example, "tp": tp, "invalid_value": -7.5}))

    def test_no_time_steps_is_a_failed_run_not_an_error(self, example):
        result = qav.run(**{**example, "hm0": [], "tp": [], "wlev": [], "angle": []})
        assert result.code == -1
        assert result.hm0_toe.shape == (0,)

    def test_log_file_receives_the_interface_header(self, example, tmp_path):
        log = tmp_path / "qav run.log"
        plain = qav.run(**example)
        logged = qav.run(**example, log_file=log)
        text = log.read_text()
        assert "Start Interface Logging:" in text
        assert "DynamicLib-Qav.dll: VERSION " + qav.version() in text
        assert same_bits(logged.hm0_toe, plain.hm0_toe)


    @pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="no named pipes on this system")
    def test_a_log_nobody_reads_is_counted_never_waited_for(self, example, tmp_path):
        pipe = tmp_path / "log.fifo"
        os.mkfifo(pipe)
        finished, rescued = threading.Event(), []

        def rescue():
            # Should the run wait for a reader, one comes after 10 s and the test fails.
            if not finished.wait(10):
                rescued.append(os.open(pipe, os.O_RDONLY | os.O_NONBLOCK))
                finished.wait()
                os.close(rescued[0])

        watcher = threading.Thread(target=rescue)
        watcher.start()
        try:
            with pytest.warns(qav.LogLinesLostWarning, match=r"\d+ lines of the log could not be written"):
                logged = qav.run(**example, log_file=pipe)
        finally:
            finished.set()
            watcher.join()
        assert not rescued
        assert same_bits(logged.hm0_toe, qav.run(**example).hm0_toe)


class TestInputConversion:
    def test_lists_strided_and_single_precision_give_the_same_result(self, example):
        base = qav.run(**example)
        as_lists = qav.run(**{k: (v.tolist() if isinstance(v, np.ndarray) else v)
                              for k, v in example.items()})
        assert same_bits(as_lists.hm0_toe, base.hm0_toe)
        # Every other element of an interleaved array: not contiguous.
        strided = {k: (np.repeat(v, 2)[::2] if isinstance(v, np.ndarray) else v)
                   for k, v in example.items()}
        assert not strided["hm0"].flags["C_CONTIGUOUS"]
        assert same_bits(qav.run(**strided).hm0_toe, base.hm0_toe)
        single = dict(example)
        single["profile_x"] = example["profile_x"].astype(np.float32)  # whole metres: exact
        assert same_bits(qav.run(**single).hm0_toe, base.hm0_toe)

    def test_dam_type_names_equal_their_codes(self, example):
        for name, code in qav.DAM_TYPES.items():
            height = None if code == 0 else 1.0
            by_name = qav.run(**example, dam_type=name.upper(), dam_height=height)
            by_code = qav.run(**example, dam_type=code, dam_height=height)
            assert same_bits(by_name.hm0_toe, by_code.hm0_toe), name

    def test_numpy_integers_and_masked_arrays(self, example):
        base = qav.run(**example)
        assert same_bits(qav.run(**example, threads=np.int64(2)).hm0_toe, base.hm0_toe)
        assert same_bits(qav.run(**example, threads=np.uint8(3)).hm0_toe, base.hm0_toe)
        for wrong in (np.float64(2.0), np.bool_(True), 0, np.int64(5000)):
            with pytest.raises(ValueError, match="threads must be a whole number"):
                qav.run(**example, threads=wrong)
        # A masked entry is a missing value: its step is refused as for NaN,
        # the others keep their results.
        mask = np.zeros(len(example["hm0"]), dtype=bool)
        mask[[2, 7]] = True
        masked = qav.run(**{**example, "tp": np.ma.masked_array(example["tp"], mask=mask)})
        assert list(np.flatnonzero(masked.status == "refused")) == [2, 7]
        assert list(masked.messages[[2, 7]]) == ["Tp is invalid"] * 2
        assert same_bits(masked.hm0_toe[~mask], base.hm0_toe[~mask])
        unmasked = np.ma.masked_array(example["tp"], mask=np.zeros_like(mask))
        assert same_bits(qav.run(**{**example, "tp": unmasked}).hm0_toe, base.hm0_toe)

    def test_inputs_are_not_modified(self, example):
        copies = {k: np.copy(v) for k, v in example.items()}
        qav.run(**example)
        for k, v in example.items():
            assert same_bits(v, copies[k]), k


class TestShapeErrors:
    @pytest.mark.parametrize("change, words", [
        (dict(hm0=np.ones((2, 11))), "hm0 must be 1-D"),
        (dict(tp=5.0), "equal lengths"),  # a single number is one step
        (dict(wlev=np.zeros(3)), "equal lengths"),
        (dict(angle=np.zeros(1000)), "equal lengths"),
        (dict(profile_z=np.zeros(3)), "equal lengths"),
        (dict(profile_x=[[0.0, 1.0]]), "profile_x must be 1-D"),
        (dict(hm0=["high"] * 3), "hm0 must be a 1-D sequence of numbers"),
        # Would convert silently: a time as nanoseconds, True as 1, text of a number.
        (dict(angle=np.arange(23).astype("datetime64[h]")), "angle must be a 1-D sequence of numbers, got datetime64"),
        (dict(tp=np.full(23, 5, dtype="timedelta64[s]")), "tp must be a 1-D sequence of numbers, got timedelta64"),
        (dict(hm0=np.ones(23, dtype=bool)), "hm0 must be a 1-D sequence of numbers, got bool"),
        (dict(wlev=np.zeros(23, dtype=complex)), "wlev must be a 1-D sequence of numbers, got complex"),
        (dict(angle=["270"] * 23), "angle must be a 1-D sequence of numbers, got <U3"),
        (dict(dike_normal="north"), "dike_normal must be a real number"),
        (dict(ag=None), "ag must be a real number"),
        (dict(dam_type="moat"), "dam_type must be one of"),
        (dict(dam_type=4), "dam_type must be 0"),
        (dict(dam_type=1.0), "dam_type must be 0"),
        (dict(log_file=""), "log_file must not be empty"),
    ])
    def test_run_raises_value_error(self, example, change, words):
        with pytest.raises(ValueError, match=words):
            qav.run(**{**example, **change})

    def test_validators_raise_value_error(self):
        with pytest.raises(ValueError, match="equal lengths"):
            qav.validate_profile([0.0, 1.0], [0.0])
        with pytest.raises(ValueError, match="x must be 1-D"):
            qav.validate_profile(np.zeros((2, 2)), np.zeros((2, 2)))
        with pytest.raises(ValueError, match="equal lengths"):
            qav.validate_series([1.0], [5.0, 6.0], [0.0], [0.0])
        with pytest.raises(ValueError, match="invalid_value must be a real number"):
            qav.validate_series([1.0], [5.0], [0.0], [0.0], invalid_value="none")


class TestThreads:
    # The calls differ in ag, off Earth's on purpose: the finding on it is expected.
    @pytest.mark.filterwarnings("ignore::qav.QavWarning")
    def test_concurrent_runs_give_the_serial_results(self, example):
        # 4 threads x 20 calls, each call with its own gravity and a scaled storm.
        calls = [dict(example, ag=9.6 + 0.01 * k, hm0=example["hm0"] * (0.5 + 0.02 * k))
                 for k in range(80)]
        serial = [qav.run(**c) for c in calls]
        concurrent = [None] * len(calls)
        errors = []
        start = threading.Barrier(4)

        def worker(first):
            try:
                start.wait()
                for k in range(first, len(calls), 4):
                    concurrent[k] = qav.run(**calls[k])
            except Exception as error:  # reported below, not lost in the thread
                errors.append(error)

        threads = [threading.Thread(target=worker, args=(t,)) for t in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert not errors
        for k, (a, b) in enumerate(zip(serial, concurrent)):
            assert (a.code, a.message) == (b.code, b.message), k
            assert same_bits(a.hm0_toe, b.hm0_toe) and same_bits(a.angle_toe, b.angle_toe), k
        # The calls really differ, so the comparison above can fail.
        assert not same_bits(serial[0].hm0_toe, serial[79].hm0_toe)


class TestJudgement:
    def test_findings_warn_and_the_repr_sums_up(self, example):
        with pytest.warns(qav.QavWarning, match=r"19 of 22 steps have waves from behind .* is dike_normal 180 deg"):
            turned = qav.run(**{**example, "dike_normal": 120.0})
        behind = turned.status == "angle outside range"
        assert ((turned.flags & 8) != 0).tolist() == behind.tolist()
        assert turned.findings and turned.findings[0].startswith("19 of 22")
        largest = int(np.argmax(np.where(np.isin(turned.status, ["computed", "no foreshore"]), turned.hm0_toe, -1)))
        assert repr(turned) == (f"RunResult(code=0, 23 steps: 1 calm, {behind.sum()} angle outside range, "
                                f"{22 - behind.sum()} computed; flagged: {behind.sum()} waves from behind; "
                                f"largest toe Hm0 {turned.hm0_toe[largest]:.6g} m at index {largest})")
        with pytest.warns(qav.QavWarning, match="ag 98.1 m/s2 is far from"):
            qav.run(**example, ag=98.1)

    def test_dike_normal_and_dam_height_have_no_silent_default(self, example):
        arguments = {k: v for k, v in example.items() if k != "dike_normal"}
        with pytest.raises(TypeError, match="dike_normal"):
            qav.run(**arguments)
        with pytest.raises(TypeError, match="dike_normal"):
            qav.transect(example["profile_x"], example["profile_z"], 1.0, 6.0, 0.0, 270.0)
        with pytest.raises(ValueError, match="dam_type 'dam' needs dam_height"):
            qav.run(**example, dam_type="dam")
        with pytest.raises(ValueError, match="dam_height needs a dam_type"):
            qav.run(**example, dam_height=1.0)
        with pytest.raises(ValueError, match="dam_height needs a dam_type"):
            qav.transect(example["profile_x"], example["profile_z"], 1.0, 6.0, 0.0, 270.0, dike_normal=270.0,
                         dam_height=1.0)


class TestLongRuns:
    """A long run goes in pieces, between which signals and the progress are heard."""

    def test_pieces_give_the_entrys_single_run(self, example, entries):
        repeat = 600  # 13800 steps: several pieces
        storm = {k: np.tile(example[k], repeat) for k in ("hm0", "tp", "wlev", "angle")}
        storm["tp"][[5, 7000]] = -1.0  # refused steps in two pieces
        arguments = {**example, **storm}
        for threads in (1, None):
            heard = []
            result = qav.run(**arguments, threads=threads, progress=lambda done, total: heard.append((done, total)))
            assert_same_run(result, entries.run_c(**arguments))
            assert len(heard) > 1 and heard[-1] == (len(storm["hm0"]),) * 2
            assert all(a[0] < b[0] for a, b in zip(heard, heard[1:]))
        # A refused set-up refuses every step of every piece, with the entry's message.
        refused = {**arguments, "min_step_size": -1.0}
        result = qav.run(**refused, progress=lambda done, total: None)
        assert_same_run(result, entries.run_c(**refused))
        assert set(result.status) == {"refused set-up"}

    def test_ctrl_c_stops_the_run(self, example):
        storm = {k: np.tile(example[k], 100_000) for k in ("hm0", "tp", "wlev", "angle")}
        heard = []
        main = threading.main_thread().ident
        timer = threading.Timer(0.2, lambda: signal.pthread_kill(main, signal.SIGINT))

        def progress(done, total):
            if not heard:
                timer.start()  # Ctrl-C 0.2 s into the run
            heard.append(done)

        # Python's own handler of SIGINT (OpenTURNS, once imported, installs one of its own).
        previous = signal.signal(signal.SIGINT, signal.default_int_handler)
        try:
            with pytest.raises(KeyboardInterrupt):
                qav.run(**{**example, **storm}, threads=1, progress=progress)
        finally:
            timer.join()
            signal.signal(signal.SIGINT, previous)
        assert heard[-1] < len(storm["hm0"])

    def test_four_numbers_are_one_step(self, example):
        step = {k: example[k][9] for k in ("hm0", "tp", "wlev", "angle")}
        one = qav.run(**{**example, **step})
        alone = qav.run(**{**example, **{k: [v] for k, v in step.items()}})
        assert one.hm0_toe.shape == (1,) and one.hm0_toe.tobytes() == alone.hm0_toe.tobytes()
