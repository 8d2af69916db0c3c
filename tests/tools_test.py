#!/usr/bin/env python3
"""Tests of tools/one-case-per-line.py, the converter the README's recipes use, with the built
program as the judge of what its output means. Usage: tools_test.py SOURCE_DIR GROUP COMMAND...
(see e2e.py)."""
import os, random, subprocess, sys, unittest

import e2e
from e2e import SOURCE_DIR, run


def convert(data):
    return subprocess.run([sys.executable, os.path.join(SOURCE_DIR, "tools", "one-case-per-line.py")],
                          input=data, capture_output=True, timeout=120)


class Converter(unittest.TestCase):
    def test_every_white_space_byte_signs_zeros_and_no_final_newline(self):
        data = b"\v+03\t0005\r\n070\f30 25\n+50 21\n20 0020\n-0 18\n35 30 1 0 -5\r\n1 1 -5 2 -6"
        p = convert(data)
        self.assertEqual((p.returncode, p.stderr), (0, b""))
        self.assertEqual(p.stdout, b"+03 0005 070 30 25 +50 21 20 0020 -0 18 35 30\n"
                                   b"1 0 -5\n1 1 -5 2 -6\n")
        self.assertEqual(run(p.stdout).stdout, b"35\n-1\n2\n")

    def test_random_layouts_larger_than_a_read(self):
        # Over a megabyte, so that tokens and runs of white space straddle the converter's reads.
        rand = random.Random(5)
        pieces, size, count = [], 0, 0
        while size < 3 << 20:
            for n in e2e.random_case(rand, 30, 3000, 999):
                token = rand.choice(["", "+", "00"]) + str(n) if n >= 0 else str(n)
                gap = "".join(rand.choice(" \t\n\r\v\f") for _ in range(rand.choice([1, 1, 3, 300])))
                pieces.append((token + gap).encode())
                size += len(pieces[-1])
            count += 1
        data = b"".join(pieces)
        p = convert(data)
        self.assertEqual((p.returncode, p.stderr), (0, b""))
        self.assertEqual(p.stdout.count(b"\n"), count)
        self.assertEqual(run(p.stdout).stdout, run(data).stdout)

    def test_bad_count_and_cut_short_case_are_errors_after_the_lines_before(self):
        for data, lines, message in (
                (b"1 1 5 7 3\n1 x 5", b"1 1 5 7 3\n1 x\n",
                 b"case 2: expected a record count from 0 to 2147483647, found 'x'"),
                (b"1 -2 5", b"1 -2\n", b"case 1: expected a record count"),
                (b"1 1 5 7 3\n3 2 9 1 1 2", b"1 1 5 7 3\n3 2 9 1 1 2\n",
                 b"input ends inside case 2")):
            p = convert(data)
            self.assertEqual((p.returncode, p.stdout), (1, lines))
            self.assertTrue(p.stderr.startswith(b"maxmedian-one-case-per-line: " + message), p.stderr)


if __name__ == "__main__":
    e2e.main(sys.modules[__name__])
