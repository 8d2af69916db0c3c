#!/usr/bin/env python3
"""End-to-end tests of the built maxmedian binary: what only the process shows (exit status,
standard output against standard error, streaming through pipes, failing reads and writes).
Usage: cli_test.py BINARY SOURCE_DIR"""
import os, resource, subprocess, sys, unittest

BINARY, SOURCE_DIR = sys.argv[1], sys.argv[2]
WORKED = b"3 5 70\n30 25\n50 21\n20 20\n5 18\n35 30\n"


def run(stdin_bytes, **kwargs):
    return subprocess.run([BINARY], input=stdin_bytes, capture_output=True, timeout=60, **kwargs)


class WellFormed(unittest.TestCase):
    def test_worked_case(self):
        p = run(WORKED)
        self.assertEqual((p.returncode, p.stdout, p.stderr), (0, b"35\n", b""))

    def test_shipped_example(self):
        with open(os.path.join(SOURCE_DIR, "examples", "worked.txt"), "rb") as f:
            p = subprocess.run([BINARY], stdin=f, capture_output=True, timeout=60)
        self.assertEqual((p.returncode, p.stdout, p.stderr), (0, b"35\n30\n-1\n", b""))

    def test_empty_and_blank_input(self):
        for data in (b"", b" \n\t\r\n\v\f"):
            p = run(data)
            self.assertEqual((p.returncode, p.stdout, p.stderr), (0, b"", b""), data)

    def test_second_case_shorter(self):
        p = run(WORKED + b"1 2 20\n7 21\n6 20\n")
        self.assertEqual((p.returncode, p.stdout), (0, b"35\n6\n"))

    def test_all_white_space_signs_and_leading_zeros(self):
        p = run(b"\v+03\t0005\r\n070\f30 25\n+50 21\n20 0020\n-0 18\n35 30   ")
        self.assertEqual((p.returncode, p.stdout, p.stderr), (0, b"35\n", b""))

    def test_arguments_are_ignored(self):
        p = subprocess.run([BINARY, "--help", "x"], input=WORKED, capture_output=True, timeout=60)
        self.assertEqual((p.returncode, p.stdout), (0, b"35\n"))


class BadInput(unittest.TestCase):
    def check(self, data, stdout, where):
        p = run(data)
        self.assertEqual(p.returncode, 1, p.stderr)
        self.assertEqual(p.stdout, stdout)
        self.assertTrue(p.stderr.startswith(b"maxmedian: <stdin>:" + where + b": "), p.stderr)
        self.assertEqual(p.stderr.count(b"\n"), 1, p.stderr)

    def test_answers_before_the_fault_come_first(self):
        self.check(WORKED + b"1 1 5\n7 x\n", b"35\n", b"8:3")

    def test_cut_short(self):
        self.check(WORKED + b"3 5", b"35\n", b"7:4")
        self.check(WORKED + b"3 5 70\n1 2\n3", b"35\n", b"9:2")

    def test_negative_count(self):
        self.check(b"1 -1 5\n", b"", b"1:3")

    def test_huge_claim_ends_quickly_in_little_memory(self):
        p = run(b"3 2000000000 5 1 1 2 2 3 3")
        self.assertEqual(p.returncode, 1)
        self.assertIn(b"found 3 of its 2000000000 records", p.stderr)
        if not os.environ.get("MAXMEDIAN_SKIP_MEMORY_CHECK"):
            # A fresh interpreter whose only child is the program: its children's peak is ours.
            probe = ("import resource, subprocess, sys\n"
                     "subprocess.run([sys.argv[1]], input=b'3 2000000000 5 1 1 2 2 3 3',"
                     " capture_output=True)\n"
                     "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
            peak_kib = int(subprocess.run([sys.executable, "-c", probe, BINARY],
                                          capture_output=True, timeout=60).stdout)
            self.assertLess(peak_kib, 16 * 1024)

    def test_negative_count(self):
        self.check(b"1 -1 5\n", b"", b"1:3")

    def test_huge_claim_ends_quickly_in_little_memory(self):
        p = subprocess.Popen([BINARY], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE)
        _, stderr = p.communicate(b"3 2000000000 5 1 1 2 2 3 3", timeout=60)
        _, status, usage = os.wait4(p.pid, 0) if p.returncode is None else (0, 0, None)
        self.assertEqual(p.returncode, 1)
        self.assertIn(b"found 3 of its 2000000000 records", stderr)


    @unittest.skipIf(os.environ.get("MAXMEDIAN_SKIP_MEMORY_CHECK"), "sanitizers reserve memory")
    def test_out_of_memory_is_an_error_after_the_answers(self):
        def limit():  # room for the program, not for three tables of 3,000,000 records
            resource.setrlimit(resource.RLIMIT_AS, (48 << 20, 48 << 20))
        p = run(WORKED + b"1 3000000 5\n" + b"7 3\n" * 3000000, preexec_fn=limit)
        self.assertEqual((p.returncode, p.stdout), (2, b"35\n"))
        self.assertEqual(p.stderr, b"maxmedian: case 2: out of memory\n")


class Streams(unittest.TestCase):
    def test_answer_arrives_while_the_pipe_is_open(self):
        p = subprocess.Popen([BINARY], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        try:
            p.stdin.write(WORKED)
            p.stdin.flush()
            self.assertEqual(p.stdout.readline(), b"35\n")  # blocks forever if the answer waits
            p.stdin.write(b"1 1 5 9 5\n")
            p.stdin.flush()
            self.assertEqual(p.stdout.readline(), b"9\n")
            p.stdin.close()
            self.assertEqual(p.wait(timeout=60), 0)
        finally:
            p.kill()
            p.wait()
            for f in (p.stdout, p.stderr):
                f.close()

    def test_full_disk_is_an_error(self):
        with open("/dev/full", "wb") as full:
            p = subprocess.run([BINARY], input=WORKED, stdout=full, stderr=subprocess.PIPE,
                               timeout=60)
        self.assertEqual(p.returncode, 2)
        self.assertEqual(p.stderr, b"maxmedian: <stdout>: write error: No space left on device\n")

    def test_directory_as_input_is_an_error(self):
        fd = os.open(SOURCE_DIR, os.O_RDONLY)
        try:
            p = subprocess.run([BINARY], stdin=fd, capture_output=True, timeout=60)
        finally:
            os.close(fd)
        self.assertEqual(p.returncode, 2)
        self.assertEqual(p.stderr, b"maxmedian: <stdin>: read error: Is a directory\n")

    def test_reader_closing_early_ends_quietly(self):
        data = b"1 1 5 9 5\n" * 300000
        p = subprocess.Popen([BINARY], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        p.stdin.write(b"1 1 5 9 5\n")
        p.stdin.flush()
        self.assertEqual(p.stdout.readline(), b"9\n")
        p.stdout.close()
        try:
            p.stdin.write(data)
            p.stdin.close()
        except BrokenPipeError:
            pass
        self.assertEqual(p.stderr.read(), b"")
        p.stderr.close()
        self.assertIn(p.wait(timeout=60), (-13, 2))  # SIGPIPE, or EPIPE where it is ignored


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
