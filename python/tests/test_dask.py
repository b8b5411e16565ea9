"""A sections x time steps table on a Dask cluster of two worker processes:
the results of the serial run, the compiled module loaded by each worker
itself."""

import os
import pickle
import sys
from pathlib import Path

import numpy as np
import pytest
import xarray as xr
from dask.distributed import Client, LocalCluster

import qav
import qav.xr
from test_xarray import make_loads, make_profiles


@pytest.fixture(scope="module")
def client():
    # Worker processes are started afresh: they find the package on PYTHONPATH.
    package_root = str(Path(qav.__file__).resolve().parents[1])
    os.environ["PYTHONPATH"] = os.pathsep.join(p for p in (package_root, os.environ.get("PYTHONPATH")) if p)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        yield client


def test_cluster_equals_serial(client, example):
    sections = 6
    loads = make_loads({k: np.tile(v, 20) if k in ("hm0", "tp", "wlev", "angle") else v
                        for k, v in example.items()}, sections)
    profiles = make_profiles(example, sections)
    eager = qav.xr.toe_conditions(loads, profiles)
    lazy = qav.xr.toe_conditions(loads.chunk({"section": 2, "time": 230}), profiles)
    distributed = lazy.compute()  # on the cluster: the client is the default scheduler
    for name in ("hm0_toe", "tp_toe", "angle_toe"):
        assert distributed[name].values.tobytes() == eager[name].values.tobytes(), name
    assert (distributed.status.values == eager.status.values).all()
    assert np.isnan(eager.hm0_toe.values).any() and (eager.status.values == qav.STATUS_NAMES.index("computed")).any()

    # Each worker ran tasks and loaded the module in its own process.
    here = os.getpid()
    loaded = client.run(lambda: (os.getpid(), "qav._qav" in sys.modules, qav.library_path().name))
    assert len(loaded) == 2
    assert all(pid != here and has_module for pid, has_module, _ in loaded.values())


def test_tasks_carry_no_library_handle():
    # The task function travels as a reference by name; a worker imports the
    # package (and with it the compiled module) once, on its first task.
    reference = pickle.dumps(qav.xr._toe_block)
    assert b"qav.xr" in reference and b"_toe_block" in reference and len(reference) < 100
    with pytest.raises(TypeError):
        pickle.dumps(qav._qav)
