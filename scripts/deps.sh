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
         desktop-file-utils appstream man-db groff-base clang-format libsodium23 libcap2)
fi

# pure-ftpd conflicts with vsftpd as a package: its files are unpacked where the FTP tests look
# for it (tests/fixtures/servers.cpp), and its tests skip when that fails.
pure_dir=/var/cache/fennic-tests/pure-ftpd
fetch_pure_ftpd() {
  [ "$mode" = test ] && [ ! -x /usr/sbin/pure-ftpd ] && [ ! -x "$pure_dir/usr/sbin/pure-ftpd" ] ||
    return 0
  local tmp; tmp=$(mktemp -d)
  if (cd "$tmp" && { apt-get download -qq pure-ftpd 2>/dev/null ||
                     { "${sudo_cmd[@]}" apt-get update -qq && apt-get download -qq pure-ftpd; }; } &&
      "${sudo_cmd[@]}" mkdir -p "$pure_dir" && "${sudo_cmd[@]}" dpkg -x pure-ftpd_*.deb "$pure_dir"); then
    echo "pure-ftpd unpacked into $pure_dir" >&2
  else
    echo "pure-ftpd could not be fetched; its tests will skip" >&2
  fi
  rm -rf "$tmp"
}

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
fetch_pure_ftpd
