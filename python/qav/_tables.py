"""The CSV files of the command-line program `qav`, read by its own reader."""

from __future__ import annotations

import errno
import os
from typing import TYPE_CHECKING, Callable, NamedTuple

import numpy as np

from . import _qav

if TYPE_CHECKING:
    import pandas

#: A file that cannot be used: the text names the file, line and column, as `qav` does
#: ("series.csv:3:3: '5x' in column 'tp' is not a number"). A ValueError.
InputError = _qav.InputError


class Profile(NamedTuple):
    """A foreshore profile: x (m, increasing towards the dike) and z (m, bottom level)."""
    x: np.ndarray
    z: np.ndarray

    def to_frame(self) -> "pandas.DataFrame":
        """The profile as a pandas DataFrame with the columns x and z (m)."""
        import pandas as pd
        return pd.DataFrame({"x": self.x, "z": self.z})


class Series(NamedTuple):
    """Offshore conditions per time step: hm0 (m), tp (s), wlev (m), angle (deg)."""
    hm0: np.ndarray
    tp: np.ndarray
    wlev: np.ndarray
    angle: np.ndarray

    def to_frame(self) -> "pandas.DataFrame":
        """The series as a pandas DataFrame with the columns hm0 (m), tp (s), wlev (m), angle (deg)."""
        import pandas as pd
        return pd.DataFrame(self._asdict())


# The reader's hints name qav's options; from Python the same choices are arguments.
_OPTION_WORDS = [("--column ", "columns={'", "=NAME", "': NAME}"), ("--decimal , ", "decimal=',' ", "", ""),
                 ("as --decimal gives", "as decimal='.' gives", "", ""), ("(--separator)", "(the argument separator)", "", ""),
                 ("--missing invalid", "missing='invalid'", "", "")]


def _in_python_words(text: str) -> str:
    """An error of qav's reader with its option hints as read_profile's and read_series's arguments."""
    for option, argument, option_end, argument_end in _OPTION_WORDS:
        at = text.rfind(option)  # the hint comes after any cell the message shows
        if at < 0:
            continue
        end = text.find(option_end, at + len(option)) if option_end else at + len(option)
        if end < 0:
            continue
        key = text[at + len(option):end]
        text = text[:at] + argument + key + argument_end + text[end + len(option_end):]
    return text


class MissingFileError(FileNotFoundError, InputError):
    """A file that is not there: a FileNotFoundError (an OSError) whose filename is
    the path, and an InputError whose text is qav's ("profile.csv: cannot open the
    file: No such file or directory")."""

    def __str__(self) -> str:
        return str(self.strerror)


def _read(function: Callable, path: str | os.PathLike, *options) -> tuple:
    try:
        return function(os.fsencode(path), *options)
    except InputError as error:
        if not os.path.exists(path):
            raise MissingFileError(errno.ENOENT, str(error), os.fspath(path)) from None
        raise InputError(_in_python_words(str(error))) from None


_SEPARATORS = {None: 0, ",": ord(","), ";": ord(";"), "\t": ord("\t"), "tab": ord("\t")}
_DECIMALS = {None: 0, ".": 1, ",": 2}


def _options(separator: str | None, decimal: str | None, columns: dict | None, inputs: tuple) -> tuple:
    if separator not in _SEPARATORS:
        raise ValueError(f"separator must be None (from the file), ',', ';' or 'tab', got {separator!r}")
    if decimal not in _DECIMALS:
        raise ValueError(f"decimal must be None (from the separator), '.' or ',', got {decimal!r}")
    pairs = list((columns or {}).items())
    for key, name in pairs:
        if key not in inputs or not isinstance(name, str) or not name:
            raise ValueError(f"columns maps the inputs {', '.join(inputs)} to the file's names, got {key!r}: {name!r}")
    return _SEPARATORS[separator], _DECIMALS[decimal], pairs


def read_profile(path: str | os.PathLike, *, separator: str | None = None, decimal: str | None = None,
                 columns: dict | None = None) -> Profile:
    """Reads a profile file as `qav run --profile` does, with the same rules and errors
    (whose hints name the arguments below where qav names its options).

    A header row names the columns x and z (case and surrounding blanks
    ignored, further columns allowed), then one row of numbers per line;
    '#' comment lines and blank lines are skipped; files as spreadsheets
    write them are read too. The options are those of `qav run`:

    separator  ',', ';' or 'tab'; None: from an Excel "sep=" line, else the one
               that splits the header into the most columns
    decimal    '.' (only) or ',' (as well as '.'); None: '.', and with the ';' or
               tab separator ',' as well
    columns    the file's names of the inputs where they differ, {"z": "bed_level"}

    Returns a Profile (x, z: float64 arrays, m). Raises FileNotFoundError (an
    OSError) naming a file that is not there, InputError naming the file, line
    and column of the first fault, ValueError for a wrong option.
    """
    options = _options(separator, decimal, columns, ("x", "z"))
    return Profile(*_read(_qav.read_profile, path, *options))


def read_series(path: str | os.PathLike, *, separator: str | None = None, decimal: str | None = None,
                columns: dict | None = None, missing: str = "error",
                invalid_value: float = -999.0) -> Series:
    """Reads a series file as `qav run --series` does: the columns hm0 (m), tp (s),
    wlev (m) and angle (deg), one row per time step, by the rules of read_profile.

    missing        a cell that is empty, NaN, NA, N/A or #N/A: 'error' (InputError),
                   or 'invalid': it reads as invalid_value, and qav.run refuses that step
    invalid_value  the value of a missing cell with missing='invalid'

    Returns a Series of float64 arrays; raises FileNotFoundError for a file that
    is not there, InputError on the first fault.
    """
    options = _options(separator, decimal, columns, ("hm0", "tp", "wlev", "angle"))
    if missing not in ("error", "invalid"):
        raise ValueError(f"missing must be 'error' or 'invalid', got {missing!r}")
    return Series(*_read(_qav.read_series, path, *options, missing == "invalid", float(invalid_value)))
