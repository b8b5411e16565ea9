"""Toe conditions of many dike sections with xarray: NetCDF in, NetCDF out, lazily over Dask.

    >>> import xarray as xr, qav
    >>> loads = xr.open_dataset("loads.nc", chunks={"section": 20})   # dask-backed
    >>> toe = qav.xr.toe_conditions(loads, xr.open_dataset("profiles.nc"))
    >>> toe.to_netcdf("toe.nc")                                        # computed here

The loads are found by their CF standard names (LOAD_STANDARD_NAMES), the
profiles by their variable names (x, z, dike_normal, dam_type, dam_height).
With dask-backed loads nothing runs until the result is computed; then every
chunk of the loads is one task that runs the model for its sections and time
steps (each section's steps in one call, the GIL released for the whole
chunk), on the threads or processes of Dask's scheduler or on the workers of
a cluster (dask.distributed). The task holds the numbers of its own
sections' profiles (the profiles are not rechunked) and, for loads chunked
from numpy arrays, its loads: it waits for no other task and no transfer
between workers. Four small tasks per chunk split its one array into the
outputs. A time step's result does not depend on the steps beside it, so
results do not depend on the chunks.

Chunk size: a task should run for 0.1 s or more, or Dask's overhead per
chunk (a few milliseconds for the five tasks, more on a busy machine or
across a network) eats the gain; on a 2-core machine chunks of 100 rows
(section x time step pairs) took about 5x the time of chunks of 1000 rows
(bench/python_dask.py). Time one section's qav.run to get the cost of a row
(about 10 us on the bundled profile) and put at least 0.1 s / (seconds per
row) rows in a chunk, and chunk along section first.
"""

from __future__ import annotations

import functools
import sys

import numpy as np
import xarray as xr

from . import DAM_TYPES, FAILED_STATUS_NAMES, STATUS_NAMES, _qav, version

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


def _sections_of_loads(load: xr.DataArray, profile_variables: list) -> list:
    """The profile variables of the loads' sections, in the loads' order: taken by
    label where both the loads and the profiles name their sections, else by
    position, which needs as many profiles as the loads have sections."""
    count = load.sizes["section"]
    have = profile_variables[0].sizes["section"]
    if "section" in load.indexes and "section" in profile_variables[0].indexes:
        wanted = load.indexes["section"]
        known = profile_variables[0].indexes["section"]
        lacking = [label for label in wanted if label not in known]
        if lacking:
            shown = ", ".join(repr(label) for label in lacking[:10]) + (", ..." if len(lacking) > 10 else "")
            raise ValueError(f"the profiles lack {len(lacking)} of the loads' {count} sections: {shown}")
        if not known.is_unique:
            raise ValueError("the profiles name a section twice")
        return [v.sel(section=wanted) for v in profile_variables]
    if count != have:
        raise ValueError(f"the loads have {count} sections and the profiles {have}; without a coordinate "
                         "'section' in both, the loads' sections are the profiles' in their order")
    return profile_variables


def _dam_codes(dam_type: xr.DataArray) -> xr.DataArray:
    """Dam types by name ('none', 'caisson', 'wall', 'dam') as the model's codes 0 to 3."""
    if dam_type.dtype.kind in "OUS":
        def code(value):
            key = value.decode() if isinstance(value, bytes) else str(value)
            if key.strip().lower() not in DAM_TYPES:
                raise ValueError(f"dam_type {value!r} is none of {sorted(DAM_TYPES)}")
            return DAM_TYPES[key.strip().lower()]
        return dam_type.copy(data=np.vectorize(code, otypes=[np.int64])(dam_type.values))
    if dam_type.dtype.kind in "iu":
        return dam_type
    # A code is a whole number, as qav.run takes it: 2.9 is no wall, and True no caisson.
    values = np.asarray(dam_type.values)
    whole = values.dtype.kind == "f" and np.isfinite(values) & (values == np.round(values))
    if not np.all(whole):
        wrong = values.ravel()[~np.asarray(whole, dtype=bool).ravel()] if values.dtype.kind == "f" else values.ravel()
        raise ValueError(f"dam_type must be 0 (none), 1 (caisson), 2 (wall) or 3 (dam), got {wrong[0]!r}")
    return dam_type.copy(data=values.astype(np.int64))


def _toe_block(hm0, tp, wlev, angle, x, z, dike_normal, dam_type, dam_height, parameters):
    """The model over one block, the task of a chunk: loads of shape (sections, ...),
    profiles x and z of shape (sections, points), dike_normal, dam_type and
    dam_height of shape (sections,). Returns float64 of shape (4, sections, ...):
    hm0_toe, tp_toe, angle_toe (NaN where the step failed) and the position of
    each step's status in STATUS_NAMES. Each section's steps run in one call of
    the model, with the GIL released for the whole block."""
    shape = hm0.shape
    sections, steps = shape[0], int(np.prod(shape[1:]))
    loads = (np.ascontiguousarray(v, dtype=np.float64).reshape(sections, steps) for v in (hm0, tp, wlev, angle))
    profile = (np.ascontiguousarray(v, dtype=np.float64).reshape(sections, x.shape[-1]) for v in (x, z))
    values = _qav.toe_block(*profile, *loads, np.ascontiguousarray(dike_normal, dtype=np.float64).reshape(sections),
                            np.ascontiguousarray(dam_type, dtype=np.int64).reshape(sections),
                            np.ascontiguousarray(dam_height, dtype=np.float64).reshape(sections), **parameters)
    return values.reshape((4,) + shape)


_STATUS = np.array(STATUS_NAMES)


def _status_names(values):
    """The names of the statuses of a block of _toe_block."""
    return _STATUS[values[3].astype(np.intp)]


def _plane(values, k):
    """Output k (hm0_toe, tp_toe or angle_toe) of a block of _toe_block."""
    return values[k]


def _toe_data(hm0, tp, wlev, angle, x, z, dike_normal, dam_type, dam_height, parameters):
    """The four outputs over the whole table: loads of shape (sections, ...),
    the others of shape (sections, [1, ...,] [points]) as apply_ufunc lays them
    out. Computed now when no input is a dask array; lazy otherwise."""
    sections = hm0.shape[0]
    x, z = (v.reshape(sections, v.shape[-1]) for v in (x, z))
    dike_normal, dam_type, dam_height = (v.reshape(sections) for v in (dike_normal, dam_type, dam_height))
    inputs = (hm0, tp, wlev, angle, x, z, dike_normal, dam_type, dam_height)
    da = sys.modules.get("dask.array")  # imported by whoever made dask data
    if da is None or not any(isinstance(v, da.Array) for v in inputs):
        values = _toe_block(*inputs, parameters)
        return values[0], values[1], values[2], _status_names(values)
    return _lazy_toe_data(da, inputs, parameters)


def _lazy_toe_data(da, inputs, parameters):
    """The four outputs as dask arrays: one task per chunk of the loads runs
    _toe_block on its own sections and returns one array, which four small
    tasks split into the outputs (the status names made beside the data).
    Every task of the model has no dependency: the numbers of its sections'
    profiles, and the loads' chunks that are data in the graph (numpy arrays
    chunked by dask), are in the task itself. So there is no rechunk of the
    profiles, no transfer between workers, and a worker starts its next task
    the moment it ends one, without waiting for the scheduler to send it the
    inputs. Loads read lazily (from files) are the task's dependencies as usual."""
    from dask.base import tokenize
    from dask.highlevelgraph import HighLevelGraph, MaterializedLayer

    def chunked(value, section_chunks):
        if isinstance(value, da.Array):
            return value.rechunk((section_chunks,) + (-1,) * (value.ndim - 1))
        return da.from_array(value, chunks=(section_chunks,) + (-1,) * (value.ndim - 1))  # sliced now

    def chunk(array, block):
        """The chunk block of array: its numbers when they are data in the graph, else its key."""
        key = (array.name,) + block
        layer = array.dask.layers.get(array.name)
        if isinstance(layer, MaterializedLayer):
            value = layer.get(key)
            if isinstance(value, np.ndarray):
                return value
        return key

    section_chunks = next(v for v in inputs if isinstance(v, da.Array)).chunks[0]
    loads = [chunked(v, section_chunks) if not isinstance(v, da.Array) else v for v in inputs[:4]]
    load_index = tuple(range(loads[0].ndim))
    _, loads = da.core.unify_chunks(*(a for v in loads for a in (v, load_index)))
    section_chunks = loads[0].chunks[0]
    profiles = [chunked(v, section_chunks) for v in inputs[4:]]
    task = functools.partial(_toe_block, parameters=parameters)
    name = "toe_block-" + tokenize(*loads, *profiles, parameters)
    layer = {}
    for block in np.ndindex(*loads[0].numblocks):
        section_block = (block[0],)
        layer[(name, 0) + block] = (task, *(chunk(v, block) for v in loads),
                                    *(chunk(v, section_block + (0,) * (v.ndim - 1)) for v in profiles))
    values = da.Array(HighLevelGraph.from_collections(name, layer, dependencies=[*loads, *profiles]), name,
                      ((4,),) + loads[0].chunks, dtype=np.float64)
    outputs = []
    for k, (function, dtype) in enumerate([(_plane, np.float64)] * 3 + [(_status_names, _STATUS.dtype)]):
        output = f"{('hm0_toe', 'tp_toe', 'angle_toe', 'status')[k]}-{tokenize(name)}"
        split = {(output,) + block: (function, (name, 0) + block) + ((k,) if k < 3 else ())
                 for block in np.ndindex(*loads[0].numblocks)}
        outputs.append(da.Array(HighLevelGraph.from_collections(output, split, dependencies=[values]), output,
                                loads[0].chunks, dtype=dtype))
    return tuple(outputs)


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
              A load's section is paired with the profile of the same label
              when both have a coordinate section (the profiles may hold more
              sections than the loads), else with the profile in its place.
    ag, rho, alpha, fc, ratio_depth, min_step_size   the model parameters of qav.run
    threads   threads per call of the model (for numpy-backed loads; with Dask,
              leave 1 and let Dask spread the chunks)

    Returns a Dataset with the loads' dimensions and coordinates: hm0_toe (m),
    tp_toe (s), angle_toe (degree), each NaN where the step failed, and status
    (the names of `qav run`'s status column), with CF attributes. Lazy when
    any input is dask-backed: one task of the model per chunk of the loads,
    whose outputs have the loads' chunks. Raises ValueError when a variable is
    missing or has other units, or when a section of the loads has no profile.
    """
    hm0, tp, wlev, angle = (_load(loads, key) for key in ("hm0", "tp", "wlev", "angle"))
    x = _profile(profiles, "x", ("section", "point"))
    z = _profile(profiles, "z", ("section", "point"))
    dike_normal = _profile(profiles, "dike_normal", ("section",))
    dam_type = _dam_codes(_profile(profiles, "dam_type", ("section",), default=0))
    dam_height = _profile(profiles, "dam_height", ("section",), default=0.0)
    if "section" not in hm0.dims and "section" not in profiles.dims:
        raise ValueError("the profiles have no dimension 'section'")
    # Only the loads' sections run, each with its own profile.
    load_with_sections = next((v for v in (hm0, tp, wlev, angle) if "section" in v.dims), None)
    if load_with_sections is not None:
        x, z, dike_normal, dam_type, dam_height = _sections_of_loads(
            load_with_sections, [x, z, dike_normal, dam_type, dam_height])

    # Every load on the dimension section, which comes first.
    hm0, tp, wlev, angle = (xr.broadcast(v, dike_normal)[0].transpose("section", ...)
                            for v in (hm0, tp, wlev, angle))
    parameters = dict(ag=ag, rho=rho, alpha=alpha, fc=fc, ratio_depth=ratio_depth,
                      min_step_size=min_step_size, threads=threads)
    outputs = xr.apply_ufunc(
        _toe_data, hm0, tp, wlev, angle, x, z, dike_normal, dam_type, dam_height,
        kwargs={"parameters": parameters},
        input_core_dims=[[], [], [], [], ["point"], ["point"], [], [], []],
        output_core_dims=[[], [], [], []],
        dask="allowed",
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
