#!/usr/bin/env bash
# Wall-clock time of the README's ways of using several cores, on the `many` input ten times over
# (about 270 MB), rewritten one case per line: one copy of BINARY; two copies side by side on the
# two halves; GNU parallel over the halves as files; parallel --pipe-part over the whole file.
# Prints the median of RUNS (default 5) runs of each. Usage: bench/cores.sh BINARY [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
binary=$(realpath "$1")
runs=${2:-5}
work="$here/../build/measure/cores"
mkdir -p "$work/parts"
if [ ! -s "$work/cases.lines" ] || [ "$work/cases.lines" -ot "$here/workloads.py" ]; then
  python3 "$here/workloads.py" many 10 | python3 "$here/../tools/one-case-per-line.py" \
    >"$work/cases.lines"
  rm -f "$work/parts/"*
  split -n l/2 -d "$work/cases.lines" "$work/parts/part-"
fi
cd "$work"
answers=$("$binary" <cases.lines | md5sum)

median() { sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
measure() {  # measure NAME COMMAND: checks the answers, then times RUNS runs
  local name=$1
  shift
  [ "$(bash -c "$*" | md5sum)" = "$answers" ] || { echo "$name: answers differ" >&2; exit 1; }
  for _ in $(seq "$runs"); do
    /usr/bin/time -f %e bash -c "$* >/dev/null" 2>&1 | tail -n 1
  done | median | xargs printf '%-44s %s s\n' "$name"
}
export PARALLEL=--will-cite
measure "one copy" "'$binary' < cases.lines"
measure "two copies side by side, one half each" \
  "'$binary' < parts/part-00 > out-0 & '$binary' < parts/part-01 > out-1; wait; cat out-0 out-1"
measure "parallel over the halves as files" "parallel --keep-order '$binary < {}' ::: parts/*"
measure "parallel --pipe-part over the whole file" \
  "parallel --pipe-part -a cases.lines --block -4 --keep-order '$binary'"
