#!/usr/bin/env python3
"""Rewrites maxmedian's input with each case on a line of its own.

Usage: maxmedian-one-case-per-line < cases > lines   (installed under that name)

Numbers are copied as they stand, one space between them; only the white space changes, so
maxmedian gives the same answers for the output as for the input, and tools that split text at
line ends (split -n l/K, parallel --pipe) cut it between whole cases. Runs in constant memory
however large the input. A record count that is not an integer from 0 to 2147483647 ends the run
with a message and status 1, and so does input that ends inside a case, after the lines before
it (and the part of the case that did arrive) are written.
"""
import re
import sys

COUNT = re.compile(rb"[+-]?[0-9]+\Z")
LIMIT = 2**31 - 1
CHUNK = 1 << 20


def token_lists(stream):
    """The white-space-separated tokens of a binary stream, a chunk's worth at a time."""
    carry = b""
    while chunk := stream.read(CHUNK):
        pieces = (carry + chunk).split()  # bytes.split() splits at the six ASCII white-space bytes
        carry = b""
        if pieces and not chunk[-1:].isspace():
            carry = pieces.pop()  # may go on in the next chunk
        yield pieces
    if carry:
        yield [carry]


def convert(stream, out):
    """Writes the cases of `stream` to `out`, one a line. Returns an error message, or None."""
    case, line = 0, []
    need = 3  # tokens still to come in the current case
    for pieces in token_lists(stream):
        i = 0
        while i < len(pieces):
            if len(line) < 2:  # N, then C, which tells how many tokens the case has
                if not line:
                    case += 1
                line.append(pieces[i])
                i += 1
                need -= 1
                if len(line) == 2:
                    count = line[1]
                    if not COUNT.match(count) or not 0 <= int(count) <= LIMIT:
                        out.write(b" ".join(line) + b"\n")
                        return f"case {case}: expected a record count from 0 to {LIMIT}, " \
                            f"found {count.decode(errors='replace')!r}"
                    need += 2 * int(count)
                continue
            take = min(need, len(pieces) - i)
            line += pieces[i:i + take]
            i += take
            need -= take
            if need == 0:
                out.write(b" ".join(line) + b"\n")
                line, need = [], 3
    if line:
        out.write(b" ".join(line) + b"\n")
        return f"input ends inside case {case}"
    return None


def main():
    if len(sys.argv) > 1:
        sys.exit(__doc__)
    error = convert(sys.stdin.buffer, sys.stdout.buffer)
    sys.stdout.flush()
    if error:
        sys.exit(f"maxmedian-one-case-per-line: {error}")


if __name__ == "__main__":
    main()
