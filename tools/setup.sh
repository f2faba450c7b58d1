#!/bin/bash
# Installs what building and testing need, and nothing that is already there.
# Safe to run any number of times; apt runs only when a package is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  clang libclang-rt-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine64 wine wine32:i386   # wine32 for the i386 DLL's tests (tools/wine-env.sh)
  qemu-user-static          # i386 programs where the kernel refuses them
  xvfb xauth x11-utils socat procps
  googletest libgtest-dev libbenchmark-dev libvterm-dev
  imagemagick
  lrzsz                     # rx/rb: the receivers of the file-send tests and bench
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=
  if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -q
  # no recommendations: nothing beyond what building and testing use
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
