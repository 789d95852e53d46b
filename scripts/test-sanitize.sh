#!/usr/bin/env bash
# Builds the core, the C++ tests and the extension with AddressSanitizer and
# UndefinedBehaviorSanitizer, then runs the C++ tests and the pytest suite
# against that build. The interpreter itself is not instrumented, so the ASan
# runtime is preloaded and leak detection (which would report the
# interpreter's own allocations) is off.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
venv=${VENV:-$root/.venv}
build=$root/build/sanitize
export PATH="$venv/bin:$PATH"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLUNE_SANITIZE=ON \
  -DMARLUNE_BUILD_PYTHON=ON -DMARLUNE_BUILD_TESTS=ON -DPython_EXECUTABLE="$venv/bin/python" >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure

# A package folder holding the Python files and the instrumented module.
package=$build/package/marlune
rm -rf "$build/package" && mkdir -p "$package"
cp "$root"/python/marlune/*.py "$root"/python/marlune/*.pyi "$root/python/marlune/py.typed" "$package/"
cp "$build"/_marlune*.so "$build"/_convert*.so "$package/"

asan=$(g++ -print-file-name=libasan.so)
export LD_PRELOAD="$asan"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export PYTHONPATH="$build/package"
export MARLUNE_EXPECT_MODULE="$package"
cd "$root"
"$venv/bin/python" -c 'import marlune._marlune as m, marlune._convert as c, os; assert {os.path.dirname(m.__file__), os.path.dirname(c.__file__)} == {os.environ["MARLUNE_EXPECT_MODULE"]}, (m.__file__, c.__file__)'
"$venv/bin/python" -m pytest -q -p no:cacheprovider tests/python
