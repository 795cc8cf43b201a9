#!/usr/bin/env bash
# Installs the Debian packages Velluma needs to build, test and run.
# Idempotent: asks apt-get only for what is missing. Works as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake pkg-config lld
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-image-formats-plugins
  qt6-qpa-plugins libqt6svg6
  libexiv2-dev libplist-dev libglib2.0-dev libjpeg62-turbo-dev libpng-dev libtiff-dev
  # HEIC and AVIF (libheif decodes both; aom encodes AVIF), JPEG XL, WebP with its chunks
  libheif-dev libaom-dev libjxl-dev libwebp-dev
  xvfb xauth ccache
  clang-format clang-tidy
  # the installation test: the desktop's validators and the manual page renderer
  appstream desktop-file-utils groff-base
  # the codec benchmarks' yardsticks (bench/)
  libheif-examples libjxl-tools webp libavif-bin libjpeg-turbo-progs
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
elif command -v sudo >/dev/null 2>&1; then
  SUDO=(sudo)
else
  echo "setup: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
