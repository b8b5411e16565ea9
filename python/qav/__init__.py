"""Qav from Python: waves at the toe of a dike.

The model's C++ core compiled into this package (qav._qav): no shared library
to find, no copy of the caller's arrays when they are already contiguous
float64 (anything else numpy reads, in any float dtype or layout, is converted
once), and the GIL released while the model runs, so that Python threads run
the model side by side.

    >>> import qav
    >>> x, z = qav.read_profile("examples/profile.csv")
    >>> hm0, tp, wlev, angle = qav.read_series("examples/series.csv")
    >>> result = qav.run(x, z, hm0, tp, wlev, angle, dike_normal=270.0)
    >>> result.hm0_toe[:2], result.status[:2]

Misuse (a wrong shape, a non-number, an unknown dam type, an unwritable log
file) raises before the model runs. What the model refuses is not an
exception: every time step gets a status (the names of `qav run`'s status
column, STATUS_NAMES) and its own message, and the run a code (0 succeeded,
-1 failed: every step, or floor(n/2) or more of n >= 2 steps failed -- 1 of 3
fails a run -- or the set-up was refused).

Submodules, imported on first use: qav.xr (xarray and NetCDF, lazily over
Dask), qav.openturns (the model as an OpenTURNS function).
"""

from __future__ import annotations

import errno
import importlib
import os
import sys
import warnings
from pathlib import Path
from typing import NamedTuple, Optional, Union

import numpy as np


class LibraryNotFoundError(ImportError):
    """The compiled module of the package (qav._qav) is missing or cannot be loaded."""


def _module_from_build_tree():
    """The compiled module of a build of this checkout, for the package imported from
    its sources (python/ on sys.path): build/release first, then the other build/*."""
    import glob
    import importlib.machinery
    import importlib.util
    build = Path(__file__).resolve().parents[2] / "build"
    suffixes = importlib.machinery.EXTENSION_SUFFIXES
    found = [Path(p) for suffix in suffixes for p in glob.glob(str(build / "*" / "python" / "qav" / f"_qav{suffix}"))]
    found.sort(key=lambda p: (p.parents[2].name != "release", str(p)))
    if not found:
        return None
    module_source = importlib.util.spec_from_file_location(f"{__name__}._qav", found[0])
    module = importlib.util.module_from_spec(module_source)
    module_source.loader.exec_module(module)
    sys.modules[module_source.name] = module
    return module


try:
    from . import _qav
except ImportError as error:  # the sources, a checkout that was not built, or a foreign interpreter
    _qav = _module_from_build_tree()
    if _qav is None:
        raise LibraryNotFoundError(
            f"the compiled module qav._qav cannot be loaded ({error}). Build Qav "
            "(cmake --preset release && cmake --build --preset release) and put build/release/python "
            "on PYTHONPATH, or install it (into <prefix>/lib/python3/dist-packages). The module is "
            "built for the interpreter CMake found (/usr/bin/python3 where there is one); this one is "
            f"{sys.executable}, CPython {sys.version_info.major}.{sys.version_info.minor}."
        ) from error

from ._tables import InputError, read_profile, read_series  # noqa: E402

__all__ = ["run", "transect", "validate_profile", "validate_series", "version", "march_path",
           "read_profile", "read_series", "RunResult", "Transect", "InputError", "DAM_TYPES",
           "STATUS_NAMES", "FAILED_STATUS_NAMES", "LibraryNotFoundError", "LogLinesLostWarning", "library_path"]

#: Codes of the structure in front of the dike.
DAM_TYPES = dict(_qav.DAM_TYPES)
#: Every status a time step can get, as in the status column of `qav run`.
STATUS_NAMES = tuple(_qav.STATUS_NAMES)
#: The statuses of failed time steps (their results hold invalid_value).
FAILED_STATUS_NAMES = tuple(_qav.FAILED_STATUS_NAMES)

_SUBMODULES = ("xr", "openturns")


def __getattr__(name):
    """qav.xr and qav.openturns, imported on first use: xarray and OpenTURNS are
    needed only by whoever uses them."""
    if name in _SUBMODULES:
        return importlib.import_module(f"{__name__}.{name}")
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def _pandas_index(*values):
    """The index of the pandas Series among values; None when there is none.
    Series with different indexes are an error: the model pairs values by
    position, and pairing differently indexed series by position is almost
    certainly not what the caller meant."""
    pandas = sys.modules.get("pandas")
    if pandas is None:
        return None
    index = None
    for value in values:
        if isinstance(value, pandas.Series):
            if index is None:
                index = value.index
            elif not index.equals(value.index):
                raise ValueError("the series hm0, tp, wlev and angle have different indexes; "
                                 "align them first (for instance with DataFrame columns)")
    return index


class RunResult(NamedTuple):
    """Wave conditions at the dike toe, one value per time step.

    hm0_toe         significant wave height at the toe (m)
    tp_toe          peak period at the toe (s)
    angle_toe       wave direction at the toe (deg, nautical: where the waves come from)
    code            0 when the run succeeded, -1 when it failed
    message         the run's last message (of the last step, in time order, that wrote one)
    status          per step, one of STATUS_NAMES (numpy unicode array)
    messages        per step, its own message; "" for a step that wrote none (numpy object array)
    energy_clamped  per step, True where the march had to set the energy to 0 because one
                    grid step dissipated more than the energy flux: the grid is too coarse
                    for these waves and the toe values are not physics
    index           the pandas index of the input series, when they were pandas Series

    A failed step (status in FAILED_STATUS_NAMES) holds invalid_value in hm0_toe,
    tp_toe and angle_toe.
    """
    hm0_toe: np.ndarray
    tp_toe: np.ndarray
    angle_toe: np.ndarray
    code: int
    message: str
    status: Optional[np.ndarray] = None
    messages: Optional[np.ndarray] = None
    energy_clamped: Optional[np.ndarray] = None
    index: object = None

    def to_frame(self):
        """The result as a pandas DataFrame: columns hm0_toe (m), tp_toe (s), angle_toe
        (deg), status (categorical, STATUS_NAMES), message and energy_clamped, one row per
        time step, indexed by the index of the input series when they were pandas
        Series (else 0, 1, 2, ...)."""
        import pandas as pd
        frame = pd.DataFrame({
            "hm0_toe": self.hm0_toe,
            "tp_toe": self.tp_toe,
            "angle_toe": self.angle_toe,
            "status": pd.Categorical(self.status, categories=STATUS_NAMES),
            "message": self.messages,
            "energy_clamped": self.energy_clamped,
        }, index=self.index)
        return frame


def run(profile_x, profile_z, hm0, tp, wlev, angle, dike_normal: float = 0.0,
        dam_type: Union[int, str] = 0, dam_height: float = 0.0, ag: float = 9.81,
        rho: float = 1025.0, alpha: float = 1.0, fc: float = 0.01, ratio_depth: float = 0.5,
        min_step_size: float = 1.0, invalid_value: float = -999.0,
        log_file: Optional[Union[str, os.PathLike]] = None, threads: int = 1) -> RunResult:
    """Runs the model over a time series of offshore conditions.

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
    threads        threads sharing the time steps (the results do not depend on it;
                   a logged run uses one)

    Arrays are anything numpy reads as 1-D numbers (lists, numpy arrays of any
    float or int dtype and layout, pandas Series, xarray DataArrays); the four
    series have equal lengths, and so do profile_x and profile_z (scalars are
    not broadcast). The results are those of the C entries of the shared
    library, bit for bit. Returns a RunResult. Raises ValueError on a wrong
    shape or a non-numeric argument, OSError when log_file cannot be written.
    """
    if log_file is not None:
        name = os.fsencode(log_file)
        if not name:
            raise ValueError("log_file must not be empty")
        _check_log_file(name)
    else:
        name = None
    # The compiled run builds the RunResult itself, and asks _pandas_index for
    # the index of the series only when they are not all numpy arrays.
    result = _run(profile_x, profile_z, hm0, tp, wlev, angle, dike_normal, dam_type, dam_height, ag, rho,
                  alpha, fc, ratio_depth, min_step_size, invalid_value, name, threads)
    if name is not None:
        lost = _qav.lost_log_lines()
        if lost:
            warnings.warn(f"{lost} line{'' if lost == 1 else 's'} of the log could not be written to "
                          f"{os.fsdecode(name)!r}", LogLinesLostWarning, stacklevel=2)
    return result


class LogLinesLostWarning(RuntimeWarning):
    """Lines of a run's log_file could not be written (a full disk, a named pipe
    without a reader); the run's results are whole."""


def _check_log_file(name: bytes) -> None:
    """Opens the log here, so that a log that cannot be written is an error, not a
    silent run; without waiting: a named pipe without a reader yet passes (its
    lines are lost, counted and warned of)."""
    try:
        descriptor = os.open(name, os.O_WRONLY | os.O_APPEND | os.O_CREAT | getattr(os, "O_NONBLOCK", 0), 0o666)
    except OSError as error:
        if error.errno == errno.ENXIO:
            return
        raise
    os.close(descriptor)


_run = _qav.run
_qav.set_run_result(RunResult, _pandas_index)


class Transect(NamedTuple):
    """One time step traced along its grid.

    code        0 when the step was computed or needs no march (calm, waves from behind
                the dike, no foreshore), -1 when the set-up or the step was refused or failed
    status      one of STATUS_NAMES
    message     the step's message, or why the set-up was refused
    hm0_toe, tp_toe, angle_toe   the toe values as a run gives them (m, s, deg)
    energy_clamped               see RunResult
    x               grid positions (m); the last lies one grid step beyond the toe
    bottom_level    bottom level (m)
    depth           water depth (m)
    hrms            root-mean-square wave height (m)
    hm0             significant wave height (m)
    energy          wave energy (J/m2)
    group_velocity  group velocity (m/s)
    breaking_dissipation, friction_dissipation   dissipation by breaking and by bottom
                    friction (W/m2)

    The arrays are empty unless the step was computed.
    """
    code: int
    status: str
    message: str
    hm0_toe: float
    tp_toe: float
    angle_toe: float
    energy_clamped: bool
    x: np.ndarray
    bottom_level: np.ndarray
    depth: np.ndarray
    hrms: np.ndarray
    hm0: np.ndarray
    energy: np.ndarray
    group_velocity: np.ndarray
    breaking_dissipation: np.ndarray
    friction_dissipation: np.ndarray

    def to_frame(self):
        """The grid points as a pandas DataFrame, the columns of `qav transect`."""
        import pandas as pd
        return pd.DataFrame({name: getattr(self, name) for name in _TRANSECT_COLUMNS})


_TRANSECT_COLUMNS = ("x", "bottom_level", "depth", "hrms", "hm0", "energy", "group_velocity",
                     "breaking_dissipation", "friction_dissipation")


def transect(profile_x, profile_z, hm0: float, tp: float, wlev: float, angle: float,
             dike_normal: float = 0.0, dam_type: Union[int, str] = 0, dam_height: float = 0.0,
             ag: float = 9.81, rho: float = 1025.0, alpha: float = 1.0, fc: float = 0.01,
             ratio_depth: float = 0.5, min_step_size: float = 1.0,
             invalid_value: float = -999.0) -> Transect:
    """One time step along the foreshore: the state of the waves at every grid point.

    hm0 (m), tp (s), wlev (m) and angle (deg) are the step's offshore
    conditions, single numbers; the other arguments are those of run(). The
    toe values equal those run() gives for the same step (the march traced is
    the reference one). Returns a Transect; raises ValueError on misuse and
    MemoryError when the grid cannot be held.
    """
    code, status, message, hm0_toe, tp_toe, angle_toe, clamped, points = _qav.transect(
        profile_x, profile_z, hm0, tp, wlev, angle, dike_normal, dam_type, dam_height, ag, rho,
        alpha, fc, ratio_depth, min_step_size, invalid_value)
    return Transect(code, status, message, hm0_toe, tp_toe, angle_toe, clamped,
                    *(points[:, k] for k in range(points.shape[1])))


def validate_profile(x, z) -> tuple[int, str]:
    """Checks a profile without running the model.

    x  cross-shore positions (m), increasing towards the dike
    z  bottom levels (m), as many as x

    Returns (code, message): 0 and "" when the profile is accepted, -1 and
    the reason when it is refused. Raises ValueError on a wrong shape.
    """
    return _qav.validate_profile(x, z)


def validate_series(hm0, tp, wlev, angle, invalid_value: float = -999.0) -> tuple[int, str]:
    """Checks a series of offshore conditions without running the model.

    hm0    significant wave height per time step (m)
    tp     peak period per time step (s)
    wlev   water level per time step (m)
    angle  wave direction per time step (deg)
    invalid_value  marker of a missing value

    Returns (code, message): 0 when every step is acceptable, 1 when a step
    is calm ("Hm0 is (almost) zero"), -1 and the first refused step's reason.
    Raises ValueError on a wrong shape.
    """
    return _qav.validate_series(hm0, tp, wlev, angle, invalid_value)


def version() -> str:
    """The library version, "major.minor.build.revision"."""
    return _qav.version()


def march_path() -> str:
    """The march this thread's runs take on this processor ("Avx2", "Avx512", "Baseline" or
    "Reference"; the environment variable QAV_MARCH_PATH picks another), as `qav version` says."""
    return _qav.march_path()


def library_path() -> Path:
    """The path of the compiled module in use."""
    return Path(_qav.__file__)
