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
from typing import TYPE_CHECKING, Any, Callable, Mapping, NamedTuple, Optional, Union

import numpy as np
import numpy.typing as npt

if TYPE_CHECKING:
    import pandas


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


def _package_version() -> str:
    """The version of the installed distribution qav, when this package is the one it
    installed; else (a build tree on PYTHONPATH) the compiled module's. Both come from
    the CMake project's version."""
    from importlib import metadata
    try:
        distribution = metadata.distribution("qav")
        if Path(distribution.locate_file("qav/__init__.py")).resolve() == Path(__file__).resolve():
            return distribution.version
    except metadata.PackageNotFoundError:
        pass
    return _qav.version()


#: The package's version, the library's ("major.minor.build.revision").
__version__ = _package_version()

#: What the arrays may be: anything numpy reads as 1-D numbers.
ArrayLike = npt.ArrayLike
#: A callable told the steps done and the steps in all, now and then during a long call.
ProgressCallback = Callable[[int, int], Any]

__all__ = ["__version__", "run", "transect", "validate_profile", "validate_series", "version", "march_path",
           "read_profile", "read_series", "RunResult", "Transect", "InputError", "DAM_TYPES",
           "STATUS_NAMES", "FAILED_STATUS_NAMES", "FLAG_NAMES", "FLAG_MASKS", "QavWarning", "LibraryNotFoundError",
           "LogLinesLostWarning", "library_path"]

#: Codes of the structure in front of the dike.
DAM_TYPES = dict(_qav.DAM_TYPES)
#: Every status a time step can get, as in the status column of `qav run`.
STATUS_NAMES = tuple(_qav.STATUS_NAMES)
#: The statuses of failed time steps (their results hold invalid_value).
FAILED_STATUS_NAMES = tuple(_qav.FAILED_STATUS_NAMES)
#: The flags of a time step (RunResult.flags), by name, and their bits.
FLAG_NAMES = tuple(_qav.FLAG_NAMES)
FLAG_MASKS = tuple(_qav.FLAG_MASKS)


class QavWarning(UserWarning):
    """An input no sea produces, or a result that is probably not what was meant (a dike
    normal 180 deg off, angles in radians, a water level in cm, ...): the run went on."""


def _warn(findings, stacklevel: int = 3) -> None:
    for text in findings:
        warnings.warn(text, QavWarning, stacklevel=stacklevel)

_SUBMODULES = ("xr", "openturns")


def __getattr__(name: str) -> Any:
    """qav.xr and qav.openturns, imported on first use: xarray and OpenTURNS are
    needed only by whoever uses them."""
    if name in _SUBMODULES:
        return importlib.import_module(f"{__name__}.{name}")
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def _pandas_index(*values) -> object:
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
    """Wave conditions at the toe, one value per time step.

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
    flags           per step, the library's flags (uint8): the sum of the FLAG_MASKS of
                    FLAG_NAMES that hold (1 dry toe, 2 toe at water line, 4 energy
                    clamped, 8 waves from behind)
    notes           per step, the note of `qav run`'s note column: the texts of its flags;
                    "" for a step without any (numpy object array)
    findings        the run's findings on inputs no sea produces, each also given as a
                    QavWarning when the run returns (list of str)

    A failed step (status in FAILED_STATUS_NAMES) holds invalid_value in hm0_toe,
    tp_toe and angle_toe. The repr sums the run up: steps per status, flagged steps
    per flag, the largest toe Hm0 and its index.
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
    flags: Optional[np.ndarray] = None
    notes: Optional[np.ndarray] = None
    findings: Optional[list] = None

    def summary(self) -> str:
        """Steps per status, flagged steps per flag, the largest toe Hm0 and its index."""
        return _qav.run_summary(self.status_codes(), self.flags, self.hm0_toe)

    def __repr__(self) -> str:
        return f"RunResult(code={self.code}, {self.summary()})"

    def status_codes(self) -> np.ndarray:
        """Each step's status as its position in STATUS_NAMES (int8)."""
        codes = np.zeros(len(self.status), dtype=np.int8)
        for code, name in enumerate(STATUS_NAMES[1:], 1):
            codes[self.status == name] = code
        return codes

    def to_frame(self) -> "pandas.DataFrame":
        """The result as a pandas DataFrame: columns hm0_toe (m), tp_toe (s), angle_toe
        (deg), NaN where the step has no result (its status is one of
        FAILED_STATUS_NAMES), status (categorical, STATUS_NAMES), message, note
        and energy_clamped, one row per time step, indexed by the index of the input
        series when they were pandas Series (else 0, 1, 2, ...)."""
        import pandas as pd
        codes = self.status_codes()
        failed = np.isin(codes, _FAILED_CODES)
        toe = np.column_stack((self.hm0_toe, self.tp_toe, self.angle_toe))
        toe[failed] = np.nan
        frame = pd.DataFrame(toe, columns=["hm0_toe", "tp_toe", "angle_toe"], index=self.index, copy=False)
        frame["status"] = pd.Categorical.from_codes(codes, categories=STATUS_NAMES)
        frame["message"] = self.messages
        frame["note"] = self.notes
        frame["energy_clamped"] = self.energy_clamped
        return frame


_FAILED_CODES = np.array([STATUS_NAMES.index(name) for name in FAILED_STATUS_NAMES], dtype=np.int8)

_SERIES_COLUMNS = ("hm0", "tp", "wlev", "angle")


def _series_of_table(table) -> list:
    """The columns hm0, tp, wlev and angle of a DataFrame or a mapping, their names
    matched as `qav run` matches a header's: case and surrounding blanks ignored."""
    found: dict = {}
    keys = list(table.keys())
    for key in keys:
        name = str(key).strip(" \t").lower()
        if name in _SERIES_COLUMNS:
            if name in found:
                raise ValueError(f"the table names the column {name!r} twice: {found[name]!r} and {key!r}")
            found[name] = key
    lacking = [name for name in _SERIES_COLUMNS if name not in found]
    if lacking:
        shown = ", ".join(repr(k) for k in keys[:12]) + (", ..." if len(keys) > 12 else "")
        raise ValueError(f"the table lacks the column{'s' * (len(lacking) > 1)} {', '.join(lacking)} "
                         f"(it has {shown or 'none'}); rename its columns to hm0, tp, wlev and angle")
    return [table[found[name]] for name in _SERIES_COLUMNS]


class _ProgressBar:
    """progress=True: a tqdm bar when tqdm is installed, else a line on standard
    error, rewritten at most twice a second."""

    def __init__(self, description: str, unit: str = "step"):
        self.description, self.unit = description, unit
        self.bar: Any = None
        self.shown = 0
        self.written = 0.0

    def __call__(self, done: int, total: Optional[int]) -> None:
        if self.bar is None:
            try:
                from tqdm.auto import tqdm
            except ImportError:
                self.bar = False
            else:
                self.bar = tqdm(total=total, desc=self.description, unit=self.unit, unit_scale=True)
        if self.bar is not False:
            self.bar.update(done - self.shown)
            self.shown = done
            return
        import time
        now = time.monotonic()
        if now - self.written >= 0.5 or done == total:
            self.written = now
            of = f" of {total} {self.unit}s ({done / max(total, 1):.0%})" if total is not None else f" {self.unit}s"
            sys.stderr.write(f"\r{self.description}: {done}{of}")
            sys.stderr.flush()
            self.shown = done

    def close(self) -> None:
        if self.bar:
            self.bar.close()
        elif self.bar is False and self.shown:
            sys.stderr.write("\n")


def _progress(progress, description: str):
    """The callback of a progress argument: None, a _ProgressBar, or the caller's callable."""
    if progress is None or progress is False:
        return None
    if progress is True:
        return _ProgressBar(description)
    if callable(progress):
        return progress
    raise ValueError(f"progress must be True, False or a callable(done, total), got {progress!r}")


def _close(callback) -> None:
    if isinstance(callback, _ProgressBar):
        callback.close()


def run(profile_x: ArrayLike, profile_z: ArrayLike, hm0: Union[ArrayLike, Mapping[str, ArrayLike]],
        tp: Optional[ArrayLike] = None, wlev: Optional[ArrayLike] = None, angle: Optional[ArrayLike] = None,
        *, dike_normal: float, dam_type: Union[int, str] = 0, dam_height: Optional[float] = None,
        ag: float = 9.81,
        rho: float = 1025.0, alpha: float = 1.0, fc: float = 0.01, ratio_depth: float = 0.5,
        min_step_size: float = 1.0, invalid_value: float = -999.0,
        log_file: Optional[Union[str, os.PathLike]] = None, threads: Optional[int] = None,
        progress: Union[bool, ProgressCallback] = False) -> RunResult:
    """Runs the model over a time series of offshore conditions.

    profile_x      cross-shore positions (m), increasing towards the dike
    profile_z      bottom levels (m, datum of wlev), as many as profile_x
    hm0            offshore significant wave height per time step (m); or a table
                   (a pandas DataFrame, a dict, ...) with the columns hm0, tp, wlev and
                   angle (names as in a series file: case and surrounding blanks
                   ignored) in place of the four
    tp             offshore peak period per time step (s)
    wlev           water level per time step (m)
    angle          direction the waves come from per time step (deg)
    dike_normal    direction of the dike normal (deg); required, keyword only
    dam_type       0 or 'none', 1 or 'caisson', 2 or 'wall', 3 or 'dam'
    dam_height     crest height of the dam (m, datum of wlev); required with a dam,
                   refused without one
    ag             gravitational acceleration (m/s2)
    rho            density of water (kg/m3)
    alpha          breaking dissipation coefficient (-)
    fc             bottom friction coefficient (-)
    ratio_depth    grid step over smallest water depth (-)
    min_step_size  smallest grid step (m)
    invalid_value  marker of a missing input value and of an uncomputed result
    log_file       path of a diagnostic log to append to; None writes no log
    threads        threads sharing the time steps; None: every core, as `qav run`
                   (the results do not depend on it; a logged run uses one)
    progress       True: a progress bar (tqdm when installed) during a long run;
                   or a callable(steps done, steps in all)

    Arrays are anything numpy reads as 1-D numbers (lists, numpy arrays of any
    float or int dtype and layout, pandas Series, xarray DataArrays); the four
    series have equal lengths, and so do profile_x and profile_z. Four single
    numbers are one time step. The results are those of the C entries of the
    shared library, bit for bit. A long run goes in pieces of about 0.1 s, so
    that Ctrl-C raises KeyboardInterrupt within a second (the results of the
    run are then lost). Returns a RunResult; each of its findings is also given
    as a QavWarning. Raises TypeError without dike_normal, ValueError on a
    wrong shape, a non-numeric argument, a dam without dam_height or dam_height
    without a dam, OSError when log_file cannot be written.
    """
    if tp is None and wlev is None and angle is None and hasattr(hm0, "keys"):
        hm0, tp, wlev, angle = _series_of_table(hm0)
    elif tp is None or wlev is None or angle is None:
        raise TypeError("run() needs hm0, tp, wlev and angle, or a table with those columns in place of hm0")
    if log_file is not None:
        name = os.fsencode(log_file)
        if not name:
            raise ValueError("log_file must not be empty")
        _check_log_file(name)
    else:
        name = None
    # The compiled run builds the RunResult itself, and asks _pandas_index for
    # the index of the series only when they are not all numpy arrays.
    if progress is False:  # the short calls of a host: nothing more than the run
        result = _run(profile_x, profile_z, hm0, tp, wlev, angle, dike_normal, dam_type, dam_height, ag, rho,
                      alpha, fc, ratio_depth, min_step_size, invalid_value, name, threads, None)
    else:
        callback = _progress(progress, "qav.run")
        try:
            result = _run(profile_x, profile_z, hm0, tp, wlev, angle, dike_normal, dam_type, dam_height, ag,
                          rho, alpha, fc, ratio_depth, min_step_size, invalid_value, name, threads, callback)
        finally:
            _close(callback)
    if result.findings:
        _warn(result.findings)
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
    flags, note     the step's flags and note, as in RunResult
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
    flags: int = 0
    note: str = ""

    def to_frame(self) -> "pandas.DataFrame":
        """The grid points as a pandas DataFrame, the columns of `qav transect`."""
        import pandas as pd
        return pd.DataFrame({name: getattr(self, name) for name in _TRANSECT_COLUMNS})


_TRANSECT_COLUMNS = ("x", "bottom_level", "depth", "hrms", "hm0", "energy", "group_velocity",
                     "breaking_dissipation", "friction_dissipation")


def transect(profile_x: ArrayLike, profile_z: ArrayLike, hm0: float, tp: float, wlev: float, angle: float, *,
             dike_normal: float, dam_type: Union[int, str] = 0, dam_height: Optional[float] = None,
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
    code, status, message, hm0_toe, tp_toe, angle_toe, clamped, points, flags, note, findings = _qav.transect(
        profile_x, profile_z, hm0, tp, wlev, angle, dike_normal, dam_type, dam_height, ag, rho,
        alpha, fc, ratio_depth, min_step_size, invalid_value)
    _warn(findings)
    return Transect(code, status, message, hm0_toe, tp_toe, angle_toe, clamped,
                    *(points[:, k] for k in range(points.shape[1])), flags, note)


def validate_profile(x: ArrayLike, z: ArrayLike) -> tuple[int, str]:
    """Checks a profile without running the model.

    x  cross-shore positions (m), increasing towards the dike
    z  bottom levels (m), as many as x

    Returns (code, message): 0 and "" when the profile is accepted, -1 and
    the reason when it is refused. Raises ValueError on a wrong shape.
    """
    return _qav.validate_profile(x, z)


def validate_series(hm0: ArrayLike, tp: ArrayLike, wlev: ArrayLike, angle: ArrayLike,
                    invalid_value: float = -999.0) -> tuple[int, str]:
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
