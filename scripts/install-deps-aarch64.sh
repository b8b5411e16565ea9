#!/usr/bin/env bash
# Installs the Debian packages of the 64-bit ARM cross build (preset aarch64):
# the cross compiler, the user-mode emulator that runs its tests, and Highway
# and GoogleTest for arm64 from Debian's multiarch packages.
set -euo pipefail
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  "${sudo_cmd[@]}" dpkg --add-architecture arm64
  added=1
fi
packages=(g++-aarch64-linux-gnu qemu-user libhwy-dev:arm64 libgtest-dev:arm64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ -n "${added:-}" ]; then
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${packages[@]}"
fi
