#!/usr/bin/env bash
# Runs each fuzz target for FUZZ_SECONDS (default 120) with its seeds.
#   fuzz/run.sh BUILD_DIR [TARGET...]
# Seeds come from fuzz/make_seeds.py and, for whole documents, from the
# shared corpus when it is present. New inputs are kept in BUILD_DIR/corpus-*;
# crashes are written to fuzz/crash-<target>-*.
set -euo pipefail
build=$1; shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(records para_text section document compound_file hwpx xml_runs inflate distribution hwp3)
seconds=${FUZZ_SECONDS:-120}
root=$(cd "$(dirname "$0")/.." && pwd)
python=${PYTHON_FOR_SEEDS:-$root/.venv/bin/python}

"$python" "$root/fuzz/make_seeds.py" "$build/seeds"
status=0
for target in "${targets[@]}"; do
  corpus="$build/corpus-$target"
  mkdir -p "$corpus"
  extra=()
  if [[ "$target" = document || "$target" = compound_file ]] && [ -d "$root/../shared/corpus" ]; then
    extra+=("$root/../shared/corpus")
  fi
  if [ "$target" = hwpx ] && [ -d "$root/../shared/corpus-hwpx" ]; then extra+=("$root/../shared/corpus-hwpx"); fi
  if [ "$target" = hwp3 ] && [ -d "$root/../shared/hwp3" ]; then extra+=("$root/../shared/hwp3"); fi
  echo "== fuzz_$target for ${seconds}s"
  log="$build/fuzz-$target.log"
  if ! "$build/fuzz_$target" "$corpus" "$build/seeds/$target" "${extra[@]}" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=3072 -max_len=262144 \
      -print_final_stats=1 -artifact_prefix="$root/fuzz/crash-$target-" >"$log" 2>&1; then
    status=1
  fi
  grep -E 'DONE|stat::number_of_executed_units|stat::peak_rss|==[0-9]+==ERROR|SUMMARY: ' "$log" || true
done
exit $status
