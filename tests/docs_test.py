#!/usr/bin/env python3
"""Runs what README.md and the manual page show: every example of a command and its output, the
Quick start's answers, and the recipes of "Using every core", with the built program as
`maxmedian`. Usage: docs_test.py SOURCE_DIR GROUP COMMAND... (see e2e.py)."""
import os, pwd, random, re, shlex, shutil, socket, stat, subprocess, sys, tempfile, time
import unittest

import e2e
from e2e import COMMAND, CONVERTER, SOURCE_DIR


def read(name):
    with open(os.path.join(SOURCE_DIR, name), encoding="utf-8") as f:
        return f.read()


def section(markdown, title):
    """The text of the README section headed `## title`."""
    match = re.search(rf"^## {re.escape(title)}\n(.*?)(?=^## |\Z)", markdown, re.S | re.M)
    assert match, f"no section {title!r}"
    return match.group(1)


def fenced_blocks(markdown):
    """(info string, text) of every fenced code block, in order."""
    return re.findall(r"^```(\w*)\n(.*?)^```$", markdown, re.S | re.M)


def man_examples(roff):
    """The text of every no-fill block of the manual page, requests dropped, escapes undone."""
    blocks = re.findall(r"^\.nf\n(.*?)^\.fi$", roff, re.S | re.M)
    unescape = lambda line: line.replace("\\-", "-").replace("\\e", "\\")  # noqa: E731
    return ["".join(unescape(l) + "\n" for l in b.splitlines() if not l.startswith("."))
            for b in blocks]


def sessions(blocks):
    """The blocks that show a shell session: commands after "$ ", the rest their output."""
    return [b for b in blocks if b.startswith("$ ")]


class Shell:
    """A scratch directory with `maxmedian` and the converter, by its installed name, on the PATH,
    for running documented commands."""

    def __init__(self):
        self.dir = tempfile.mkdtemp()
        bin_dir = os.path.join(self.dir, ".bin")
        os.mkdir(bin_dir)
        for name, command in (("maxmedian", COMMAND), ("maxmedian-one-case-per-line", CONVERTER)):
            wrapper = os.path.join(bin_dir, name)
            with open(wrapper, "w") as f:
                f.write("#!/bin/sh\nexec " + " ".join(map(shlex.quote, command)) + ' "$@"\n')
            os.chmod(wrapper, os.stat(wrapper).st_mode | stat.S_IXUSR)
        self.env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"])

    def run(self, script, cwd=None, **env):
        """Runs `script` with bash; returns its status, and its standard output and standard error
        as they interleave on a terminal."""
        done = subprocess.run(["bash", "-c", script], cwd=cwd or self.dir, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, env=dict(self.env, **env), timeout=300)
        return done.returncode, done.stdout.decode()

    def close(self):
        shutil.rmtree(self.dir)


class Examples(unittest.TestCase):
    def setUp(self):
        self.shell = Shell()
        self.addCleanup(self.shell.close)

    def check_session(self, block):
        commands = [l[2:] for l in block.splitlines() if l.startswith("$ ")]
        shown = "".join(l + "\n" for l in block.splitlines() if not l.startswith("$ "))
        _, output = self.shell.run("\n".join(commands))
        self.assertEqual(output, shown, block)

    def test_readme_sessions(self):
        blocks = sessions(text for _, text in fenced_blocks(read("README.md")))
        self.assertGreaterEqual(len(blocks), 3)  # the worked case, an error, a case with no choice
        for block in blocks:
            self.check_session(block)

    def test_manual_page_sessions(self):
        blocks = sessions(man_examples(read("man/maxmedian.1.in")))
        self.assertGreaterEqual(len(blocks), 4)
        for block in blocks:
            self.check_session(block)

    def test_manual_page_carries_the_recipes(self):
        # The converter's manual page has the README's recipes word for word, which run below.
        shown = man_examples(read("man/maxmedian-one-case-per-line.1.in"))
        self.assertEqual(shown, recipes())

    @unittest.skipIf(e2e.EMULATED, "the installed program would need the emulator")
    def test_install_as_written(self):
        # The README's install command, from the build directory of the program under test into
        # a scratch home; the installed program and converter then answer the example.
        home = os.path.join(self.shell.dir, "home")
        installed = install_as_written(self.shell, home)
        example = os.path.join(SOURCE_DIR, "examples", "worked.txt")
        status, output = self.shell.run(
            f"PATH={installed}/bin:/usr/bin:/bin; command -v maxmedian maxmedian-one-case-per-line"
            f" && maxmedian < {example} && maxmedian-one-case-per-line < {example} | maxmedian")
        answers = read("examples/worked.out")
        self.assertEqual((status, output), (0, f"{installed}/bin/maxmedian\n"
                         f"{installed}/bin/maxmedian-one-case-per-line\n" + answers + answers))
        for page in ("maxmedian.1.gz", "maxmedian-one-case-per-line.1.gz"):
            self.assertTrue(os.path.exists(os.path.join(installed, "share", "man", "man1", page)))
        # The uninstall command removes every file that the install put there.
        block = next(text for _, text in fenced_blocks(section(read("README.md"), "Install"))
                     if "install_manifest" in text)
        status, output = self.shell.run(block.replace("build/release", shlex.quote(
            os.path.dirname(COMMAND[-1]))), cwd=SOURCE_DIR, HOME=home)
        self.assertEqual(status, 0, output)
        left = [os.path.join(d, f) for d, _, files in os.walk(installed) for f in files]
        self.assertEqual(left, [])

    def test_quick_start_answers(self):
        # The first block builds the program and runs it on an example; the block after it shows
        # the answers. Here the program is the one under test.
        blocks = fenced_blocks(section(read("README.md"), "Quick start"))
        build, shown = blocks[0][1], blocks[1][1]
        run_example = build.strip().split("&&")[-1].strip()
        program = re.match(r"\S*maxmedian(?=\s)", run_example)
        self.assertIsNotNone(program, run_example)
        status, output = self.shell.run("maxmedian" + run_example[program.end():], cwd=SOURCE_DIR)
        self.assertEqual((status, output), (0, shown))


def install_as_written(shell, home):
    """Runs the README's install command with HOME set to `home`, from the build directory of the
    program under test. Returns the prefix it installed under."""
    block = next(text for _, text in fenced_blocks(section(read("README.md"), "Install"))
                 if "cmake --install" in text)
    build_dir = os.path.dirname(os.path.abspath(COMMAND[-1]))
    status, output = shell.run(block.replace("build/release", shlex.quote(build_dir)),
                               cwd=SOURCE_DIR, HOME=home)
    assert status == 0, output
    return os.path.join(home, ".local")


def recipes():
    """The sh blocks of the README's "Using every core", in order."""
    return [text for kind, text in fenced_blocks(section(read("README.md"), "Using every core"))
            if kind == "sh"]


def case_files(shell):
    """Random cases across many lines, with every kind of white space, as cases.txt in the
    shell's directory. Returns the direct answers."""
    rand = random.Random(11)
    cases = []
    for _ in range(400):
        numbers = e2e.random_case(rand, 12, 300, 50)
        cases.append(f"{numbers[0]}\t{numbers[1]} {numbers[2]}\r\n" + "".join(
            f"{numbers[i]} {numbers[i + 1]}\n" for i in range(3, len(numbers), 2)))
    with open(os.path.join(shell.dir, "cases.txt"), "w") as f:
        f.write("".join(cases))
    status, want = shell.run("maxmedian < cases.txt")
    assert (status, want.count("\n")) == (0, 400), (status, want)
    return want


class LoopbackSsh:
    """An sshd of its own on the loopback, with throw-away keys, whose sessions get nothing on
    their PATH beyond sshd's default: only HOME is set, to `home`, so that the user's own start-up
    files play no part and what the test installs stays out of the real home. Sessions start in
    the user's real home directory, `self.home`. `ssh` is the client command and `host` the name
    to give it. Raises unittest.SkipTest when sshd cannot start."""

    def __init__(self, home):
        sshd, ssh = shutil.which("sshd") or "/usr/sbin/sshd", shutil.which("ssh")
        if not (os.path.exists(sshd) and ssh and shutil.which("ssh-keygen")):
            raise unittest.SkipTest("no sshd or ssh (Debian: openssh-server, openssh-client)")
        self.dir = tempfile.mkdtemp()
        key = lambda name: os.path.join(self.dir, name)  # noqa: E731
        for name in ("host", "user"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key(name)],
                           check=True)
        shutil.copy(key("user.pub"), key("authorized_keys"))
        with socket.socket() as probe:  # a free port, most likely still free a moment later
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        with open(key("sshd_config"), "w") as f:
            f.write(f"ListenAddress 127.0.0.1\nPort {port}\nHostKey {key('host')}\n"
                    f"AuthorizedKeysFile {key('authorized_keys')}\nPidFile none\n"
                    "PasswordAuthentication no\nKbdInteractiveAuthentication no\nUsePAM no\n"
                    "StrictModes no\nPermitRootLogin prohibit-password\n"
                    f"SetEnv HOME={home}\n")
        with open(key("ssh_config"), "w") as f:
            f.write(f"Host maxmedian-test\n HostName 127.0.0.1\n Port {port}\n"
                    f" User {pwd.getpwuid(os.getuid()).pw_name}\n IdentityFile {key('user')}\n"
                    " IdentitiesOnly yes\n StrictHostKeyChecking no\n"
                    " UserKnownHostsFile /dev/null\n LogLevel ERROR\n BatchMode yes\n")
        self.ssh, self.host = f"{ssh} -F {key('ssh_config')}", "maxmedian-test"
        self.home = pwd.getpwuid(os.getuid()).pw_dir
        if os.getuid() == 0:
            os.makedirs("/run/sshd", exist_ok=True)  # sshd's privilege separation directory
        with open(key("sshd.log"), "wb") as log:  # a file: a pipe nobody reads could fill
            self.server = subprocess.Popen([sshd, "-D", "-e", "-f", key("sshd_config")],
                                           stderr=log)
        for _ in range(100):
            if self.server.poll() is not None:
                self.close()
                raise unittest.SkipTest("sshd did not start: " + self.log())
            if subprocess.run(self.ssh.split() + [self.host, "true"],
                              capture_output=True).returncode == 0:
                return
            time.sleep(0.1)
        self.close()
        raise unittest.SkipTest("sshd did not answer")

    def run(self, command):
        """Runs `command` in a session; returns its status and output."""
        p = subprocess.run(self.ssh.split() + [self.host, command], capture_output=True, timeout=60)
        return p.returncode, p.stdout.decode() + p.stderr.decode()

    def log(self):
        with open(os.path.join(self.dir, "sshd.log"), errors="replace") as log:
            return log.read()

    def close(self):
        if self.server.poll() is None:
            self.server.terminate()
            self.server.wait()
        shutil.rmtree(self.dir)


@unittest.skipUnless(shutil.which("parallel"), "GNU parallel is not installed")
class Recipes(unittest.TestCase):
    def run_recipes(self, shell, want, **env):
        """Runs the recipes in order in the shell's directory; those that print must print the
        answers `want`, in order. Returns how many printed."""
        answered = 0
        for recipe in recipes():
            status, output = shell.run(f"set -e\n{recipe}", PARALLEL="--will-cite", **env)
            self.assertEqual(status, 0, (recipe, output))
            # parallel's warnings about a remote-only option run on this machine are dropped.
            output = "".join(l + "\n" for l in output.splitlines()
                             if not l.startswith("parallel: Warning:"))
            if output:
                self.assertEqual(output, want, recipe)
                answered += 1
        return answered

    def test_using_every_core(self):
        # Top to bottom, on cases of one's own and in an empty directory on the sample cases;
        # ":" runs the recipes for other machines on this one.
        shell = Shell()
        self.addCleanup(shell.close)
        want = case_files(shell)
        self.assertGreaterEqual(self.run_recipes(shell, want, HOSTS=":"), 4)
        self.assertEqual(len(os.listdir(os.path.join(shell.dir, "parts"))), 8)
        fresh = Shell()
        self.addCleanup(fresh.close)
        status, output = fresh.run(recipes()[0] + "\nmaxmedian < cases.txt")
        self.assertEqual((status, output.count("\n")), (0, 1000), output)
        self.assertGreaterEqual(self.run_recipes(fresh, output, HOSTS=":"), 4)

    @unittest.skipIf(e2e.EMULATED, "the installed program would need the emulator")
    def test_machines_over_ssh(self):
        # The recipes against an sshd on this machine, with maxmedian installed as the README says
        # in a home whose bin directory no session has on its PATH: the form that sends the cases
        # through the connection, and the form for a shared file system.
        shell = Shell()
        self.addCleanup(shell.close)
        want = case_files(shell)
        home = os.path.join(shell.dir, "home")
        install_as_written(shell, home)
        server = LoopbackSsh(home)
        self.addCleanup(server.close)
        status, output = server.run("command -v maxmedian")
        self.assertNotEqual(status, 0, "maxmedian is on a session's PATH already: " + output)
        # Nothing is to be left on the other machine: parallel's working directories are gone.
        job_dirs = os.path.join(server.home, ".parallel", "tmp")
        listing = lambda: set(os.listdir(job_dirs)) if os.path.isdir(job_dirs) else set()  # noqa
        before = listing()
        try:
            answered = self.run_recipes(shell, want, HOSTS=server.host, PARALLEL_SSH=server.ssh)
        except AssertionError as failure:
            raise AssertionError(f"{failure}\nsshd's log:\n{server.log()}") from None
        self.assertGreaterEqual(answered, 4)
        self.assertEqual(listing() - before, set(), "parallel left files on the other machine")


if __name__ == "__main__":
    e2e.main(sys.modules[__name__])
