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

import datetime
import functools
import numbers
import sys
import warnings
from typing import Optional, Union

import numpy as np
import xarray as xr

from . import (DAM_TYPES, FAILED_STATUS_NAMES, FLAG_MASKS, FLAG_NAMES, STATUS_NAMES, ProgressCallback, QavWarning,
               _close, _progress, _qav, march_path, version)

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


def _sections_of_loads(load: xr.DataArray, profile_variables: list, what: str = "the profiles") -> list:
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
            raise ValueError(f"{what} lack{'s' * (what != 'the profiles')} {len(lacking)} of the loads' "
                             f"{count} sections: {shown}")
        if not known.is_unique:
            raise ValueError(f"{what} name{'s' * (what != 'the profiles')} a section twice")
        return [v.sel(section=wanted) for v in profile_variables]
    if count != have:
        raise ValueError(f"the loads have {count} sections and {what} {have}; without a coordinate "
                         f"'section' in both, the loads' sections are {what}' in their order")
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


#: The settings of a section's run, in the order of the compiled block: the profile's
#: structure, then the model parameters (arguments of toe_conditions).
_SETTINGS = _qav.BLOCK_SETTINGS


def _toe_block(hm0, tp, wlev, angle, x, z, *settings, parameters):
    """The model over one block, the task of a chunk: loads of shape (sections, ...),
    profiles x and z of shape (sections, points), the settings (_SETTINGS) each of
    shape (sections, 1, ...) or the loads' shape, and last the sections' labels.
    Returns float64 of shape (5, sections, ...): hm0_toe, tp_toe, angle_toe (NaN
    where the step failed), the position of each step's status in STATUS_NAMES
    and its flags. Each section's steps run in one call of the model (split where
    a setting changes along them); the library's findings on a section are given
    as QavWarning naming it."""
    *settings, labels = settings
    shape = hm0.shape
    sections, steps = shape[0], int(np.prod(shape[1:]))
    loads = (np.ascontiguousarray(v, dtype=np.float64).reshape(sections, steps) for v in (hm0, tp, wlev, angle))
    profile = (np.ascontiguousarray(v, dtype=np.float64).reshape(sections, x.shape[-1]) for v in (x, z))
    per_step = any(max(np.shape(v)[1:], default=1) > 1 for v in settings)
    table = np.empty((len(_SETTINGS), sections, steps if per_step else 1))
    for k, value in enumerate(settings):
        value = np.asarray(value, dtype=np.float64)
        if per_step:
            table[k] = np.broadcast_to(value, shape).reshape(sections, steps)
        else:
            table[k, :, 0] = np.broadcast_to(value.reshape(value.shape[0], -1)[:, 0], (sections,))
    values, findings = _qav.toe_block(*profile, *loads, table, parameters.get("threads", 1),
                                      parameters.get("progress"))
    labels = np.asarray(labels).reshape(sections, -1)[:, 0]
    for section, text in findings:
        warnings.warn(f"section {labels[section]}: {text}", QavWarning, stacklevel=2)
    return values.reshape((5,) + shape)


def _status_codes(values):
    """The statuses of a block of _toe_block, as positions in STATUS_NAMES."""
    return values[3].astype(np.int8)


def _flags(values):
    """The flags of a block of _toe_block."""
    return values[4].astype(np.uint8)


def _plane(values, k):
    """Output k (hm0_toe, tp_toe or angle_toe) of a block of _toe_block."""
    return values[k]


def _toe_data(hm0, tp, wlev, angle, x, z, *settings, parameters):
    """The five outputs over the whole table: loads of shape (sections, ...),
    the others of shape (sections or 1, [1, ...,] [points]) as apply_ufunc lays them
    out. Computed now when no input is a dask array; lazy otherwise."""
    sections = hm0.shape[0]
    # apply_ufunc leaves out the leading dimensions an input lacks, as numpy broadcasts.
    settings = [v[(np.newaxis,) * (hm0.ndim - np.ndim(v))] for v in settings]
    x, z = (np.broadcast_to(v, (sections,) + v.shape[1:]).reshape(sections, v.shape[-1]) for v in (x, z))
    inputs = (hm0, tp, wlev, angle, x, z, *settings)
    da = sys.modules.get("dask.array")  # imported by whoever made dask data
    if da is None or not any(isinstance(v, da.Array) for v in inputs):
        values = _toe_block(*inputs, parameters=parameters)
        return values[0], values[1], values[2], _status_codes(values), _flags(values)
    lazy = dict(parameters, progress=None, threads=parameters.get("threads") or 1)
    return _lazy_toe_data(da, inputs, lazy)


def _lazy_toe_data(da, inputs, parameters):
    """The five outputs as dask arrays: one task per chunk of the loads runs
    _toe_block on its own sections and returns one array, which five small
    tasks split into the outputs.
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
    shape = inputs[0].shape
    # A setting that changes along the steps is chunked as the loads are; the
    # profiles and the settings of a section are taken whole for its chunks.
    along_steps = [k for k, v in enumerate(inputs) if k < 4 or (k >= 6 and max(v.shape[1:], default=1) > 1)]
    loads = [da.broadcast_to(v, shape) if isinstance(v, da.Array) else chunked(np.broadcast_to(v, shape), section_chunks)
             for v in (inputs[k] for k in along_steps)]
    load_index = tuple(range(loads[0].ndim))
    _, loads = da.core.unify_chunks(*(a for v in loads for a in (v, load_index)))
    section_chunks = loads[0].chunks[0]
    profiles = [chunked(np.broadcast_to(v, (shape[0],) + v.shape[1:]) if not isinstance(v, da.Array) else v,
                        section_chunks)
                for k, v in enumerate(inputs) if k not in along_steps]
    order = along_steps + [k for k in range(len(inputs)) if k not in along_steps]
    task = functools.partial(_toe_block, parameters=parameters)
    name = "toe_block-" + tokenize(*loads, *profiles, parameters)
    layer = {}
    for block in np.ndindex(*loads[0].numblocks):
        section_block = (block[0],)
        arguments = [chunk(v, block) for v in loads] + [chunk(v, section_block + (0,) * (v.ndim - 1))
                                                         for v in profiles]
        layer[(name, 0) + block] = (task, *(arguments[order.index(k)] for k in range(len(inputs))))
    values = da.Array(HighLevelGraph.from_collections(name, layer, dependencies=[*loads, *profiles]), name,
                      ((5,),) + loads[0].chunks, dtype=np.float64)
    outputs = []
    for k, (function, dtype) in enumerate([(_plane, np.float64)] * 3 + [(_status_codes, np.int8),
                                                                        (_flags, np.uint8)]):
        output = f"{('hm0_toe', 'tp_toe', 'angle_toe', 'status', 'flags')[k]}-{tokenize(name)}"
        split = {(output,) + block: (function, (name, 0) + block) + ((k,) if k < 3 else ())
                 for block in np.ndindex(*loads[0].numblocks)}
        outputs.append(da.Array(HighLevelGraph.from_collections(output, split, dependencies=[values]), output,
                                loads[0].chunks, dtype=dtype))
    return tuple(outputs)


def _parameter(name: str, value, loads_dims: tuple, load_with_sections) -> xr.DataArray:
    """A model parameter as a DataArray: a number, or a DataArray along dimensions of
    the loads (its sections taken by label as the profiles' are). Anything else is a
    short error naming the argument (never the values)."""
    if isinstance(value, xr.DataArray):
        outside = [d for d in value.dims if d not in loads_dims]
        if outside:
            raise ValueError(f"{name} is a DataArray along {value.dims}: its dimensions must be the loads' "
                             f"{tuple(loads_dims)} (or some of them); {outside[0]!r} is not one")
        if value.dtype.kind not in "iuf" or value.dtype.kind == "b":
            raise ValueError(f"{name} must hold numbers, got a DataArray of {value.dtype}")
        if "section" in value.dims and load_with_sections is not None:
            value = _sections_of_loads(load_with_sections, [value], what=name)[0]
        return value.astype(np.float64)
    if isinstance(value, (numbers.Real, np.floating, np.integer)) and not isinstance(value, (bool, np.bool_)):
        return xr.DataArray(float(value))
    shape = getattr(value, "shape", None)
    raise ValueError(f"{name} must be a number or an xarray DataArray along section (or another dimension "
                     f"of the loads), got {type(value).__name__}" + (f" of shape {shape}" if shape else ""))


def toe_conditions(loads: xr.Dataset, profiles: xr.Dataset, *, ag: Union[float, xr.DataArray] = 9.81,
                   rho: Union[float, xr.DataArray] = 1025.0, alpha: Union[float, xr.DataArray] = 1.0,
                   fc: Union[float, xr.DataArray] = 0.01, ratio_depth: Union[float, xr.DataArray] = 0.5,
                   min_step_size: Union[float, xr.DataArray] = 1.0, threads: Optional[int] = None,
                   progress: Union[bool, ProgressCallback] = False) -> xr.Dataset:
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
    ag, rho, alpha, fc, ratio_depth, min_step_size   the model parameters of
              qav.run: each a number, or a DataArray along section (paired by
              label as the profiles are) or along any other dimensions of the
              loads (a friction per section and load case, say)
    threads   threads per call of the model; None: every core for numpy-backed
              loads, one per task with Dask (Dask spreads the chunks)
    progress  True: a progress bar (tqdm when installed) while numpy-backed
              loads run, or a callable(rows done, rows in all); with Dask use
              Dask's own (dask.diagnostics.ProgressBar, distributed.progress)

    Returns a Dataset with the loads' dimensions and coordinates (their
    attributes kept): hm0_toe (m), tp_toe (s), angle_toe (degree), each NaN
    where the step failed, status (int8: the position of the step's status in
    STATUS_NAMES, with CF flag_values and flag_meanings) and flags (uint8: the
    step's flags, the sum of FLAG_MASKS, with CF flag_masks and flag_meanings),
    with CF attributes; the parameters given as DataArrays as variables, the
    others, qav's version and march path as attributes (history, source). The
    library's findings on a section (a dike normal 180 deg off, ...) are given
    as QavWarning naming the section (with Dask, where the task runs). Lazy when
    any input is dask-backed: one task of the model per chunk of the loads,
    whose outputs have the loads' chunks. Ctrl-C stops an eager call within a
    second (KeyboardInterrupt). Raises ValueError when a variable is missing or
    has other units, when a section with a dam has no dam_height, when a
    section of the loads has no profile, or when a parameter is neither a
    number nor a DataArray along the loads' dimensions.
    """
    hm0, tp, wlev, angle = (_load(loads, key) for key in ("hm0", "tp", "wlev", "angle"))
    x = _profile(profiles, "x", ("section", "point"))
    z = _profile(profiles, "z", ("section", "point"))
    dike_normal = _profile(profiles, "dike_normal", ("section",))
    dam_type = _dam_codes(_profile(profiles, "dam_type", ("section",), default=0))
    if "dam_height" not in profiles.variables and bool((dam_type != 0).any()):
        raise ValueError("the profiles give sections a dam (dam_type) but no crest: the variable 'dam_height' "
                         "(m, datum of the water level) is missing")
    dam_height = _profile(profiles, "dam_height", ("section",), default=0.0)
    if "section" not in hm0.dims and "section" not in profiles.dims:
        raise ValueError("the profiles have no dimension 'section'")
    # Only the loads' sections run, each with its own profile.
    load_with_sections = next((v for v in (hm0, tp, wlev, angle) if "section" in v.dims), None)
    if load_with_sections is not None:
        x, z, dike_normal, dam_type, dam_height = _sections_of_loads(
            load_with_sections, [x, z, dike_normal, dam_type, dam_height])
    given = dict(ag=ag, rho=rho, alpha=alpha, fc=fc, ratio_depth=ratio_depth, min_step_size=min_step_size)
    loads_dims = tuple(dict.fromkeys(d for v in (hm0, tp, wlev, angle) for d in v.dims)) + \
        (() if load_with_sections is not None else ("section",))
    parameters = {name: _parameter(name, value, loads_dims, load_with_sections) for name, value in given.items()}

    # Every load on the dimension section, which comes first, and on every
    # dimension a parameter changes along.
    # The sections' names for the findings: their labels, else their places.
    labels = (dike_normal["section"].copy(data=np.asarray(dike_normal["section"].values).astype(str))
              if "section" in dike_normal.coords else
              xr.DataArray(np.arange(dike_normal.sizes["section"]).astype(str), dims=("section",)))
    labels = labels.drop_vars(labels.coords)
    by_name = dict(dike_normal=dike_normal, dam_type=dam_type, dam_height=dam_height, **parameters)
    settings = [by_name[name] for name in _SETTINGS]
    hm0, tp, wlev, angle = (xr.broadcast(v, *settings)[0].transpose("section", ...)
                            for v in (hm0, tp, wlev, angle))
    hm0, tp, wlev, angle = xr.broadcast(hm0, tp, wlev, angle)
    callback = _progress(progress, "qav.xr.toe_conditions")
    try:
        outputs = xr.apply_ufunc(
            _toe_data, hm0, tp, wlev, angle, x, z, *settings, labels,
            kwargs={"parameters": {"threads": threads, "progress": callback}},
            input_core_dims=[[], [], [], [], ["point"], ["point"]] + [[]] * (len(settings) + 1),
            output_core_dims=[[], [], [], [], []],
            dask="allowed",
            keep_attrs=False)
    finally:
        _close(callback)
    hm0_toe, tp_toe, angle_toe, status, flags = outputs
    hm0_toe.attrs.update(standard_name=LOAD_STANDARD_NAMES["hm0"], units="m",
                         long_name="significant wave height at the dike toe")
    tp_toe.attrs.update(standard_name=LOAD_STANDARD_NAMES["tp"], units="s",
                        long_name="peak period at the dike toe")
    angle_toe.attrs.update(standard_name=LOAD_STANDARD_NAMES["angle"], units="degree",
                           long_name="wave direction at the dike toe")
    status.attrs.update(long_name="outcome of the time step",
                        flag_values=np.arange(len(STATUS_NAMES), dtype=np.int8),
                        flag_meanings=" ".join(name.replace(" ", "_") for name in STATUS_NAMES),
                        comment="the position of the status in: " + ", ".join(STATUS_NAMES) + "; the toe "
                                "values are NaN where it is one of: " + ", ".join(FAILED_STATUS_NAMES))
    flags.attrs.update(long_name="flags of the time step",
                       flag_masks=np.array(FLAG_MASKS, dtype=np.uint8),
                       flag_meanings=" ".join(name.replace(" ", "_") for name in FLAG_NAMES),
                       comment="what the numbers alone do not tell; the rules: docs/model.md, "
                               "flags and findings")
    result = xr.Dataset({"hm0_toe": hm0_toe, "tp_toe": tp_toe, "angle_toe": angle_toe, "status": status,
                         "flags": flags})
    # The loads' coordinates as they came, attributes (standard_name, units) and all.
    result = result.assign_coords({name: loads.coords[name] for name in result.coords if name in loads.coords})
    varying = {name: value for name, value in parameters.items() if value.ndim > 0}
    for name, value in varying.items():
        result[name] = value.assign_attrs(long_name=f"model parameter {name} of the run")
    scalars = {name: float(value) for name, value in parameters.items() if name not in varying}
    called = ", ".join([f"{name}={value!r}" for name, value in scalars.items()] +
                       [f"{name}=<variable {name}>" for name in varying])
    stamp = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    history = f"{stamp}: qav.xr.toe_conditions({called}) with Qav {version()}, march path {march_path()}"
    if loads.attrs.get("history"):
        history = f"{loads.attrs['history']}\n{history}"
    result.attrs.update(Conventions="CF-1.8", title="wave conditions at the dike toe",
                        source=f"Qav {version()} (march path {march_path()})", history=history,
                        qav_version=version(), qav_march_path=march_path(), **scalars)
    return result
