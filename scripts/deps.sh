#!/usr/bin/env bash
# Installs what Pixmoor needs to build, run and test on Debian 12 (apt-get, with sudo when not root).
# Usage: scripts/deps.sh [build|test|bench]   (each includes the ones before it)
set -euo pipefail
level=${1:-build}

build_pkgs=(cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins
  qt6-svg-dev libgl-dev libjpeg62-turbo-dev libdeflate-dev libpng-dev libtiff-dev libgif-dev libsane-dev libcups2-dev
  libxcb1-dev libxcb-keysyms1-dev qt6-tools-dev qt6-tools-dev-tools qt6-documentation-tools
  libqt6help6 libqt6sql6-sqlite libglib2.0-dev qt6-wayland)
# The Wayland tests: a headless sway and its screenshots, the desktop portal on a private bus
# (xdg-desktop-portal offers its screenshot only where some backend also offers the access
# dialog, which on a wlroots compositor is the GTK one's).
test_pkgs=(libgtest-dev libgmock-dev xvfb xauth xdotool xclip poppler-utils sane-utils
  cups-daemon cups-client printer-driver-cups-pdf
  imagemagick python3 python3-pil netpbm libtiff-tools giflib-tools icoutils libjpeg-turbo-progs
  fonts-dejavu-core dbus-x11 e2fsprogs desktop-file-utils appstream dpkg-dev lintian debootstrap
  openbox libglib2.0-bin graphicsmagick libvips-tools libimage-exiftool-perl clang
  libclang-rt-14-dev linux-libc-dev
  sway grim wtype wl-clipboard xdg-desktop-portal xdg-desktop-portal-wlr xwayland dbus
  xdg-desktop-portal-gtk)
bench_pkgs=(libbenchmark-dev hyperfine time
  x11-apps)

pkgs=("${build_pkgs[@]}" libbenchmark-dev)
[ "$level" = test ] || [ "$level" = bench ] && pkgs+=("${test_pkgs[@]}")
[ "$level" = bench ] && pkgs+=("${bench_pkgs[@]}")

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
