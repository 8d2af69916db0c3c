#!/usr/bin/env python3
"""End-to-end tests of the built maxmedian binary: what only the process shows (exit status,
standard output against standard error, streaming through pipes, failing reads and writes, memory
limits). Usage: cli_test.py SOURCE_DIR GROUP COMMAND... (see e2e.py); GROUP is a class below."""
import array, fcntl, os, random, resource, shutil, subprocess, sys, tempfile, termios, time, unittest

import e2e
from e2e import COMMAND, SOURCE_DIR, run

WORKED = b"3 5 70\n30 25\n50 21\n20 20\n5 18\n35 30\n"
# Why the limits on the program's memory cannot be checked, if they cannot.
NO_LIMITS = ("the sanitizers reserve memory" if e2e.SANITIZED else
             "the emulator needs memory of its own" if e2e.EMULATED else None)


def peak_kib(stdin_bytes):
    """Peak resident KiB of one run, by GNU time: a child of this interpreter would inherit its
    size as the high-water mark."""
    p = subprocess.run(["/usr/bin/time", "-f", "%M"] + COMMAND, input=stdin_bytes,
                       capture_output=True, timeout=60)
    return int(p.stderr.split()[-1])


class WellFormed(unittest.TestCase):
    def test_worked_case(self):
        p = run(WORKED)
        self.assertEqual((p.returncode, p.stdout, p.stderr), (0, b"35\n", b""))

    def test_shipped_example(self):
        examples = os.path.join(SOURCE_DIR, "examples")
        with open(os.path.join(examples, "worked.txt"), "rb") as f:
            p = subprocess.run(COMMAND, stdin=f, capture_output=True, timeout=60)
        with open(os.path.join(examples, "worked.out"), "rb") as f:
            self.assertEqual((p.returncode, p.stdout, p.stderr), (0, f.read(), b""))

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

    def test_arguments_are_ignored_with_a_notice(self):
        # The same answers and status as without them, and one line that names them and the
        # version; without arguments nothing is said (the tests above).
        for data, status, answers in ((WORKED, 0, b"35\n"), (WORKED + b"1", 1, b"35\n")):
            p = run(data, ["cases.txt", "--version"])
            self.assertEqual((p.returncode, p.stdout), (status, answers))
            notice = p.stderr.splitlines()[0]
            self.assertRegex(notice, rb'^maxmedian: ignoring arguments \(maxmedian [0-9.]+ reads '
                             rb'cases from standard input only\): "cases.txt" "--version"$')


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

    def test_huge_claim_is_cut_short(self):
        self.check(b"3 2000000000 5 1 1 2 2 3 3", b"", b"1:27")


@unittest.skipIf(NO_LIMITS or not os.path.exists("/usr/bin/time"),
                 NO_LIMITS or "GNU time (/usr/bin/time) is not installed")
class PeakMemory(unittest.TestCase):
    def test_huge_claim_costs_little_memory(self):
        # A claimed count may cost at most 1 MiB more than the honest one.
        claimed = peak_kib(b"3 2000000000 5 1 1 2 2 3 3")
        honest = peak_kib(b"3 3 5 1 1 2 2 3 3")
        self.assertLess(claimed, honest + 1024, (claimed, honest))


@unittest.skipIf(NO_LIMITS, NO_LIMITS)
class MemoryLimits(unittest.TestCase):
    def test_out_of_memory_is_an_error_after_the_answers(self):
        def limit():  # room for the program, not for three tables of 3,000,000 records
            resource.setrlimit(resource.RLIMIT_AS, (48 << 20, 48 << 20))
        p = run(WORKED + b"3 3000000 100\n" + b"7 3\n" * 3000000, preexec_fn=limit)
        self.assertEqual((p.returncode, p.stdout), (2, b"35\n"))
        self.assertEqual(p.stderr, b"maxmedian: case 2: out of memory\n")

    def test_every_address_space_limit_ends_cleanly(self):
        # From too little to load the program up to enough: each run answers, or reports running
        # out of memory with status 2; it never aborts.
        outcomes = set()
        for kib in range(1000, 9000, 40):
            def limit(kib=kib):
                resource.setrlimit(resource.RLIMIT_AS, (kib << 10, kib << 10))
            p = run(b"1 1 5 7 3\n", preexec_fn=limit)
            # The dynamic loader fails before the program runs, in one of two ways.
            loader = (b"error while loading shared libraries", b"cannot allocate TLS data")
            if p.returncode == 127 and any(message in p.stderr for message in loader):
                outcomes.add("not loaded")
            elif p.returncode == 2:
                self.assertEqual((p.stdout, p.stderr), (b"", b"maxmedian: out of memory\n"), kib)
                outcomes.add("out of memory")
            else:
                self.assertEqual((p.returncode, p.stdout, p.stderr), (0, b"7\n", b""), kib)
                outcomes.add("answered")
        self.assertIn("answered", outcomes)


class Streams(unittest.TestCase):
    def test_answer_arrives_while_the_pipe_is_open(self):
        p = subprocess.Popen(COMMAND, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
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

    def test_non_blocking_input_waits_for_a_slow_writer(self):
        read_end, write_end = os.pipe()
        os.set_blocking(read_end, False)
        p = subprocess.Popen(COMMAND, stdin=read_end, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        os.close(read_end)
        for piece in (WORKED, b"1 1 5 ", b"9 5\n"):
            time.sleep(0.2)  # the program finds the pipe empty and must wait, not fail
            os.write(write_end, piece)
        os.close(write_end)
        out, err = p.communicate(timeout=60)
        self.assertEqual((p.returncode, out, err), (0, b"35\n9\n", b""))

    def test_non_blocking_output_waits_for_a_late_reader(self):
        read_end, write_end = os.pipe()
        os.set_blocking(write_end, False)
        with tempfile.TemporaryFile() as cases:
            cases.write(b"1 1 5 9 5\n" * 200000)  # far more answers than the pipe holds
            cases.seek(0)
            p = subprocess.Popen(COMMAND, stdin=cases, stdout=write_end, stderr=subprocess.PIPE)
        os.close(write_end)
        time.sleep(0.3)  # the pipe fills; the program must wait, not fail
        with os.fdopen(read_end, "rb") as answers:
            self.assertEqual(answers.read(), b"9\n" * 200000)
        self.assertEqual((p.wait(timeout=60), p.stderr.read()), (0, b""))
        p.stderr.close()

    def test_input_file_cut_while_read_is_an_error(self):
        # A large file may be read in place; cut shorter while the program waits for room to
        # write, the bytes gone are a read error after every answer before them, not a crash.
        # Where mapping costs more than reading and the file is read, it just ends sooner.
        read_end, write_end = os.pipe()
        with tempfile.TemporaryFile() as cases:
            cases.write(b"1 1 5 9 5\n" * 400000)
            cases.seek(0)
            p = subprocess.Popen(COMMAND, stdin=cases, stdout=write_end, stderr=subprocess.PIPE)
            os.close(write_end)
            # Answers in the pipe: the program has started on the file. Until they are read, it
            # cannot pass 1.6 MB of it, where the pipe and its own buffer hold all they can.
            waiting = array.array("i", [0])
            while waiting[0] == 0 and p.poll() is None:
                time.sleep(0.01)
                fcntl.ioctl(read_end, termios.FIONREAD, waiting)
            os.ftruncate(cases.fileno(), 2000005)  # 200,000 cases and "1 1 5" of the next
            with os.fdopen(read_end, "rb") as answers:
                out = answers.read()
        self.assertIn((p.wait(timeout=60), out, p.stderr.read()), [
            (2, b"9\n" * 200000,
             b"maxmedian: <stdin>: read error: the file shrank while it was being read\n"),
            (1, b"9\n" * 200000,
             b"maxmedian: <stdin>:200001:6: input ends inside case 200001:"
             b" found 0 of its 1 records\n")
        ])
        p.stderr.close()

    def test_write_that_reports_nothing_is_an_error(self):
        # A write(2) that returns 0 for a non-empty buffer: retrying it would never end.
        p = run(WORKED, env=e2e.preload_env(os.environ["MAXMEDIAN_WRITE_NOTHING"]))
        self.assertEqual(p.returncode, 2)
        self.assertEqual(p.stderr, b"maxmedian: <stdout>: write error: Input/output error\n")

    def test_full_disk_is_an_error(self):
        with open("/dev/full", "wb") as full:
            p = subprocess.run(COMMAND, input=WORKED, stdout=full, stderr=subprocess.PIPE,
                               timeout=60)
        self.assertEqual(p.returncode, 2)
        self.assertEqual(p.stderr, b"maxmedian: <stdout>: write error: No space left on device\n")

    def test_directory_as_input_is_an_error(self):
        fd = os.open(SOURCE_DIR, os.O_RDONLY)
        try:
            p = subprocess.run(COMMAND, stdin=fd, capture_output=True, timeout=60)
        finally:
            os.close(fd)
        self.assertEqual(p.returncode, 2)
        self.assertEqual(p.stderr, b"maxmedian: <stdin>: read error: Is a directory\n")

    def test_reader_closing_early_ends_quietly(self):
        data = b"1 1 5 9 5\n" * 300000
        p = subprocess.Popen(COMMAND, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
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


@unittest.skipUnless(shutil.which("parallel"), "GNU parallel is not installed")
class Parallel(unittest.TestCase):
    def test_answers_through_parallel_equal_direct_answers(self):
        rand = random.Random(7)
        lines = []
        for _ in range(3000):  # one case per line, so that parallel splits between cases
            lines.append(" ".join(map(str, e2e.random_case(rand, 30, 2000, 50))))
        cases = ("\n".join(lines) + "\n").encode()
        direct = run(cases)
        split = subprocess.run(["parallel", "--will-cite", "--pipe", "--keep-order", "-N", "400"]
                               + COMMAND, input=cases, capture_output=True, timeout=120)
        self.assertEqual((direct.returncode, split.returncode), (0, 0), split.stderr)
        self.assertEqual(direct.stdout.count(b"\n"), 3000)
        self.assertEqual(split.stdout, direct.stdout)


if __name__ == "__main__":
    e2e.main(sys.modules[__name__])
