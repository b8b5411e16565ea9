#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking Qav need.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev libomp-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libsleef-dev libhwy-dev
  python3 python3-numpy python3-pytest python3-matplotlib
  pybind11-dev python3-dev python3-pandas python3-xarray python3-netcdf4
  python3-dask python3-distributed python3-openturns python3-tqdm
  # pip install . / pip wheel . of the Python package, offline (--no-build-isolation), and a venv to test it in
  python3-pip python3-venv python3-setuptools python3-wheel
  pkg-config make valgrind binutils time
  # dpkg-shlibdeps: the .deb of a release names the libraries it needs.
  dpkg-dev
  librsvg2-bin
  # The HTML report of a run rendered and printed in a test; the series read once, traced.
  chromium strace
  gfortran
  # The Windows build: mingw-w64 (posix threads), its gfortran and windres,
  # and Wine (64-bit only; no i386 architecture needed) to run its tests.
  g++-mingw-w64-x86-64-posix gfortran-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
