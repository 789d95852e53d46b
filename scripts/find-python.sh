#!/usr/bin/env bash
# Prints the path of a CPython 3.13 interpreter (the one the module targets).
# Looks at $PYTHON, python3.13 on PATH, pyenv's versions (whose shim may refuse
# to run an interpreter that is not selected) and Debian's python3.13.
set -u
runs_313() { "$1" -c 'import sys, venv; sys.exit(sys.version_info[:2] != (3, 13))' >/dev/null 2>&1; }

candidates=()
[ -n "${PYTHON:-}" ] && candidates+=("$PYTHON")
candidates+=(python3.13)
roots=()
command -v pyenv >/dev/null 2>&1 && roots+=("$(pyenv root 2>/dev/null)")
roots+=("${PYENV_ROOT:-}" "$HOME/.pyenv" /root/.pyenv /opt/pyenv)
for root in "${roots[@]}"; do
  [ -n "$root" ] || continue
  for exe in "$root"/versions/3.13*/bin/python3.13; do [ -x "$exe" ] && candidates+=("$exe"); done
done
candidates+=(/usr/bin/python3.13 /usr/local/bin/python3.13)

for c in "${candidates[@]}"; do
  exe=$(command -v "$c" 2>/dev/null) || continue
  if runs_313 "$exe"; then echo "$exe"; exit 0; fi
done
echo "error: no CPython 3.13 found (set PYTHON=/path/to/python3.13, or install python3.13 and python3.13-venv)" >&2
exit 1
