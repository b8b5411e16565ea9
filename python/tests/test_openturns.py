"""qav.openturns.function: the model as an ot.Function over whole samples."""

import pickle

import numpy as np
import openturns as ot
import pytest

import qav
import qav.openturns

CONDITIONS = [[2.0, 7.0, 1.0, 260.0], [3.5, 9.7, 4.0, 245.0], [1.0, -5.0, 0.0, 270.0], [0.0, 6.0, 0.0, 270.0],
              [1.2, 5.8, 0.6, 95.0]]


@pytest.fixture
def profile(example):
    return example["profile_x"], example["profile_z"]


def test_sample_equals_qav_run(profile):
    model = qav.openturns.function(profile, dike_normal=270.0, dam_type="dam", dam_height=-1.0, refused="nan")
    assert list(model.getInputDescription()) == ["hm0", "tp", "wlev", "angle"]
    assert list(model.getOutputDescription()) == ["hm0_toe", "tp_toe", "angle_toe"]
    out = np.array(model(ot.Sample(CONDITIONS)))
    c = np.array(CONDITIONS)
    run = qav.run(*profile, c[:, 0], c[:, 1], c[:, 2], c[:, 3], dike_normal=270.0, dam_type="dam", dam_height=-1.0)
    assert list(run.status) == ["computed", "computed", "refused", "calm", "angle outside range"]
    expected = np.column_stack([run.hm0_toe, run.tp_toe, run.angle_toe])
    expected[2] = np.nan  # the refused step
    assert out.tobytes() == expected.tobytes()
    # One point at a time gives the same numbers.
    assert list(model(CONDITIONS[1])) == list(out[1])


def test_a_refused_point_raises_by_default_naming_it(profile):
    model = qav.openturns.function(profile, dike_normal=270.0)
    # OpenTURNS passes the model's ValueError on as a RuntimeError holding its text.
    with pytest.raises((ValueError, RuntimeError),
                       match=r"refuses point 2 of the sample \(hm0=1.0, tp=-5.0, wlev=0.0, angle=270.0\): "
                             r"Tp is negative; 1 of 5 points refused"):
        model(ot.Sample(CONDITIONS))
    # Calm and waves from behind are answers (0 at the toe), no refusal.
    assert np.array(model(ot.Sample(CONDITIONS[3:])))[:, 0].tolist() == [0.0, 0.0]


def test_a_sample_is_one_call_of_the_model(profile, monkeypatch):
    calls = []
    original = qav.openturns.run
    monkeypatch.setattr(qav.openturns, "run", lambda *a, **k: calls.append(len(a[2])) or original(*a, **k))
    model = qav.openturns.function(profile, dike_normal=270.0, outputs=["hm0_toe"])
    calls.clear()
    sample = ot.ComposedDistribution([ot.Uniform(0.5, 3.0), ot.Uniform(5.0, 10.0), ot.Uniform(0.0, 3.0),
                                      ot.Uniform(240.0, 300.0)]).getSample(1000)
    model(sample)
    assert calls == [1000]
    assert model.getCallsNumber() == 1000


def test_pickled_and_split_over_processes(profile):
    model = qav.openturns.function(profile, dike_normal=270.0, outputs=["angle_toe", "hm0_toe"], refused="nan")
    sample = ot.Sample(CONDITIONS * 4)
    serial = np.array(model(sample))
    copy = pickle.loads(pickle.dumps(model))
    assert np.array(copy(sample)).tobytes() == serial.tobytes()
    assert list(copy.getOutputDescription()) == ["angle_toe", "hm0_toe"]
    split = qav.openturns.function(profile, dike_normal=270.0, outputs=["angle_toe", "hm0_toe"], n_cpus=2,
                                   refused="nan")
    assert np.array(split(sample)).tobytes() == serial.tobytes()


def test_memory_of_the_size_asked_for(profile):
    default_size = ot.ResourceMap.GetAsUnsignedInteger("Cache-MaxSize")
    a, b = CONDITIONS[0], CONDITIONS[1]
    for size, hits in [(2, 1), (1, 0)]:
        model = qav.openturns.function(profile, dike_normal=270.0, cache_size=size)
        first = list(model(a))
        model(b)
        assert list(model(a)) == first
        assert model.getCacheHits() == hits, size
    assert ot.ResourceMap.GetAsUnsignedInteger("Cache-MaxSize") == default_size


def test_misuse_is_refused_at_once(profile):
    with pytest.raises(ValueError, match="outputs must be some of"):
        qav.openturns.function(profile, dike_normal=270.0, outputs=["hm0"])
    with pytest.raises(ValueError, match="refuses this set-up"):
        qav.openturns.function(([0.0, 10.0, 5.0], [-5.0, -4.0, -3.0]), dike_normal=270.0)
    with pytest.raises(ValueError, match="cache_size"):
        qav.openturns.function(profile, dike_normal=270.0, cache_size=0)
    with pytest.raises(ValueError, match="dam_type"):
        qav.openturns.function(profile, dike_normal=270.0, dam_type="moat")
    with pytest.raises(ValueError, match="needs dam_height"):
        qav.openturns.function(profile, dike_normal=270.0, dam_type="dam")
    with pytest.raises(ValueError, match="refused must be"):
        qav.openturns.function(profile, dike_normal=270.0, refused="skip")
    with pytest.raises(TypeError, match="dike_normal"):
        qav.openturns.function(profile)
