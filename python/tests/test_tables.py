"""pandas: the caller's index survives a run, and series are paired by it."""

import numpy as np
import pandas as pd
import pytest

import qav


@pytest.fixture
def storm(example):
    index = pd.date_range("2024-01-01 06:00", periods=len(example["hm0"]), freq="h", name="time")
    return pd.DataFrame({k: example[k] for k in ("hm0", "tp", "wlev", "angle")}, index=index)


def test_to_frame_keeps_the_index_of_the_series(example, storm):
    result = qav.run(example["profile_x"], example["profile_z"], storm.hm0, storm.tp, storm.wlev, storm.angle,
                     dike_normal=270.0)
    frame = result.to_frame()
    assert frame.index.equals(storm.index)
    assert list(frame.columns) == ["hm0_toe", "tp_toe", "angle_toe", "status", "message", "note", "energy_clamped"]
    plain = qav.run(**example)
    assert frame.hm0_toe.to_numpy().tobytes() == plain.hm0_toe.tobytes()
    assert list(frame.status) == list(plain.status)
    assert list(frame.status.cat.categories) == list(qav.STATUS_NAMES)
    # Joined back onto the input by the index.
    joined = storm.join(frame)
    assert joined.loc[storm.index[3], "hm0_toe"] == plain.hm0_toe[3]


def test_a_row_subset_keeps_its_labels(example, storm):
    calm_hours = storm[storm.hm0 > 1.0]
    frame = qav.run(example["profile_x"], example["profile_z"], calm_hours.hm0, calm_hours.tp, calm_hours.wlev,
                    calm_hours.angle, dike_normal=270.0).to_frame()
    assert frame.index.equals(calm_hours.index)


def test_series_with_different_indexes_are_refused(example, storm):
    shifted = storm.tp.copy()
    shifted.index = shifted.index + pd.Timedelta("1h")
    with pytest.raises(ValueError, match="different indexes"):
        qav.run(example["profile_x"], example["profile_z"], storm.hm0, shifted, storm.wlev, storm.angle,
                dike_normal=270.0)


def test_arrays_give_a_plain_index(example):
    frame = qav.run(**example).to_frame()
    assert frame.index.equals(pd.RangeIndex(len(example["hm0"])))
    assert frame.message.dtype == object and np.issubdtype(frame.energy_clamped.dtype, np.bool_)


def test_a_table_in_place_of_the_four_series(example, storm):
    # Column names as people write them: case and blanks of their own, a column more.
    table = storm.rename(columns={"hm0": " HM0 ", "tp": "Tp", "wlev": "WLEV"}).assign(station="K13")
    x, z = example["profile_x"], example["profile_z"]
    plain = qav.run(**example)
    for given in (table, {name: table[name].to_numpy() for name in table.columns}):
        result = qav.run(x, z, given, dike_normal=270.0)
        assert result.hm0_toe.tobytes() == plain.hm0_toe.tobytes()
    assert qav.run(x, z, table, dike_normal=270.0).to_frame().index.equals(storm.index)
    with pytest.raises(ValueError, match=r"lacks the column angle \(it has 'hm0', 'tp', 'wlev'\)"):
        qav.run(x, z, storm.drop(columns="angle"), dike_normal=270.0)
    with pytest.raises(ValueError, match="names the column 'tp' twice"):
        qav.run(x, z, {**storm, "TP ": storm.tp}, dike_normal=270.0)
    with pytest.raises(TypeError, match="needs hm0, tp, wlev and angle"):
        qav.run(x, z, storm.hm0, storm.tp, dike_normal=270.0)


def test_to_frame_has_no_numbers_for_steps_without_a_result(example):
    tp = example["tp"].copy()
    tp[3] = -1.0
    result = qav.run(**{**example, "tp": tp})
    frame = result.to_frame()
    assert result.status[3] in qav.FAILED_STATUS_NAMES and result.hm0_toe[3] == -999.0
    assert frame.loc[3, ["hm0_toe", "tp_toe", "angle_toe"]].isna().all()
    assert (frame.status[3], frame.message[3]) == (result.status[3], result.messages[3]) and frame.message[3]
    rest = np.arange(len(tp)) != 3
    assert frame.hm0_toe.to_numpy()[rest].tobytes() == result.hm0_toe[rest].tobytes()
    assert list(frame.status) == list(result.status)
