#!/usr/bin/env bash
# What the README's ways of using several cores gain, on the `many` input ten times over (about
# 270 MB of small cases). Measures, as wall-clock medians of RUNS runs (default 5): one copy of
# BINARY on the file; the conversion to one case per line (the converter built beside BINARY)
# and the split into parts; one copy on the converted file; GNU parallel over the parts and
# --pipe-part over the converted file. Then computes, from the measured shares, what converting
# once and answering on K cores would take. Prints a Markdown table.
# Usage: bench/cores.sh BINARY [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
binary=$(realpath "$1")
converter=$(dirname "$binary")/maxmedian-one-case-per-line
runs=${2:-5}
parts=$(nproc)
[ -x "$converter" ] || { echo "cores.sh: no converter at $converter" >&2; exit 2; }
command -v parallel >/dev/null || { echo "cores.sh: GNU parallel is not installed" >&2; exit 2; }
work="$here/../build/measure/cores"
mkdir -p "$work"
if [ ! -s "$work/cases.txt" ] || [ "$work/cases.txt" -ot "$here/workloads.py" ]; then
  python3 "$here/workloads.py" many 10 >"$work/cases.txt"
fi
cd "$work"
answers=$("$binary" <cases.txt | md5sum)

median() { sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
# time_of COMMAND [BEFORE]: the median wall-clock seconds of RUNS runs of COMMAND, each after
# an untimed run of BEFORE (which clears what COMMAND writes, as a first run finds it).
time_of() {
  for _ in $(seq "$runs"); do
    bash -c "${2:-true}"
    /usr/bin/time -f %e bash -c "$1" 2>&1 | tail -n 1
  done | median
}
# answering NAME COMMAND: checks that COMMAND gives the direct answers, then times it, its
# answers discarded.
answering() {
  [ "$(bash -c "$2" | md5sum)" = "$answers" ] || { echo "$1: answers differ" >&2; exit 1; }
  time_of "$2 >/dev/null"
}
export PARALLEL=--will-cite
one=$(answering "one copy" "'$binary' < cases.txt")
convert=$(time_of "'$converter' < cases.txt > cases.lines" "rm -f cases.lines")
split=$(time_of "mkdir parts && split -n l/$parts -d cases.lines parts/part-" "rm -rf parts")
lines=$(answering "one copy, converted" "'$binary' < cases.lines")
files=$(answering "parallel over files" "parallel --keep-order '$binary < {}' ::: parts/*")
pipe_part=$(answering "parallel --pipe-part" \
  "parallel --pipe-part -a cases.lines --block -4 --keep-order '$binary'")

echo "Measured on $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), median of $runs runs, $(du -m cases.txt | cut -f1) MB of small cases:"
echo
echo "| step | wall seconds |"
echo "| --- | --- |"
echo "| one copy, \`maxmedian < cases.txt\` | $one |"
echo "| conversion, \`maxmedian-one-case-per-line\` | $convert |"
echo "| split into $parts parts | $split |"
echo "| one copy on the converted file | $lines |"
echo "| parallel over the $parts parts | $files |"
echo "| \`parallel --pipe-part\` over the converted file | $pipe_part |"
echo
awk -v one="$one" -v convert="$convert" -v cut="$split" -v lines="$lines" -v files="$files" \
  -v pipe_part="$pipe_part" 'BEGIN {
  printf "Against one copy, here: converting, splitting and answering the parts with parallel"
  printf " takes %.2f of its time; converting and --pipe-part %.2f;", (convert + cut + files) / one,
    (convert + pipe_part) / one
  printf " answering parts converted earlier %.2f.\n\n", files / one
  printf "Computed from these shares, not measured: converting and splitting are one pass each"
  printf " (%.2f s), answering the converted file on K cores at best %.2f / K s.\n\n", convert + cut,
    lines
  printf "| cores K | 1 | 2 | 4 | 8 | 16 | 64 |\n| --- | --- | --- | --- | --- | --- | --- |\n"
  n = split("1 2 4 8 16 64", k, " ")
  printf "| speed-up over one copy, conversion included |"
  for (i = 1; i <= n; ++i) printf " %.1f |", one / (convert + cut + lines / k[i])
  printf "\n| speed-up over one copy, converted earlier |"
  for (i = 1; i <= n; ++i) printf " %.1f |", one / (lines / k[i])
  printf "\n"
}'
