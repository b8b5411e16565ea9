"""Toe conditions of many dike sections with xarray: NetCDF in, NetCDF out, lazily over Dask.

    >>> import xarray as xr, qav
    >>> loads = xr.open_dataset("loads.nc", chunks={"section": 20})   # dask-backed
    >>> toe = qav.xr.toe_conditions(loads, xr.open_dataset("profiles.nc"))
    >>> toe.to_netcdf("toe.nc")                                        # computed here

The loads are found by their CF standard names (LOAD_STANDARD_NAMES), the
profiles by their variable names (x, z, dike_normal, dam_type, dam_height).
With dask-backed loads nothing runs until the result is computed; then every
chunk is a task that runs the model for its sections and time steps, on the
threads or processes of Dask's scheduler or on the workers of a cluster
(dask.distributed). A time step's result does not depend on the steps beside
it, so results do not depend on the chunks.

Chunk size: a task should run for 0.1 s or more, or Dask's overhead per task
(milliseconds, more on a busy machine or across a network) eats the gain; on
a 2-core machine tasks of 100 rows (section x time step pairs) took about 5x
the time of tasks of 1000 rows (bench/python_dask.py). Time one section's
qav.run to get the cost of a row (15 to 25 us on the bundled profile) and put
at least 0.1 s / (seconds per row) rows in a chunk.
"""

from __future__ import annotations

import numpy as np
import xarray as xr

from . import DAM_TYPES, FAILED_STATUS_NAMES, STATUS_NAMES, run, version

__all__ = ["toe_conditions", "LOAD_STANDARD_NAMES"]

#: The CF standard name of each load, by the argument of qav.run it feeds.
LOAD_STANDARD_NAMES = {
    "hm0": "sea_surface_wave_significant_height",
    "tp": "sea_surface_wave_period_at_variance_spectral_density_maximum",
    "wlev": "sea_surface_height",
    "angle": "sea_surface_wave_from_direction",
}

_UNITS = {
    "hm0": ("m", "meter", "meters", "metre", "metres"),
    "tp": ("s", "second", "seconds", "sec"),
    "wlev": ("m", "meter", "meters", "metre", "metres"),
    "angle": ("degree", "degrees", "deg", "degree_true", "degrees_true"),
}

_STATUS_WIDTH = max(len(name) for name in STATUS_NAMES)


def _load(loads: xr.Dataset, key: str) -> xr.DataArray:
    """The load feeding qav.run's argument key (hm0 m, tp s, wlev m, angle degree), by its
    standard name, else by the name key; its units checked when it has any."""
    standard_name = LOAD_STANDARD_NAMES[key]
    found = [name for name, variable in loads.data_vars.items()
             if variable.attrs.get("standard_name") == standard_name]
    if len(found) > 1:
        raise ValueError(f"the loads have several variables with standard_name {standard_name!r}: {found}")
    if not found:
        if key not in loads.data_vars:
            raise ValueError(f"the loads lack {key}: no variable with standard_name {standard_name!r} "
                             f"(nor one named {key!r})")
        found = [key]
    variable = loads[found[0]]
    units = variable.attrs.get("units")
    if units is not None and str(units).strip() not in _UNITS[key]:
        raise ValueError(f"{found[0]} ({key}) has units {units!r}; expected {_UNITS[key][0]!r}")
    return variable


def _profile(profiles: xr.Dataset, name: str, dims: tuple, default=None) -> xr.DataArray:
    """The profiles' variable name on dims (x, z and dam_height in m, dike_normal in degree),
    or default for every section when it has none and there is a default."""
    if name not in profiles.variables:
        if default is None:
            raise ValueError(f"the profiles lack the variable {name!r} with dimensions {dims}")
        return xr.DataArray(np.full(profiles.sizes["section"], default), dims=("section",),
                            coords={"section": profiles["section"]} if "section" in profiles.coords else None)
    variable = profiles[name]
    if set(variable.dims) != set(dims):
        raise ValueError(f"the profiles' {name} has dimensions {variable.dims}; expected {dims}")
    return variable


def _dam_codes(dam_type: xr.DataArray) -> xr.DataArray:
    """Dam types by name ('none', 'caisson', 'wall', 'dam') as the model's codes 0 to 3."""
    if dam_type.dtype.kind in "OUS":
        def code(value):
            key = value.decode() if isinstance(value, bytes) else str(value)
            if key.strip().lower() not in DAM_TYPES:
                raise ValueError(f"dam_type {value!r} is none of {sorted(DAM_TYPES)}")
            return DAM_TYPES[key.strip().lower()]
        return dam_type.copy(data=np.vectorize(code, otypes=[np.int64])(dam_type.values))
    return dam_type


def _toe_block(hm0, tp, wlev, angle, x, z, dike_normal, dam_type, dam_height, parameters):
    """The model over one block: loads of shape (sections, ...), profiles of
    shape (sections, 1, ..., points), section values of shape (sections, 1, ...).
    Runs each section's steps in one call."""
    sections = hm0.shape[0]
    shape = hm0.shape
    points = x.shape[-1]
    x = np.broadcast_to(x, (sections,) + (1,) * (len(shape) - 1) + (points,)).reshape(sections, points)
    z = np.broadcast_to(z, (sections,) + (1,) * (len(shape) - 1) + (points,)).reshape(sections, points)
    dike_normal, dam_type, dam_height = (np.broadcast_to(v, (sections,) + (1,) * (len(shape) - 1))
                                         .reshape(sections) for v in (dike_normal, dam_type, dam_height))
    hm0_toe = np.empty(shape)
    tp_toe = np.empty(shape)
    angle_toe = np.empty(shape)
    status = np.empty(shape, dtype=f"<U{_STATUS_WIDTH}")
    for s in range(sections):
        # Profiles of fewer points than the longest are padded with NaN at the end.
        keep = len(x[s])
        while keep > 0 and np.isnan(x[s, keep - 1]) and np.isnan(z[s, keep - 1]):
            keep -= 1
        result = run(x[s, :keep], z[s, :keep], hm0[s].ravel(), tp[s].ravel(), wlev[s].ravel(),
                     angle[s].ravel(), dike_normal=float(dike_normal[s]), dam_type=int(dam_type[s]),
                     dam_height=float(dam_height[s]), **parameters)
        failed = np.isin(result.status, FAILED_STATUS_NAMES)
        hm0_toe[s] = np.where(failed, np.nan, result.hm0_toe).reshape(shape[1:])
        tp_toe[s] = np.where(failed, np.nan, result.tp_toe).reshape(shape[1:])
        angle_toe[s] = np.where(failed, np.nan, result.angle_toe).reshape(shape[1:])
        status[s] = result.status.reshape(shape[1:])
    return hm0_toe, tp_toe, angle_toe, status


def toe_conditions(loads: xr.Dataset, profiles: xr.Dataset, *, ag: float = 9.81, rho: float = 1025.0,
                   alpha: float = 1.0, fc: float = 0.01, ratio_depth: float = 0.5,
                   min_step_size: float = 1.0, threads: int = 1) -> xr.Dataset:
    """Wave conditions at the toe for every section and time step.

    loads     Dataset whose variables carry the CF standard names of
              LOAD_STANDARD_NAMES: sea_surface_wave_significant_height (m),
              sea_surface_wave_period_at_variance_spectral_density_maximum (s),
              sea_surface_height (m, the water level, datum of z),
              sea_surface_wave_from_direction (degree); a variable without one
              is found by the name hm0, tp, wlev or angle. Dimensions: section
              and any others (time, load case, ...); loads without section are
              the same for every section.
    profiles  Dataset with dimensions (section, point): x (m, increasing
              towards the dike) and z (m, bottom level), a section with fewer
              points padded with NaN at the end; and per section dike_normal
              (degree), optionally dam_type (0 to 3 or 'none', 'caisson',
              'wall', 'dam'; default none) and dam_height (m; default 0).
    ag, rho, alpha, fc, ratio_depth, min_step_size   the model parameters of qav.run
    threads   threads per call of the model (for numpy-backed loads; with Dask,
              leave 1 and let Dask spread the chunks)

    Returns a Dataset with the loads' dimensions and coordinates: hm0_toe (m),
    tp_toe (s), angle_toe (degree), each NaN where the step failed, and status
    (the names of `qav run`'s status column), with CF attributes. Lazy when
    the loads are dask-backed (xarray.apply_ufunc with dask="parallelized"):
    one task per chunk of the loads. Raises ValueError when a variable is
    missing or has other units.
    """
    hm0, tp, wlev, angle = (_load(loads, key) for key in ("hm0", "tp", "wlev", "angle"))
    x = _profile(profiles, "x", ("section", "point"))
    z = _profile(profiles, "z", ("section", "point"))
    dike_normal = _profile(profiles, "dike_normal", ("section",))
    dam_type = _dam_codes(_profile(profiles, "dam_type", ("section",), default=0))
    dam_height = _profile(profiles, "dam_height", ("section",), default=0.0)
    if "section" not in hm0.dims and "section" not in profiles.dims:
        raise ValueError("the profiles have no dimension 'section'")

    # Every load on the dimension section, which comes first.
    hm0, tp, wlev, angle = (xr.broadcast(v, dike_normal)[0].transpose("section", ...)
                            for v in (hm0, tp, wlev, angle))
    # The points of a profile go to a task whole.
    if x.chunks is not None:
        x = x.chunk({"point": -1})
    if z.chunks is not None:
        z = z.chunk({"point": -1})
    parameters = dict(ag=ag, rho=rho, alpha=alpha, fc=fc, ratio_depth=ratio_depth,
                      min_step_size=min_step_size, threads=threads)
    outputs = xr.apply_ufunc(
        _toe_block, hm0, tp, wlev, angle, x, z, dike_normal, dam_type, dam_height,
        kwargs={"parameters": parameters},
        input_core_dims=[[], [], [], [], ["point"], ["point"], [], [], []],
        output_core_dims=[[], [], [], []],
        dask="parallelized",
        output_dtypes=[np.float64, np.float64, np.float64, f"<U{_STATUS_WIDTH}"],
        keep_attrs=False)
    hm0_toe, tp_toe, angle_toe, status = outputs
    hm0_toe.attrs.update(standard_name=LOAD_STANDARD_NAMES["hm0"], units="m",
                         long_name="significant wave height at the dike toe")
    tp_toe.attrs.update(standard_name=LOAD_STANDARD_NAMES["tp"], units="s",
                        long_name="peak period at the dike toe")
    angle_toe.attrs.update(standard_name=LOAD_STANDARD_NAMES["angle"], units="degree",
                           long_name="wave direction at the dike toe")
    status.attrs.update(long_name="outcome of the time step",
                        comment="one of: " + ", ".join(STATUS_NAMES) + "; the toe values are NaN where "
                                "it is one of: " + ", ".join(FAILED_STATUS_NAMES))
    result = xr.Dataset({"hm0_toe": hm0_toe, "tp_toe": tp_toe, "angle_toe": angle_toe, "status": status})
    result.attrs.update(Conventions="CF-1.8", source=f"Qav {version()}",
                        title="wave conditions at the dike toe")
    return result
