"""The Python package's own costs, beside the model's, in one run:

    /usr/bin/python3 bench/python_package.py            # the installed package (pip install .)
    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_package.py

- Ctrl-C: the time from SIGINT, sent 1 s into a long qav.run (every core), to its
  KeyboardInterrupt (the target: under a second).
- to_frame(): its CPU time against the model's for the same 100000 rows (the
  target: at most a third), with a refused step in every 23.
- NetCDF: writing the result of qav.xr.toe_conditions for 20 sections x 8760
  hours (the target: under 0.2 s).
Medians of --repetitions.
"""

import argparse
import os
import signal
import statistics
import tempfile
import threading
import time
from pathlib import Path

import numpy as np
import xarray as xr

import qav
import qav.xr

ROOT = Path(__file__).resolve().parents[1]


def interrupt_latency(x, z, series, steps):
    loads = [np.resize(v, steps) for v in series]
    main = threading.main_thread().ident
    sent = []

    def interrupt():
        sent.append(time.perf_counter())
        signal.pthread_kill(main, signal.SIGINT)

    timer = threading.Timer(1.0, interrupt)
    timer.start()
    try:
        qav.run(x, z, *loads, dike_normal=270.0)
    except KeyboardInterrupt:
        return time.perf_counter() - sent[0]
    finally:
        timer.join()
    raise RuntimeError(f"the run of {steps} steps ended before the signal: give more steps")


def frame_share(x, z, series, rows):
    hm0, tp, wlev, angle = (np.resize(v, rows) for v in series)
    tp = tp.copy()
    tp[::23] = -1.0  # refused steps: their result columns become NaN
    start = time.process_time()
    result = qav.run(x, z, hm0, tp, wlev, angle, dike_normal=270.0, threads=1)
    model = time.process_time() - start
    start = time.process_time()
    result.to_frame()
    return model, time.process_time() - start


def netcdf_seconds(x, z, series, folder):
    sections, hours = 20, 8760
    profiles = xr.Dataset({"x": (("section", "point"), np.tile(x, (sections, 1))),
                           "z": (("section", "point"), np.tile(z, (sections, 1))),
                           "dike_normal": ("section", np.full(sections, 270.0))})
    loads = xr.Dataset({name: (("section", "time"), np.tile(np.resize(v, hours), (sections, 1)),
                               {"standard_name": qav.xr.LOAD_STANDARD_NAMES[name]})
                        for name, v in zip(("hm0", "tp", "wlev", "angle"), series)})
    toe = qav.xr.toe_conditions(loads, profiles)
    path = Path(folder) / "toe.nc"
    start = time.perf_counter()
    toe.to_netcdf(path)
    return time.perf_counter() - start, path.stat().st_size


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--steps", type=int, default=3_000_000, help="steps of the interrupted run")
    args = parser.parse_args()
    signal.signal(signal.SIGINT, signal.default_int_handler)
    x, z = qav.read_profile(ROOT / "examples" / "profile.csv")
    series = tuple(qav.read_series(ROOT / "examples" / "series.csv"))
    print(f"qav {qav.__version__} from {Path(qav.__file__).parent}, march path {qav.march_path()}, "
          f"{os.cpu_count()} cores, load average {os.getloadavg()[0]:.2f}")
    latency = [interrupt_latency(x, z, series, args.steps) for _ in range(args.repetitions)]
    print(f"Ctrl-C 1 s into a run of {args.steps} steps: KeyboardInterrupt after {statistics.median(latency):.3f} s "
          f"(median; at most {max(latency):.3f} s)")
    shares = [frame_share(x, z, series, 100_000) for _ in range(args.repetitions)]
    model, frame = (statistics.median(s[k] for s in shares) for k in (0, 1))
    print(f"100000 rows: the model {model:.3f} s CPU, to_frame() {frame:.4f} s CPU: {frame / model:.3f} of the model's")
    with tempfile.TemporaryDirectory() as folder:
        written = [netcdf_seconds(x, z, series, folder) for _ in range(args.repetitions)]
    print(f"20 sections x 8760 hours to NetCDF: {statistics.median(w[0] for w in written):.3f} s "
          f"(median), {written[0][1] / 1e6:.2f} MB")


if __name__ == "__main__":
    main()
