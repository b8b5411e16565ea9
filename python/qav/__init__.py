"""Qav from Python: waves at the toe of a dike.

A thin ctypes layer over the five C functions of DynamicLib-Qav; no compiled
extension. The library is found through the environment variable QAV_LIBRARY
(full path of DynamicLib-Qav.so), beside this package, in an installed prefix
or in the build tree of a source checkout (see qav._library.candidates).

    >>> import numpy as np, qav
    >>> x, z = np.loadtxt("examples/profile.csv", delimiter=",", comments="#", skiprows=3, unpack=True)
    >>> hm0, tp, wlev, angle = np.loadtxt("examples/series.csv", delimiter=",", comments="#", skiprows=3, unpack=True)
    >>> result = qav.run(x, z, hm0, tp, wlev, angle, dike_normal=270.0)
    >>> result.code, result.hm0_toe[:3]

Series and profile arguments are 1-D sequences of numbers; they are converted
to contiguous float64 arrays. Scalars are not broadcast: every series has one
value per time step. A wrong shape raises ValueError before the library is
called. The library itself reports refused input through the return code and
message, never by raising.

Calls may be made from several threads at once; the library keeps no state
between calls apart from each thread's diagnostic log settings.
"""

from __future__ import annotations

import ctypes
import numbers
import os
from typing import NamedTuple, Optional, Union

import numpy as np

from ._library import (ENVIRONMENT_VARIABLE, LIBRARY_NAME, MESSAGE_LENGTH, LibraryNotFoundError,
                       library, library_path, locate)

__all__ = ["run", "validate_profile", "validate_series", "version", "RunResult", "DAM_TYPES",
           "LibraryNotFoundError", "library_path", "locate", "ENVIRONMENT_VARIABLE", "LIBRARY_NAME"]

# Codes of the structure in front of the dike.
DAM_TYPES = {"none": 0, "caisson": 1, "wall": 2, "dam": 3}

_INT32_MAX = 2**31 - 1


class RunResult(NamedTuple):
    """Wave conditions at the dike toe, one value per time step.

    hm0_toe   significant wave height at the toe (m)
    tp_toe    peak period at the toe (s)
    angle_toe wave direction at the toe (deg)
    code      0 when the run succeeded, -1 when it failed
    message   the library's last message, trailing blanks removed

    A step that could not be computed holds invalid_value in all three arrays.
    """
    hm0_toe: np.ndarray
    tp_toe: np.ndarray
    angle_toe: np.ndarray
    code: int
    message: str


def _series(name: str, values) -> np.ndarray:
    try:
        array = np.asarray(values, dtype=np.float64)
    except (TypeError, ValueError) as error:
        raise ValueError(f"{name} must be a 1-D sequence of numbers: {error}") from None
    # Checked before ascontiguousarray, which would turn a scalar into 1-D.
    if array.ndim != 1:
        raise ValueError(f"{name} must be 1-D, got an array of shape {array.shape}")
    array = np.ascontiguousarray(array)
    if array.size > _INT32_MAX:
        raise ValueError(f"{name} has {array.size} values, more than the library can count")
    return array


def _same_length(**arrays: np.ndarray) -> int:
    lengths = {name: a.size for name, a in arrays.items()}
    if len(set(lengths.values())) > 1:
        listing = ", ".join(f"{name}={n}" for name, n in lengths.items())
        raise ValueError(f"arrays must have equal lengths, got {listing}")
    return next(iter(lengths.values()))


def _real(name: str, value) -> ctypes.c_double:
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (numbers.Real, np.floating, np.integer)):
        raise ValueError(f"{name} must be a real number, got {value!r}")
    return ctypes.c_double(float(value))


def _dam_type(value) -> ctypes.c_int:
    if isinstance(value, str):
        key = value.strip().lower()
        if key not in DAM_TYPES:
            raise ValueError(f"dam_type must be one of {sorted(DAM_TYPES)} or 0 to 3, got {value!r}")
        return ctypes.c_int(DAM_TYPES[key])
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (numbers.Integral, np.integer)) \
            or not 0 <= int(value) <= 3:
        raise ValueError(f"dam_type must be 0 (none), 1 (caisson), 2 (wall) or 3 (dam), got {value!r}")
    return ctypes.c_int(int(value))


def _pointer(array: np.ndarray):
    return array.ctypes.data_as(ctypes.POINTER(ctypes.c_double))


def _text(buffer: ctypes.Array, length: int = MESSAGE_LENGTH) -> str:
    raw = bytes(buffer.raw[:length])
    end = raw.find(b"\0")
    if end >= 0:
        raw = raw[:end]
    return raw.decode("latin-1").rstrip(" ")


def run(profile_x, profile_z, hm0, tp, wlev, angle, dike_normal: float = 0.0,
        dam_type: Union[int, str] = 0, dam_height: float = 0.0, ag: float = 9.81,
        rho: float = 1025.0, alpha: float = 1.0, fc: float = 0.01, ratio_depth: float = 0.5,
        min_step_size: float = 1.0, invalid_value: float = -999.0,
        log_file: Optional[Union[str, os.PathLike]] = None) -> RunResult:
    """Runs the model over a time series (C_FORTRANENTRY_RollerModel5).

    profile_x      cross-shore positions (m), increasing towards the dike
    profile_z      bottom levels (m, datum of wlev), as many as profile_x
    hm0            offshore significant wave height per time step (m)
    tp             offshore peak period per time step (s)
    wlev           water level per time step (m)
    angle          direction the waves come from per time step (deg)
    dike_normal    direction of the dike normal (deg)
    dam_type       0 or 'none', 1 or 'caisson', 2 or 'wall', 3 or 'dam'
    dam_height     crest height of the dam (m, datum of wlev)
    ag             gravitational acceleration (m/s2)
    rho            density of water (kg/m3)
    alpha          breaking dissipation coefficient (-)
    fc             bottom friction coefficient (-)
    ratio_depth    grid step over smallest water depth (-)
    min_step_size  smallest grid step (m)
    invalid_value  marker of a missing input value and of an uncomputed result
    log_file       path of a diagnostic log to append to; None writes no log

    The four series are 1-D and of equal length (no broadcasting of
    scalars); so are profile_x and profile_z. Returns a RunResult; a refused
    run has code -1 and says why in its message. Raises ValueError on a
    wrong shape or a non-numeric argument.
    """
    x = _series("profile_x", profile_x)
    z = _series("profile_z", profile_z)
    m = _same_length(profile_x=x, profile_z=z)
    series = {name: _series(name, values)
              for name, values in (("hm0", hm0), ("tp", tp), ("wlev", wlev), ("angle", angle))}
    n = _same_length(**series)
    scalars = {name: _real(name, value) for name, value in (
        ("dike_normal", dike_normal), ("dam_height", dam_height), ("ag", ag), ("rho", rho),
        ("alpha", alpha), ("fc", fc), ("ratio_depth", ratio_depth),
        ("min_step_size", min_step_size), ("invalid_value", invalid_value))}
    dam = _dam_type(dam_type)
    if log_file is None:
        logging, name = 0, b" "
    else:
        logging, name = 1, os.fsencode(log_file)
        if not name:
            raise ValueError("log_file must not be empty")

    hm0_toe = np.empty(n, dtype=np.float64)
    tp_toe = np.empty(n, dtype=np.float64)
    angle_toe = np.empty(n, dtype=np.float64)
    message = ctypes.create_string_buffer(b" " * MESSAGE_LENGTH, MESSAGE_LENGTH)
    s = scalars
    code = library().C_FORTRANENTRY_RollerModel5(
        ctypes.byref(dam), ctypes.byref(s["dam_height"]), ctypes.byref(s["alpha"]),
        ctypes.byref(s["fc"]), ctypes.byref(s["invalid_value"]), ctypes.byref(ctypes.c_int(n)),
        _pointer(series["hm0"]), _pointer(series["tp"]), _pointer(series["wlev"]),
        _pointer(series["angle"]), ctypes.byref(s["dike_normal"]), ctypes.byref(ctypes.c_int(m)),
        _pointer(x), ctypes.byref(s["min_step_size"]), _pointer(z), ctypes.byref(s["ratio_depth"]),
        ctypes.byref(ctypes.c_int(logging)), name, len(name), ctypes.byref(s["ag"]),
        ctypes.byref(s["rho"]), _pointer(hm0_toe), _pointer(tp_toe), _pointer(angle_toe), message)
    return RunResult(hm0_toe, tp_toe, angle_toe, int(code), _text(message))


def validate_profile(x, z) -> tuple[int, str]:
    """Checks a profile without running the model (VALIDATEPROFILE).

    x  cross-shore positions (m), increasing towards the dike
    z  bottom levels (m), as many as x

    Returns (code, message): 0 and "" when the profile is accepted, -1 and
    the reason when it is refused. Raises ValueError on a wrong shape.
    """
    xs = _series("x", x)
    zs = _series("z", z)
    m = _same_length(x=xs, z=zs)
    message = ctypes.create_string_buffer(b" " * MESSAGE_LENGTH, MESSAGE_LENGTH)
    code = library().VALIDATEPROFILE(ctypes.byref(ctypes.c_int(m)), _pointer(xs), _pointer(zs),
                                     None, None, message, MESSAGE_LENGTH)
    return int(code), _text(message)


def validate_series(hm0, tp, wlev, angle, invalid_value: float = -999.0) -> tuple[int, str]:
    """Checks a series of offshore conditions without running the model
    (VALIDATEHYDRAULICDATA).

    hm0    significant wave height per time step (m)
    tp     peak period per time step (s)
    wlev   water level per time step (m)
    angle  wave direction per time step (deg)
    invalid_value  marker of a missing value

    Returns (code, message): 0 when every step is acceptable, 1 when a step
    is calm ("Hm0 is (almost) zero"), -1 and the first refused step's reason.
    Raises ValueError on a wrong shape.
    """
    series = {name: _series(name, values)
              for name, values in (("hm0", hm0), ("tp", tp), ("wlev", wlev), ("angle", angle))}
    n = _same_length(**series)
    invalid = _real("invalid_value", invalid_value)
    message = ctypes.create_string_buffer(b" " * MESSAGE_LENGTH, MESSAGE_LENGTH)
    code = library().VALIDATEHYDRAULICDATA(
        ctypes.byref(ctypes.c_int(n)), _pointer(series["hm0"]), _pointer(series["tp"]),
        _pointer(series["wlev"]), _pointer(series["angle"]), ctypes.byref(invalid), message,
        MESSAGE_LENGTH)
    return int(code), _text(message)


def version() -> str:
    """The library version, "major.minor.build.revision" (GetVersionInfo)."""
    text = ctypes.create_string_buffer(b" " * MESSAGE_LENGTH, MESSAGE_LENGTH)
    library().GetVersionInfo(text)
    return _text(text)
