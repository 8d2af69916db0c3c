#!/usr/bin/env bash
# Runs the CTest entries that match REGEX RUNS times in a row (default 20) while one busy loop
# per core keeps every core loaded, and stops at the first failure: for tests whose timing could
# make them flaky, such as docs.Recipes with its ssh server.
# Usage: tests/under_load.sh BUILD_DIR REGEX [RUNS]
set -euo pipefail
build=$1 regex=$2 runs=${3:-20}
busy=()
for _ in $(seq "$(nproc)"); do
  sh -c 'while :; do :; done' &
  busy+=($!)
done
trap 'kill "${busy[@]}" 2>/dev/null' EXIT
for run in $(seq "$runs"); do
  if ! ctest --test-dir "$build" -R "$regex" --output-on-failure >"$build/under_load.log" 2>&1; then
    cat "$build/under_load.log"
    echo "under_load: run $run of $runs failed" >&2
    exit 1
  fi
  if grep -q "Skipped\|Not Run" "$build/under_load.log"; then
    cat "$build/under_load.log"
    echo "under_load: the tests were skipped, which proves nothing" >&2
    exit 1
  fi
done
grep -E "Test +#" "$build/under_load.log"
echo "under_load: $runs runs passed, $(nproc) busy loops beside them"
