#!/usr/bin/env bash
# Prints the path of a CPython interpreter of the given version (default 3.13,
# the one the build venv uses; the wheel is also tested on 3.12).
# Looks at $PYTHON, pythonX.Y on PATH, pyenv's
# versions (whose shim may refuse to run an interpreter that is not selected)
# and Debian's pythonX.Y.
# Usage: find-python.sh [X.Y]
set -u
version=${1:-3.13}
runs_version() {
  "$1" -c "import sys, venv; sys.exit('%d.%d' % sys.version_info[:2] != '$version')" >/dev/null 2>&1
}

candidates=()
[ -n "${PYTHON:-}" ] && candidates+=("$PYTHON")
candidates+=("python$version")
roots=()
command -v pyenv >/dev/null 2>&1 && roots+=("$(pyenv root 2>/dev/null)")
roots+=("${PYENV_ROOT:-}" "$HOME/.pyenv" /root/.pyenv /opt/pyenv)
for root in "${roots[@]}"; do
  [ -n "$root" ] || continue
  for exe in "$root/versions/$version"*/bin/"python$version"; do [ -x "$exe" ] && candidates+=("$exe"); done
done
candidates+=("/usr/bin/python$version" "/usr/local/bin/python$version")

for c in "${candidates[@]}"; do
  exe=$(command -v "$c" 2>/dev/null) || continue
  if runs_version "$exe"; then echo "$exe"; exit 0; fi
done
echo "error: no CPython $version found (set PYTHON=/path/to/python$version, or install python$version and python$version-venv)" >&2
exit 1
