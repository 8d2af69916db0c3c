#!/usr/bin/env python3
"""Measures maxmedian against the straightforward version of the filter (bench/reference.cpp) and
prints the table of doc/DEVELOPMENT.md ("Measured"); --scaling prints the README's.

Usage: bench/measure.py [--pairs N] [--quick] [--pipe BYTES] [--scaling | --converter]
                        [--against OTHER] BINARY [INPUT...]

For each input of bench/workloads.py (default: the standard set), it checks that BINARY answers
exactly as the reference does, then runs the two in turn N times (default 15), so that drift on a
busy machine falls on both alike, and reports the median and range of the per-pair ratio of CPU
times (user + system), the median CPU seconds of each, throughput beside that of only reading the
input (cat to /dev/null), and each program's peak resident memory (GNU time). --quick uses small
inputs and one pair, to check that the measurement still runs. --pipe feeds every input through
a pipe, written BYTES at a time by dd, so that reads come in pieces of about that size.
--scaling prints instead how the cost per record changes with the size of a case: the same
million records in cases of 10 to 1,000,000 records, and one case of 4,000,000.
--against measures BINARY against another build of maxmedian instead, which the table's
"reference" columns then show. --converter measures instead the converter built beside BINARY
(maxmedian-one-case-per-line) against BINARY on the same inputs, by wall-clock time, after
checking that BINARY answers the converted input as the input itself. Inputs and the reference
binary are kept in build/measure/ and remade when their sources change. A full run of the
default table takes about 10 minutes, --scaling about 5.
"""
import argparse
import os
import platform
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WORK = os.path.join(HERE, "..", "build", "measure")
DEFAULT_INPUTS = ["big", "many", "ties", "padded", "singles", "blank", "descending", "sparse", "gaps",
                  "zeros", "edges", "heaps", "narrow", "negative", "midsize", "ordered",
                  "reverse", "nearly", "wide", "huge", "spread", "sortedmid", "clustered"]
SCALING_INPUTS = [f"cases-of-{10**e}" for e in range(1, 7)] + ["huge"]
# The converter's inputs: the two standard ones and one case of ten million records.
CONVERTER_INPUTS = ["big", "many", "cases-of-10000000@10"]


def stale(target, *sources):
    return not os.path.exists(target) or any(
        os.path.getmtime(target) < os.path.getmtime(s) for s in sources)


def reference_binary():
    path = os.path.join(WORK, "reference")
    source = os.path.join(HERE, "reference.cpp")
    if stale(path, source):
        subprocess.run(["g++", "-O2", "-std=c++20", "-o", path, source], check=True)
    return path


def input_file(name, scale):
    if os.path.isfile(name):  # an input of one's own
        return name
    if "@" in name:  # NAME@SCALE: an input at a scale of its own
        name, own = name.split("@")
        scale *= float(own)
    path = os.path.join(WORK, f"{name}-{scale:g}.txt")
    if stale(path, os.path.join(HERE, "workloads.py")):
        with open(path + ".new", "w") as out:
            subprocess.run([sys.executable, os.path.join(HERE, "workloads.py"), name, str(scale)],
                           stdout=out, check=True)
        os.replace(path + ".new", path)
    return path


def cpu_seconds(command, path, pipe_bytes=0, wall=False):
    """CPU time of one run of `command` with `path` as standard input, output discarded; through
    a pipe written `pipe_bytes` at a time when that is set. With `wall`, the wall-clock time."""
    started = time.perf_counter()
    with open(path, "rb") as stdin, open(os.devnull, "wb") as null:
        writer = None
        if pipe_bytes:
            writer = subprocess.Popen(["dd", f"bs={pipe_bytes}", "status=none"], stdin=stdin,
                                      stdout=subprocess.PIPE)
            stdin = writer.stdout
        child = subprocess.Popen(command, stdin=stdin, stdout=null)
        if writer:
            writer.stdout.close()
        _, status, usage = os.wait4(child.pid, 0)
        if writer:
            writer.wait()
    if status != 0:
        sys.exit(f"{command[0]} failed on {path}")
    return time.perf_counter() - started if wall else usage.ru_utime + usage.ru_stime


def peak_kib(command, path):
    """Peak resident KiB of one run, by GNU time: a child of this interpreter would count the
    interpreter's own size."""
    with open(path, "rb") as stdin:
        done = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, stdin=stdin,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
    return int(done.stderr.split()[-1])


def answers(command, path):
    with open(path, "rb") as stdin:
        return subprocess.run(command, stdin=stdin, capture_output=True, check=True).stdout


def machine():
    model = platform.processor()
    try:
        with open("/proc/cpuinfo") as info:
            model = next(l.split(":", 1)[1].strip() for l in info if l.startswith("model name"))
    except (OSError, StopIteration):
        pass
    compiler = subprocess.run(["g++", "--version"], capture_output=True, text=True).stdout
    return f"{model}, {os.cpu_count()} cores, {platform.system()} {platform.release()}, " \
        f"{compiler.splitlines()[0] if compiler else 'no g++'}"


def measure(ours, reference, path, pairs, pipe_bytes, wall=False):
    """Checks the answers, then returns the CPU seconds (or with `wall` the wall-clock seconds) of
    `pairs` interleaved runs of each program and of cat."""
    if not wall and answers(ours, path) != answers(reference, path):
        sys.exit(f"{path}: maxmedian's answers differ from the reference's")
    cpu_seconds(ours, path, pipe_bytes), cpu_seconds(reference, path, pipe_bytes)  # warm up
    times = {"ours": [], "reference": [], "cat": []}
    for pair in range(pairs):
        # Each goes first in every other pair, so that what running first or second does to the
        # page cache and the processor's state falls on both alike.
        for key, command in (("ours", ours), ("reference", reference))[::1 - 2 * (pair % 2)]:
            times[key].append(cpu_seconds(command, path, pipe_bytes, wall))
        times["cat"].append(cpu_seconds(["cat"], path, pipe_bytes, wall))
    return times


def converter_table(binary, inputs, scale, pairs, pipe_bytes):
    """The converter against maxmedian on the same inputs: wall-clock time and peak memory."""
    converter = [os.path.join(os.path.dirname(binary[0]), "maxmedian-one-case-per-line")]
    print("| input | MB | wall-clock ratio, converter / maxmedian: median (range) "
          "| wall seconds (converter / maxmedian) | peak resident KiB (converter / maxmedian) |")
    print("| --- | --- | --- | --- | --- |")
    for name in inputs or CONVERTER_INPUTS:
        path = input_file(name, scale)
        with open(path, "rb") as stdin:
            converted = subprocess.run(converter, stdin=stdin, capture_output=True,
                                       check=True).stdout
        direct = answers(binary, path)
        if subprocess.run(binary, input=converted, capture_output=True).stdout != direct:
            sys.exit(f"{path}: maxmedian answers the converted input differently")
        times = measure(converter, binary, path, pairs, pipe_bytes, wall=True)
        print(f"| `{name.split('@')[0]}` | {os.path.getsize(path) / 1e6:.1f} | {ratio_cell(times)} "
              f"| {statistics.median(times['ours']):.3f} / "
              f"{statistics.median(times['reference']):.3f} "
              f"| {peak_kib(converter, path)} / {peak_kib(binary, path)} |", flush=True)


def ratio_cell(times):
    ratios = [a / max(b, 1e-6) for a, b in zip(times["ours"], times["reference"])]
    return f"{statistics.median(ratios):.3f} ({min(ratios):.3f} to {max(ratios):.3f})"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--pairs", type=int, default=15,
                        help="interleaved runs of each program per input (default 15)")
    parser.add_argument("--quick", action="store_true",
                        help="inputs at 2%% of their size and one pair: checks that it runs")
    parser.add_argument("--pipe", type=int, default=0, metavar="BYTES",
                        help="feed each input through a pipe, BYTES a write (by dd)")
    parser.add_argument("--scaling", action="store_true",
                        help="print the cost per record by case size instead of the table of inputs")
    parser.add_argument("--converter", action="store_true",
                        help="measure the converter built beside BINARY against BINARY")
    parser.add_argument("--against", metavar="BINARY",
                        help="measure against this build instead of the reference, as A/B")
    parser.add_argument("binary", help="the maxmedian binary to measure")
    parser.add_argument("inputs", nargs="*",
                        help="inputs of bench/workloads.py, or files (default: the standard set)")
    args = parser.parse_args()
    scale, pairs = (0.02, 1) if args.quick else (1, args.pairs)
    os.makedirs(WORK, exist_ok=True)
    ours = [os.path.abspath(args.binary)]
    reference = [os.path.abspath(args.against) if args.against else reference_binary()]
    through = f", input through a pipe {args.pipe} bytes a write" if args.pipe else ""
    runs = "one run" if pairs == 1 else f"median of {pairs} interleaved pairs"
    print(f"Measured on {machine()}; {runs}{through}.\n")
    if args.converter:
        converter_table(ours, args.inputs, scale, pairs, args.pipe)
        return
    if args.scaling:
        print("| records per case | cases | CPU ns per record (maxmedian / reference) "
              "| CPU time ratio: median (range) | peak resident KiB (maxmedian / reference) |")
        print("| --- | --- | --- | --- | --- |")
        for name in args.inputs or SCALING_INPUTS:
            path = input_file(name, scale)
            with open(path) as text:
                header = [int(x) for x in text.readline().split()]
            cases = sum(1 for _ in open(path)) // (header[1] + 1)
            records = cases * header[1]
            times = measure(ours, reference, path, pairs, args.pipe)
            ns = [statistics.median(times[k]) / records * 1e9 for k in ("ours", "reference")]
            print(f"| {header[1]:,} | {cases:,} | {ns[0]:.1f} / {ns[1]:.1f} | {ratio_cell(times)} "
                  f"| {peak_kib(ours, path)} / {peak_kib(reference, path)} |", flush=True)
        return
    print("| input | MB | CPU time ratio: median (range) | CPU seconds (maxmedian / reference) "
          "| MB/s (maxmedian / reading only) | peak resident KiB (maxmedian / reference) |")
    print("| --- | --- | --- | --- | --- | --- |")
    for name in args.inputs or DEFAULT_INPUTS:
        path = input_file(name, scale)
        mb = os.path.getsize(path) / 1e6
        times = measure(ours, reference, path, pairs, args.pipe)
        ours_s, reference_s, cat_s = (statistics.median(times[k]) for k in times)
        throughput = mb / max(ours_s, 1e-3)
        reading = mb / max(cat_s, 1e-3)
        print(f"| `{os.path.basename(name)}` | {mb:.1f} | {ratio_cell(times)} | {ours_s:.3f} / {reference_s:.3f} | "
              f"{throughput:.0f} / {reading:.0f} | {peak_kib(ours, path)} / "
              f"{peak_kib(reference, path)} |", flush=True)


if __name__ == "__main__":
    main()
