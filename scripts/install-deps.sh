#!/usr/bin/env bash
# Installs the Debian packages the build needs when they are missing: as root
# with apt-get, otherwise by printing the command to run.
set -eu
need=()
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v make >/dev/null 2>&1 || need+=(make)
command -v pkg-config >/dev/null 2>&1 || need+=(pkg-config)
pkg-config --exists zlib 2>/dev/null || need+=(zlib1g-dev)
pkg-config --exists pugixml 2>/dev/null || need+=(libpugixml-dev)
pkg-config --exists libdeflate 2>/dev/null || need+=(libdeflate-dev)
[ -f /usr/include/mbedtls/aes.h ] && ls /usr/lib/*/libmbedcrypto.a >/dev/null 2>&1 || need+=(libmbedtls-dev)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
if [ -z "$(ls /usr/lib/*/libasan.so* /usr/lib/gcc/*/*/libasan.so 2>/dev/null | head -n1)" ]; then
  need+=(libasan8)
fi
# KaTeX checks that the equations' LaTeX renders; the tests run it with node
# where node is installed.
if command -v node >/dev/null 2>&1 && [ ! -f /usr/share/javascript/katex/katex.js ]; then
  need+=(libjs-katex)
fi

[ ${#need[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
else
  echo "missing packages; run: sudo apt-get install -y ${need[*]}" >&2
  exit 1
fi
