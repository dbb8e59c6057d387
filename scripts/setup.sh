#!/usr/bin/env bash
# Installs everything the build and the tests need on a clean Debian 12 machine.
# Idempotent: packages already present are not touched, and nothing is printed then.
set -euo pipefail

packages=(
  build-essential g++ cmake pkg-config ccache
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-base-dev-tools libqt6svg6-dev qt6-pdf-dev libgl-dev
  clang libclang-rt-14-dev
  dosfstools mtools ntfs-3g fdisk e2fsprogs exfatprogs exfat-fuse
  sleuthkit testdisk ext4magic extundelete btrfs-progs
  xvfb xauth fonts-liberation x11-apps desktop-file-utils
  zip unzip p7zip-full ffmpeg imagemagick sox sqlite3 zlib1g-dev ghostscript
  python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
