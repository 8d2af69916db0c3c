#!/usr/bin/env python3
"""End-to-end tests of maxmedian-one-case-per-line, the converter that the README's recipes use:
what only its process shows (exit statuses, messages, memory). Its grammar and answers are
checked against maxmedian's in convert_test.cpp. Usage: tools_test.py SOURCE_DIR GROUP
COMMAND... (see e2e.py)."""
import os, subprocess, sys, unittest

import e2e
from e2e import CONVERTER

NAME = b"maxmedian-one-case-per-line: "


def convert(data, **kwargs):
    return subprocess.run(CONVERTER, input=data, capture_output=True, timeout=120, **kwargs)


class Converter(unittest.TestCase):
    def test_malformed_input_is_reported_as_maxmedian_does(self):
        p = convert(b"1 1 5 7 3\n1 1 5\n7 1.5\n")
        self.assertEqual((p.returncode, p.stdout), (1, b"1 1 5 7 3\n"))
        self.assertEqual(p.stderr, NAME + b'<stdin>:3:3: expected an integer for the cost of '
                         b'record 1 of case 2, found "1.5"\n')

    def test_failed_writes(self):
        with open("/dev/full", "wb") as full:
            p = subprocess.run(CONVERTER, input=b"1 1 5 7 3\n", stdout=full,
                               stderr=subprocess.PIPE, timeout=60)
        self.assertEqual((p.returncode, p.stderr),
                         (2, NAME + b"<stdout>: write error: No space left on device\n"))
        p = subprocess.run(CONVERTER, input=b"1 1 5 7 3\n", stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, timeout=60, close_fds=True,
                           preexec_fn=lambda: os.close(1))
        self.assertEqual((p.returncode, p.stderr),
                         (2, NAME + b"<stdout>: write error: Bad file descriptor\n"))
        # A reader that has what it wants and closes the pipe ends the converter quietly.
        p = subprocess.run(["bash", "-c", '"$@" | head -c 50 >/dev/null; '
                            'echo "${PIPESTATUS[0]}" >&2', "-"] + CONVERTER,
                           input=b"1 1 5 7 3\n" * 300000, capture_output=True, timeout=120)
        self.assertIn(p.stderr, (b"141\n", b"2\n"))  # SIGPIPE, or EPIPE where it is ignored

    @unittest.skipIf(e2e.SANITIZED or e2e.EMULATED, "the sanitizers and the emulator need memory")
    def test_one_large_case_in_constant_memory(self):
        # Ten million records streamed through an 8 MiB address space.
        records = "yes -- ' -2147483648 2147483647' | head -n 10000000"
        script = (f'{{ echo 1 10000000 5; {records}; }} | (ulimit -v 8192; exec "$@") | md5sum; '
                  f"{{ printf '1 10000000 5'; {records} | tr -d '\\n'; echo; }} | md5sum")
        p = subprocess.run(["bash", "-c", script, "-"] + CONVERTER, capture_output=True,
                           timeout=120)
        converted, want = p.stdout.splitlines()
        self.assertEqual((p.returncode, converted, p.stderr), (0, want, b""))


if __name__ == "__main__":
    e2e.main(sys.modules[__name__])
