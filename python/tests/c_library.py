"""Finding and loading DynamicLib-Qav, with the prototypes of its five exports.

The package runs the model through its compiled module; the tests hold its
results to the C entries of the shared library, reached here through ctypes."""

from __future__ import annotations

import ctypes
import os
import threading
from pathlib import Path
from typing import Mapping, Optional, Sequence

LIBRARY_NAME = "DynamicLib-Qav.so"
ENVIRONMENT_VARIABLE = "QAV_LIBRARY"

# Length in characters of the message and version buffers of the library.
MESSAGE_LENGTH = 1000

_PACKAGE_DIR = Path(__file__).resolve().parent


class LibraryNotFoundError(OSError):
    """DynamicLib-Qav could not be found or loaded."""


def candidates(package_dir: Path = _PACKAGE_DIR) -> list[Path]:
    """The places searched for the library when QAV_LIBRARY is not set, in order.

    1. beside the package: <package>/DynamicLib-Qav.so
    2. an installed prefix, the package lying in <prefix>/share/qav/python/qav:
       <prefix>/lib, <prefix>/lib64 and <prefix>/lib/<multiarch>
    3. the build trees of a source checkout, the package lying in
       <repository>/python/qav: <repository>/build/release first, then the
       other <repository>/build/* in name order
    """
    places = [package_dir / LIBRARY_NAME]
    if len(package_dir.parents) >= 4 and package_dir.parents[1].name == "qav" \
            and package_dir.parents[2].name == "share":
        prefix = package_dir.parents[3]
        places += [prefix / "lib" / LIBRARY_NAME, prefix / "lib64" / LIBRARY_NAME]
        places += sorted((prefix / "lib").glob("*/" + LIBRARY_NAME))
    repository = package_dir.parent.parent
    build = repository / "build"
    places.append(build / "release" / LIBRARY_NAME)
    places += [p for p in sorted(build.glob("*/" + LIBRARY_NAME)) if p.parent.name != "release"]
    return places


def locate(environ: Optional[Mapping[str, str]] = None, package_dir: Path = _PACKAGE_DIR) -> Path:
    """The path of the library to load.

    QAV_LIBRARY, when set, names the library file and nothing else is tried;
    otherwise the first existing file of candidates() is taken. Raises
    LibraryNotFoundError with the places searched when there is none.
    """
    environ = os.environ if environ is None else environ
    named = environ.get(ENVIRONMENT_VARIABLE, "")
    if named:
        path = Path(named)
        if not path.is_file():
            raise LibraryNotFoundError(
                f"{ENVIRONMENT_VARIABLE}={named} does not name a file; "
                f"set it to the full path of {LIBRARY_NAME}")
        return path
    searched: Sequence[Path] = candidates(package_dir)
    for path in searched:
        if path.is_file():
            return path
    listing = "\n  ".join(str(p) for p in searched) or "(none)"
    raise LibraryNotFoundError(
        f"{LIBRARY_NAME} not found. Set {ENVIRONMENT_VARIABLE} to its full path, "
        f"or build or install Qav. Searched:\n  {listing}")


_c_int_p = ctypes.POINTER(ctypes.c_int)
_c_double_p = ctypes.POINTER(ctypes.c_double)


def declare(library: ctypes.CDLL) -> ctypes.CDLL:
    """Declares argument and result types of the five exports on `library`."""
    i, d, text = _c_int_p, _c_double_p, ctypes.c_char_p
    length = ctypes.c_int64

    f = library.FORTRANENTRY_ROLLERMODEL5
    f.argtypes = [i, d, d, i, d, d, d, d, d, i, d, d, i, text, d, d, d, ctypes.c_char_p, length, length]
    f.restype = ctypes.c_int

    f = library.C_FORTRANENTRY_RollerModel5
    f.argtypes = [i, d, d, d, d, i, d, d, d, d, d, i, d, d, d, d, i, text, length, d, d,
                  d, d, d, ctypes.c_char_p]
    f.restype = ctypes.c_int

    f = library.VALIDATEPROFILE
    f.argtypes = [i, d, d, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_char_p, length]
    f.restype = ctypes.c_int

    f = library.VALIDATEHYDRAULICDATA
    f.argtypes = [i, d, d, d, d, d, ctypes.c_char_p, length]
    f.restype = ctypes.c_int

    f = library.GetVersionInfo
    f.argtypes = [ctypes.c_char_p]
    f.restype = None
    return library


_lock = threading.Lock()
_loaded: Optional[ctypes.CDLL] = None


def library() -> ctypes.CDLL:
    """The loaded library, loaded and declared on first use (thread-safe)."""
    global _loaded
    with _lock:
        if _loaded is None:
            path = locate()
            try:
                _loaded = declare(ctypes.CDLL(str(path)))
            except OSError as error:
                raise LibraryNotFoundError(f"cannot load {path}: {error}") from error
            except AttributeError as error:
                raise LibraryNotFoundError(f"{path} lacks an export of Qav: {error}") from error
        return _loaded


def library_path() -> Path:
    """The path of the library the package uses (loading it if need be)."""
    return Path(library()._name)
