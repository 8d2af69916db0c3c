"""What the end-to-end tests share: the command that runs the built program, and a main that runs
one group of tests (a TestCase class) and tells CTest when the whole group was skipped.

A test script is run as: SCRIPT SOURCE_DIR GROUP COMMAND..., where COMMAND is the built binary,
after an emulator such as qemu-aarch64 when the binary is for another architecture. A relative
COMMAND is taken from the current directory."""
import os
import subprocess
import sys
import unittest

SKIPPED = 77  # the exit status CTest is told means "skipped"
SOURCE_DIR = os.path.abspath(sys.argv[1]) if len(sys.argv) > 3 else ""
GROUP = sys.argv[2] if len(sys.argv) > 3 else ""
COMMAND = sys.argv[3:]
if COMMAND and os.sep in COMMAND[-1]:  # a path from here, good from any directory
    COMMAND[-1] = os.path.abspath(COMMAND[-1])
EMULATED = len(COMMAND) > 1  # the binary runs under an emulator
# The converter to one case per line, built beside the program.
CONVERTER = COMMAND[:-1] + [os.path.join(os.path.dirname(COMMAND[-1]),
                                         "maxmedian-one-case-per-line")] if COMMAND else []
SANITIZED = bool(os.environ.get("MAXMEDIAN_SANITIZED"))  # built with the sanitizers


def run(stdin_bytes, args=(), **kwargs):
    """Runs the program on `stdin_bytes`; returns the CompletedProcess, output captured."""
    return subprocess.run(COMMAND + list(args), input=stdin_bytes, capture_output=True,
                          timeout=120, **kwargs)


def random_case(rand, max_records, max_budget, max_number):
    """The numbers of a random case: N from -1 (no choice) to 2C + 1 (more than C records), C up
    to `max_records`, a budget from -10 to `max_budget`, values and costs within `max_number`."""
    C = rand.randint(0, max_records)
    numbers = [rand.randint(-1, 2 * C + 1), C, rand.randint(-10, max_budget)]
    return numbers + [rand.randint(-max_number, max_number) for _ in range(2 * C)]


def preload_env(library):
    """The environment that preloads `library` into the program, under an emulator too."""
    env = dict(os.environ)
    if EMULATED:
        env["QEMU_SET_ENV"] = "LD_PRELOAD=" + library
    else:
        env["LD_PRELOAD"] = library
    return env


def main(module):
    """Runs the TestCase class named GROUP of `module`. Exits 0 when its tests pass, 1 when one
    fails, and SKIPPED when every one of them was skipped, with the reasons printed."""
    if len(sys.argv) < 4:
        sys.exit(f"usage: {sys.argv[0]} SOURCE_DIR GROUP COMMAND...")
    # tests/CMakeLists.txt makes a CTest entry of each class that derives from unittest.TestCase
    # directly; one that does not would never run.
    for name, value in vars(module).items():
        if (isinstance(value, type) and issubclass(value, unittest.TestCase)
                and value.__bases__ != (unittest.TestCase,)):
            sys.exit(f"{name}: derive test classes from unittest.TestCase directly, or CTest "
                     "will not find them")
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(getattr(module, GROUP))
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        sys.exit(1)
    if result.testsRun > 0 and len(result.skipped) == result.testsRun:
        for test, reason in result.skipped:
            print(f"skipped {test.id()}: {reason}")
        sys.exit(SKIPPED)
