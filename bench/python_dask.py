"""Dask on a LocalCluster of two worker processes against a single process:
200 sections x 2000 time steps through qav.xr.toe_conditions, and the cost of
small tasks, in the same run.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_dask.py [--sections 200] [--steps 2000]
    .venv/bin/python bench/python_dask.py        # the installed package (pip install .)

Single process: the whole table eagerly in this process (one thread). Cluster:
the same table in chunks of --chunk-sections sections (one task of the model
each), on two workers of one thread each, warmed up first (the workers have
imported qav). The single process, the control and the cluster take turns,
repetition by repetition. From Dask's task stream, the cluster's timeline:
when its first task started and its last ended after the call, when the
result came, and how much of the time between the workers ran tasks.
Task size: 20 sections x 2000 steps in tasks of 100 and of 1000 rows.
The results of the cluster are checked against the single process's. As a
control, two plain processes without Dask each run half the sections: the
speed-up two processes get on the machine as it is during the run (other
work on the machine lowers it).
"""

import argparse
import concurrent.futures
import multiprocessing
import os
import statistics
import sys
import time
from pathlib import Path

from dask.distributed import Client, LocalCluster, get_task_stream

import qav
import qav.xr

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "examples"))
from dask_sections import section_profiles, storm_loads  # noqa: E402


def timed(function, repetitions):
    times = []
    for _ in range(repetitions):
        start = time.perf_counter()
        result = function()
        times.append(time.perf_counter() - start)
    return statistics.median(times), result


def half_table(part, sections, steps):
    loads, profiles = storm_loads(sections, steps), section_profiles(sections)
    half = slice(0, sections // 2) if part == 0 else slice(sections // 2, sections)
    start = time.perf_counter()
    qav.xr.toe_conditions(loads.isel(section=half), profiles.isel(section=half), threads=1)
    return time.perf_counter() - start


def timeline(tasks, called, seconds):
    """Where a computation on the cluster spent its time, from the task stream:
    the first task's start and the last task's end after the call, the end of
    the call, and the share of the time between the first start and the last
    end that the busier worker and the other one spent running tasks."""
    spans = [(span["start"], span["stop"], task["worker"]) for task in tasks for span in task["startstops"]]
    first, last = min(s[0] for s in spans), max(s[1] for s in spans)
    busy = {}
    for start, stop, worker in spans:
        busy[worker] = busy.get(worker, 0.0) + stop - start
    return (first - called, last - called, seconds, *sorted(b / (last - first) for b in busy.values())[::-1])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sections", type=int, default=200)
    parser.add_argument("--steps", type=int, default=2000)
    parser.add_argument("--chunk-sections", type=int, default=10)
    parser.add_argument("--repetitions", type=int, default=3)
    args = parser.parse_args()
    # Worker processes find the package on PYTHONPATH.
    root = str(Path(qav.__file__).resolve().parents[1])
    os.environ["PYTHONPATH"] = os.pathsep.join(p for p in (root, os.environ.get("PYTHONPATH")) if p)

    load_before = os.getloadavg()[0]
    loads, profiles = storm_loads(args.sections, args.steps), section_profiles(args.sections)
    chunked = loads.chunk({"section": args.chunk_sections})
    # The three take turns, repetition by repetition, so that other work on the
    # machine weighs on each alike.
    times = {"single": [], "control": [], "cluster": []}
    timelines = []
    with concurrent.futures.ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("fork")) as pool:
        # Both processes forked and warm before the cluster starts its threads here.
        list(pool.map(half_table, (0, 1), (2, 2), (10, 10)))
        cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
        client = Client(cluster)
        qav.xr.toe_conditions(chunked.isel(section=slice(0, 2)), profiles.isel(section=slice(0, 2))).compute()
        for _ in range(args.repetitions):
            seconds, expected = timed(lambda: qav.xr.toe_conditions(loads, profiles, threads=1), 1)
            times["single"].append(seconds)
            times["control"].append(timed(lambda: list(pool.map(half_table, (0, 1), (args.sections,) * 2,
                                                                (args.steps,) * 2)), 1)[0])
            called = time.time()
            with get_task_stream() as stream:
                seconds, result = timed(lambda: qav.xr.toe_conditions(chunked, profiles).compute(), 1)
            times["cluster"].append(seconds)
            timelines.append(timeline(stream.data, called, seconds))
            assert result.hm0_toe.values.tobytes() == expected.hm0_toe.values.tobytes()
            assert (result.status.values == expected.status.values).all()

        small_loads, small_profiles = loads.isel(section=slice(0, 20)), profiles.isel(section=slice(0, 20))
        rows = {}
        for task_rows in (100, 1000):
            tasks = small_loads.chunk({"section": 1, "time": task_rows})
            rows[task_rows], _ = timed(lambda: qav.xr.toe_conditions(tasks, small_profiles).compute(),
                                       args.repetitions)
        client.close()
        cluster.close()
    single, two_processes, on_cluster = (statistics.median(times[k]) for k in ("single", "control", "cluster"))

    n = args.sections * args.steps
    print(f"qav {qav.version()}, march path {qav.march_path()}, {os.cpu_count()} cores, "
          f"load average before {load_before:.2f}, after {os.getloadavg()[0]:.2f} (others' work on the machine)")
    print(f"{args.sections} sections x {args.steps} steps ({n} rows), medians of {args.repetitions}:")
    print(f"  single process           {single:8.3f} s  ({single / n * 1e6:.2f} us per row)")
    print(f"  cluster, 2 workers       {on_cluster:8.3f} s  ({args.sections // args.chunk_sections} tasks of "
          f"{args.chunk_sections * args.steps} rows)  speed-up {single / on_cluster:.2f}x")
    print(f"  control: 2 processes, no Dask {two_processes:8.3f} s  speed-up {single / two_processes:.2f}x "
          "(each makes its half of the loads too)")
    first, last, end, *shares = (statistics.median(t[k] for t in timelines) for k in range(len(timelines[0])))
    print(f"    its first task started {first:.3f} s after the call, the last ended at {last:.3f} s, the result "
          f"came at {end:.3f} s; in between the workers ran tasks " + " and ".join(f"{b:.0%}" for b in shares)
          + " of the time")
    small = 20 * args.steps
    for task_rows, seconds in rows.items():
        print(f"  {small} rows in tasks of {task_rows:5} rows: {seconds:8.3f} s ({small // task_rows} tasks)")
    print(f"  tasks of 100 rows take {rows[100] / rows[1000]:.2f}x the time of tasks of 1000 rows")


if __name__ == "__main__":
    main()
