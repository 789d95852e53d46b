#!/usr/bin/env bash
# Puts pugixml's source (pugixml.cpp, pugixml.hpp, pugiconfig.hpp) in
# DEST/src for the wheel build, which compiles it with zig's clang and libc++:
# Debian's libpugixml.a is built against libstdc++ and cannot link into that
# module. The source is Debian's own source package, fetched with apt-get
# through a private source list and index (the system's apt configuration is
# left alone), so apt checks it against bookworm's signed index; the orig
# tarball is checked once more against the .dsc. A second run reuses the
# download.
# The version is pinned to bookworm's libpugixml-dev, the library the normal
# build links: the wheel and a build from source parse XML with the same code.
# (Debian's only patch to 1.13 touches the manual, not src/.)
# Usage: fetch-pugixml.sh DEST
set -euo pipefail
version=1.13-0.2
upstream=${version%-*}
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
dest=$(mkdir -p "${1:?usage: fetch-pugixml.sh DEST}" && cd "$1" && pwd)
dsc=$dest/pugixml_$version.dsc
orig=$dest/pugixml_$upstream.orig.tar.gz

# True when the .dsc and orig tarball are here and the tarball's SHA-256 is
# the one the .dsc lists.
orig_matches_dsc() {
  [ -f "$dsc" ] && [ -f "$orig" ] || return 1
  local want
  want=$(awk -v f="$(basename "$orig")" '/^Checksums-Sha256:/ {s = 1; next} /^[^ ]/ {s = 0}
                                          s && $3 == f {print $1}' "$dsc")
  [ -n "$want" ] && [ "$(sha256sum "$orig" | cut -d' ' -f1)" = "$want" ]
}

download() {
  mkdir -p "$dest/etc" "$dest/lists/partial"
  printf 'deb-src %s bookworm main\n' "$mirror" >"$dest/etc/src.list"
  local apt=(apt-get -qq -o Dir::Etc::sourcelist="$dest/etc/src.list" -o Dir::Etc::sourceparts=-
             -o Dir::State::Lists="$dest/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
  # As root apt hands downloads to its _apt user, who cannot write here.
  [ "$(id -u)" -ne 0 ] || apt+=(-o APT::Sandbox::User=root)
  if ! "${apt[@]}" --error-on=any update || ! (cd "$dest" && "${apt[@]}" source --download-only "pugixml=$version"); then
    echo "error: could not download pugixml $version's source package from $mirror" >&2
    echo "  (the wheel compiles pugixml from it; check the network, or set DEBIAN_MIRROR to a reachable mirror)" >&2
    exit 1
  fi
}

if orig_matches_dsc; then
  echo "pugixml $version: source already downloaded"
else
  download
  orig_matches_dsc || { echo "error: $orig does not match the checksum in $dsc" >&2; exit 1; }
fi
# The archive's timestamps are kept, so an unchanged source is not rebuilt.
mkdir -p "$dest/src"
tar -xzf "$orig" -C "$dest/src" --strip-components=2 \
  "pugixml-$upstream/src/pugixml.cpp" "pugixml-$upstream/src/pugixml.hpp" "pugixml-$upstream/src/pugiconfig.hpp"
