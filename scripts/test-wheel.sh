#!/usr/bin/env bash
# Installs the built wheel into a fresh virtual environment of each CPython
# version given (default 3.12 and 3.13) and runs the Python test suite against
# the installed package, with no compiler on PATH: what a user's machine sees.
# The tests run in place (they find their fixtures and the shared corpora
# beside them) but from an empty folder, so the package in python/ is never
# imported; conftest checks that marlune comes from the environment.
# Usage: test-wheel.sh WHEEL_DIR [X.Y ...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
wheel_dir=$(cd "${1:?usage: test-wheel.sh WHEEL_DIR [X.Y ...]}" && pwd)
shift
versions=("$@")
[ ${#versions[@]} -gt 0 ] || versions=(3.12 3.13)
wheels=("$wheel_dir"/marlune-*.whl)
[ ${#wheels[@]} -eq 1 ] && [ -f "${wheels[0]}" ] || { echo "error: expected one wheel in $wheel_dir" >&2; exit 1; }
wheel=${wheels[0]}
work=$root/build/test-wheel

failed=()
for version in "${versions[@]}"; do
  python=$(bash "$root/scripts/find-python.sh" "$version")
  venv=$work/py$version
  rm -rf "$venv" && "$python" -m venv "$venv"
  # Only the venv's own programs: no gcc, g++, cc, clang or zig to fall back on.
  user_path="$venv/bin"
  for compiler in gcc g++ cc c++ clang clang++ zig; do
    if PATH=$user_path command -v "$compiler" >/dev/null; then
      echo "error: $compiler on the test PATH" >&2; exit 1
    fi
  done
  PATH=$user_path "$venv/bin/python" -m pip install -q --disable-pip-version-check --only-binary=:all: \
    "$wheel[test]"
  package=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("platlib"))')/marlune
  run=$(mktemp -d "$work/run.XXXXXX")
  echo "== CPython $version: $(basename "$wheel")"
  (cd "$run" && PATH=$user_path MARLUNE_EXPECT_MODULE=$package "$venv/bin/python" -m pytest -q \
    -p no:cacheprovider --import-mode=importlib --rootdir "$run" "$root/tests/python") || failed+=("$version")
  rm -rf "$run"
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "error: the tests failed on CPython ${failed[*]}" >&2
  exit 1
fi
