"""The build step of the Python package: the compiled module qav._qav is built by
the project's CMake (only that target and the floors it links), then copied
into the wheel beside the pure-Python modules of python/qav.

Environment:
  QAV_CMAKE_BUILD_DIR       an already configured CMake build tree to build the
                            module in (for instance build/release, whose compiled
                            floors are then reused); by default a tree of its own
                            under setuptools' build folder
  CMAKE_BUILD_PARALLEL_LEVEL  jobs of the build (default: every core)
"""

import os
import re
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def cmake_project_version() -> str:
    """The version of project(Qav VERSION ...) in CMakeLists.txt: the package's version."""
    text = (ROOT / "CMakeLists.txt").read_text()
    found = re.search(r"project\(\s*Qav\s+VERSION\s+([0-9]+(?:\.[0-9]+)*)", text)
    if found is None:
        raise RuntimeError("CMakeLists.txt has no project(Qav VERSION ...)")
    return found.group(1)


class CMakeBuild(build_ext):
    """Builds qav._qav with CMake for the interpreter that runs the build."""

    def build_extension(self, extension: Extension) -> None:
        tree = os.environ.get("QAV_CMAKE_BUILD_DIR")
        build_dir = Path(tree).resolve() if tree else Path(self.build_temp).resolve() / "cmake"
        if not (build_dir / "CMakeCache.txt").exists():
            generator = ["-G", "Ninja"] if _have("ninja") else []
            subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build_dir), *generator,
                            "-DCMAKE_BUILD_TYPE=Release", "-DQAV_BUILD_TESTS=OFF", "-DQAV_BUILD_TOOLS=OFF",
                            "-DQAV_BUILD_BENCHMARKS=OFF", "-DQAV_BUILD_PYTHON=ON",
                            f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "_qav", "--parallel", jobs], check=True)
        suffix = sysconfig.get_config_var("EXT_SUFFIX")
        built = build_dir / "python" / "qav" / f"_qav{suffix}"
        if not built.exists():
            raise RuntimeError(f"{built} was not built: the CMake tree {build_dir} builds for another "
                               f"Python than {sys.executable} (set QAV_CMAKE_BUILD_DIR to a tree of this one)")
        target = Path(self.get_ext_fullpath(extension.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        self.copy_file(str(built), str(target))


def _have(program: str) -> bool:
    return any((Path(folder) / program).exists() for folder in os.environ.get("PATH", "").split(os.pathsep))


setup(
    version=cmake_project_version(),
    ext_modules=[Extension("qav._qav", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
