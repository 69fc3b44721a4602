#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when they are missing.
# Usage: deps.sh run|test
set -euo pipefail
mode=${1:-test}

pkgs=(cmake ninja-build g++ pkg-config libcurl4-openssl-dev libwxgtk3.2-dev zlib1g-dev libbz2-dev
      liblzma-dev libzstd-dev libssl-dev)
if [ "$mode" = test ]; then
  pkgs+=(libgtest-dev libgmock-dev clang libclang-rt-14-dev zip unzip p7zip-full python3
         nginx vsftpd python3-pyftpdlib tinyproxy xvfb xauth imagemagick openssl
         libarchive-tools lighttpd zstd xz-utils
         desktop-file-utils appstream man-db groff-base clang-format)
fi

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
