#!/usr/bin/env python3
"""Writes one of maxmedian's benchmark inputs to standard output.

Usage: workloads.py NAME [SCALE]

SCALE (default 1) multiplies the amount of data; --quick runs of the benchmark use a small one.
The same NAME and SCALE always give the same bytes.

The two standard inputs:
  big         5 cases of 200,000 records: values up to 10^9, costs up to 20,000
  many        100,000 cases of 1 to 40 records
Shapes that real inputs take:
  ties        60,000 cases of 2 to 48 records whose values and costs are 0 to 9
  padded      30,000 small cases, every number written in 11 to 20 bytes (leading zeros, signs)
  singles     300,000 cases of one record, every number written as in padded
  blank       20,000 small cases, every number between runs of 20 to 200 mixed white-space bytes
  descending  one case of 1,000,001 records whose costs fall as values rise: the heap takes every
              cost
  sparse      64 MiB of mixed white space with 400 small cases scattered through it
  gaps        2,000 small cases between runs of 1 KiB to 64 KiB of white space
  zeros       300 small cases whose numbers carry 100 to 40,000 leading zeros
  edges       cases of 60 to 135 records, around the sizes where the ordering and the sweeps
              change method, with h around the small-heap limit
  heaps       20 cases of 200,000 records with h from 1 to 100,000, spread evenly on a log scale
  narrow      5 cases of 200,000 records whose values and costs take three distinct numbers
  negative    30,000 cases of 1 to 200 records where every number but N and C is negative
  midsize     2,000 cases of 100 to 2,000 records
Large cases (costs small enough that a budget some choices meet fits in 32 bits: where none
can, maxmedian answers -1 from a count of the costs, without ordering them):
  ordered     one case of 1,000,000 records in value order, values with ties whose costs are not
              in order, h = C/4
  reverse     the same records in reverse value order
  nearly      the same records in value order but for 1% of them moved to random places
  wide        one case of 1,000,000 random records with h = C/2 - 1
  huge        one case of 4,000,000 random records with h = C/8
  spread      one case of 4,000,000 records whose costs run from -10^9 to 10^9, too spread to
              count, with h = C/8: the sums are so negative that every middle fits the budget
  sortedmid   1,000 cases of 100 to 2,000 records in value order
  clustered   one case of 2,000,000 records whose values fall in three clusters of 1,001 values
              each, 2^29 apart, and whose costs run from -10^9 to 10^9, with h = C/8, F = 0
  cases-of-K  1,000,000 random records in cases of K records each, h = C/4 (the scaling series)
  costly-K    one case of K records whose values and costs run from 0 to 10^9, h = C/8, F = 2^31 - 1
  spread-K    1,000,000 records in cases of K records each whose costs run from -10^9 to 10^9,
              h = C/4, F = 0
  fewer-K     one case of 4,000,000 records whose costs run from 0 to 10^6, with h = K and a
              budget near the cheapest choice's: far fewer costs kept than records
  fewer-wide-K  the same with costs from 0 to 10^9
  generous-K  one case of 4,000,000 records whose costs run from 0 to 10^9, with h = K and
              F = 2^31 - 1: a middle among the top values fits
"""
import random
import sys

WHITE = " \t\n\r\v\f"


def small_case(rand, lo, hi, value_hi, cost_hi):
    C = rand.randint(lo, hi)
    N = rand.randint(1, C)
    records = [(rand.randint(0, value_hi), rand.randint(0, cost_hi)) for _ in range(C)]
    return N, records, rand.randint(0, cost_hi * (N + 1))


def numbers(N, records, F):
    out = [N, len(records), F]
    for value, cost in records:
        out += (value, cost)
    return out


def lines(N, records, F):
    return f"{N} {len(records)} {F}\n" + "".join(f"{v} {c}\n" for v, c in records)


def budget_near_cheapest(rand, N, records):
    cheapest = sum(sorted(c for _, c in records)[: 2 * (N // 2) + 1])
    return min(2**31 - 1, cheapest + rand.randint(0, max(1, abs(cheapest) // 2)))


def random_records(rand, C):
    """Costs small enough that a budget some choices meet fits in 32 bits, even at h = C/2."""
    return [(rand.randint(0, 10**9), rand.randint(0, 10**3)) for _ in range(C)]


def large_case(rand, N, records):
    """A case with a budget that some but not all middles fit, as text, built in one join."""
    F = budget_near_cheapest(rand, N, records)
    return f"{N} {len(records)} {F}\n" + "\n".join(f"{v} {c}" for v, c in records) + "\n"


def white(rand, size):
    return "".join(rand.choice(WHITE) for _ in range(size))


def generate(name, scale, write):
    rand = random.Random(name)
    count = lambda n: max(1, int(n * scale))  # noqa: E731
    if name == "big":
        for _ in range(5):
            C = count(200000)
            N = rand.choice([C // 2 | 1, C // 10 | 1, 1001, C - 1])
            records = [(rand.randint(0, 10**9), rand.randint(0, 20000)) for _ in range(C)]
            write(lines(N, records, budget_near_cheapest(rand, N, records)))
    elif name == "many":
        for _ in range(count(100000)):
            write(lines(*small_case(rand, 1, 40, 10**6, 10**5)))
    elif name == "ties":
        for _ in range(count(60000)):
            write(lines(*small_case(rand, 2, 48, 9, 9)))
    elif name in ("padded", "singles"):
        def pad(x):
            sign = "-" if x < 0 else rand.choice(["", "", "+"])
            digits = str(abs(x))
            return sign + digits.zfill(rand.randint(max(11, len(digits)), 20) - len(sign))
        cases, most = (30000, 40) if name == "padded" else (300000, 1)
        for _ in range(count(cases)):
            write(" ".join(pad(x) for x in numbers(*small_case(rand, 1, most, 10**6, 10**5))) + "\n")
    elif name == "blank":
        gaps = [white(rand, rand.randint(20, 200)) for _ in range(1000)]
        for _ in range(count(20000)):
            for x in numbers(*small_case(rand, 1, 40, 10**6, 10**5)):
                write(str(x) + rand.choice(gaps))
    elif name == "descending":
        C = count(1000000) | 1
        values = sorted(rand.sample(range(-10**9, 10**9), C))
        records = [(v, 10**6 - 2 * i) for i, v in enumerate(values)]
        rand.shuffle(records)
        write(lines(2 * (C // 4) + 1, records, 2**31 - 1))
    elif name in ("sparse", "gaps"):
        cases, lo, hi = (400, 1 << 16, 1 << 18) if name == "sparse" else (2000, 1 << 10, 1 << 16)
        pieces = [white(rand, 1 << 16) for _ in range(16)]
        for _ in range(count(cases)):
            write(" ".join(map(str, numbers(*small_case(rand, 1, 40, 10**6, 10**5)))))
            size = rand.randint(lo, hi)
            while size > 0:
                piece = rand.choice(pieces)[: size]
                write(piece)
                size -= len(piece)
        write("\n")
    elif name == "zeros":
        for _ in range(count(300)):
            for x in numbers(*small_case(rand, 1, 4, 10**6, 10**5)):
                sign = "-" if x < 0 else ""
                write(sign + "0" * rand.randint(100, 40000) + str(abs(x)) + " ")
        write("\n")
    elif name == "edges":
        for _ in range(count(20000)):
            C = rand.choice([60, 62, 63, 64, 65, 94, 95, 96, 97, 127, 128, 129, 135])
            N = rand.choice([2 * h + 1 for h in (1, 31, 32, 33, C // 2 - 1)])
            records = [(rand.randint(0, 10**6), rand.randint(0, 10**5)) for _ in range(C)]
            write(lines(N, records, budget_near_cheapest(rand, N, records)))
    elif name == "heaps":
        C = count(200000)
        for i in range(20):
            h = max(1, round((C // 2) ** (i / 19)))
            records = [(rand.randint(0, 10**9), rand.randint(0, 10**6)) for _ in range(C)]
            write(lines(2 * h + 1, records, budget_near_cheapest(rand, 2 * h + 1, records)))
    elif name == "narrow":
        for _ in range(5):
            C = count(200000)
            N = rand.choice([C // 2 | 1, 1001, 3])
            records = [(rand.choice((5, 6, 1000)), rand.choice((1, 2, 7))) for _ in range(C)]
            write(lines(N, records, budget_near_cheapest(rand, N, records)))
    elif name == "negative":
        for _ in range(count(30000)):
            C = rand.randint(1, 200)
            N = rand.randint(1, C)
            records = [(-rand.randint(0, 10**9), -rand.randint(0, 10**5)) for _ in range(C)]
            write(lines(N, records, -rand.randint(0, 10**5 * N)))
    elif name == "midsize":
        for _ in range(count(2000)):
            write(lines(*small_case(rand, 100, 2000, 10**9, 10**5)))
    elif name in ("ordered", "reverse", "nearly"):
        C = count(1000000)
        records = sorted(((rand.randint(0, C // 3), rand.randint(0, 10**3)) for _ in range(C)),
                         key=lambda r: r[0], reverse=name == "reverse")
        if name == "nearly":
            for _ in range(C // 100):
                records.insert(rand.randrange(C), records.pop(rand.randrange(C)))
        write(large_case(rand, 2 * (C // 4) + 1, records))
    elif name == "wide":
        C = count(1000000)
        write(large_case(rand, C - 1, random_records(rand, C)))
    elif name == "huge":
        C = count(4000000)
        write(large_case(rand, 2 * (C // 8) + 1, random_records(rand, C)))
    elif name == "spread":
        C = count(4000000)
        records = [(rand.randint(0, 10**9), rand.randint(-10**9, 10**9)) for _ in range(C)]
        write(lines(2 * (C // 8) + 1, records, -2**31))
    elif name == "sortedmid":
        for _ in range(count(1000)):
            N, records, F = small_case(rand, 100, 2000, 10**9, 10**5)
            write(lines(N, sorted(records), F))
    elif name == "clustered":
        C = count(2000000)
        records = [(rand.choice((0, 2**29, 2**30)) + rand.randint(0, 1000),
                    rand.randint(-10**9, 10**9)) for _ in range(C)]
        write(lines(2 * (C // 8) + 1, records, 0))
    elif name.startswith("cases-of-"):
        K = int(name[len("cases-of-"):])
        for _ in range(max(1, count(1000000) // K)):
            write(large_case(rand, 2 * (K // 4) + 1, random_records(rand, K)))
    elif name.startswith("spread-"):
        K = int(name[len("spread-"):])
        for _ in range(max(1, count(1000000) // K)):
            records = [(rand.randint(0, 10**9), rand.randint(-10**9, 10**9)) for _ in range(K)]
            write(lines(2 * (K // 4) + 1, records, 0))
    elif name.startswith("fewer-"):
        wide = name.startswith("fewer-wide-")
        h = int(name[len("fewer-wide-" if wide else "fewer-"):])
        records = [(rand.randint(0, 10**9), rand.randint(0, 10**9 if wide else 10**6))
                   for _ in range(count(4000000))]
        write(large_case(rand, 2 * h + 1, records))
    elif name.startswith("generous-"):
        records = [(rand.randint(0, 10**9), rand.randint(0, 10**9)) for _ in range(count(4000000))]
        write(lines(2 * int(name[len("generous-"):]) + 1, records, 2**31 - 1))
    elif name.startswith("costly-"):
        C = count(int(name[len("costly-"):]))
        records = [(rand.randint(0, 10**9), rand.randint(0, 10**9)) for _ in range(C)]
        write(lines(2 * (C // 8) + 1, records, 2**31 - 1))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    out = sys.stdout
    generate(sys.argv[1], float(sys.argv[2]) if len(sys.argv) == 3 else 1.0, out.write)
