"""Toe conditions of many dike sections on a Dask cluster, written to NetCDF.

    PYTHONPATH=build/release/python /usr/bin/python3 examples/dask_sections.py                 # 2 local workers
    PYTHONPATH=build/release/python /usr/bin/python3 examples/dask_sections.py --scheduler tcp://host:8786

Without --scheduler the script starts a LocalCluster of two worker processes
with one thread each; with it, it runs on the workers of that scheduler,
which must be able to import qav (the same build on their PYTHONPATH). The
loads are synthetic storms with CF standard names on the bundled profile; for
real data open them lazily instead:

    loads = xr.open_dataset("loads.nc", chunks={"section": 10})

Chunks: aim for tasks of 0.1 s or more (see qav.xr): sections per chunk x
time steps x the cost of a row (about 10 us on the bundled profile; time one
section's qav.run for yours).
"""

import argparse
from pathlib import Path

import numpy as np
import xarray as xr
from dask.distributed import Client, LocalCluster

import qav
import qav.xr

EXAMPLES = Path(__file__).resolve().parent


def section_profiles(sections: int) -> xr.Dataset:
    """The bundled foreshore, a little deeper or shallower per section, with its own dike normal."""
    x, z = qav.read_profile(EXAMPLES / "profile.csv")
    rng = np.random.default_rng(1)
    return xr.Dataset(
        {"x": (("section", "point"), np.tile(x, (sections, 1)), {"units": "m"}),
         "z": (("section", "point"), z + rng.uniform(-0.5, 0.5, (sections, 1)), {"units": "m"}),
         "dike_normal": ("section", rng.uniform(250.0, 290.0, sections), {"units": "degree"})},
        coords={"section": np.arange(sections)})


def storm_loads(sections: int, steps: int) -> xr.Dataset:
    """Offshore conditions per section and time step, named by their CF standard names."""
    rng = np.random.default_rng(2)
    shape = (sections, steps)
    cf = {"hm0": ("sea_surface_wave_significant_height", "m", rng.gamma(4.0, 0.4, shape)),
          "tp": ("sea_surface_wave_period_at_variance_spectral_density_maximum", "s", rng.uniform(4.0, 11.0, shape)),
          "wlev": ("sea_surface_height", "m", rng.uniform(-1.0, 4.0, shape)),
          "angle": ("sea_surface_wave_from_direction", "degree", rng.uniform(180.0, 360.0, shape))}
    return xr.Dataset({name: (("section", "time"), values, {"standard_name": standard_name, "units": units})
                       for name, (standard_name, units, values) in cf.items()},
                      coords={"section": np.arange(sections), "time": np.arange(steps)})


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scheduler", help="address of a Dask scheduler (default: a local cluster)")
    parser.add_argument("--sections", type=int, default=200)
    parser.add_argument("--steps", type=int, default=2000)
    parser.add_argument("--chunk-sections", type=int, default=10, help="sections per task")
    parser.add_argument("--output", default="toe.nc", help="NetCDF file of the results")
    args = parser.parse_args()

    cluster = None if args.scheduler else LocalCluster(n_workers=2, threads_per_worker=1, processes=True)
    with Client(args.scheduler or cluster):
        loads = storm_loads(args.sections, args.steps).chunk({"section": args.chunk_sections})
        toe = qav.xr.toe_conditions(loads, section_profiles(args.sections))  # lazy: a graph of tasks
        toe = toe.compute()  # the tasks run on the workers
    if cluster is not None:
        cluster.close()
    toe.to_netcdf(args.output)
    counts = dict(zip(*np.unique(toe.status.values, return_counts=True)))
    print(f"{args.sections} sections x {args.steps} steps -> {args.output}: "
          + ", ".join(f"{count} {qav.STATUS_NAMES[code]}" for code, count in counts.items())
          + f"; largest Hm0 at the toe {float(toe.hm0_toe.max()):.2f} m")


if __name__ == "__main__":
    main()
