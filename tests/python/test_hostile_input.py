# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""What careless or hostile Python callers may pass must end in a verdict or
a TypeError, never in a crash, a stray file or a message on the terminal."""

import os
import signal
import stat
import subprocess
import sys
import tempfile
import textwrap
import unittest

from orvelupdatechecks import UpdateValidatorAptArgs

from aptworld import AptWorld


class HostileArgumentsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.world = AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"])])
        cls.world.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.world.__exit__(None, None, None)

    def test_argument_of_a_million_characters_is_refused_not_run(self):
        # Too long for any program's command line: the hotfix query cannot
        # run, so the update is refused rather than passed unexamined.
        checker = UpdateValidatorAptArgs(["-o", "Debug::X=" + "a" * 1000000])
        self.assertIs(checker.validate(), False)
        self.assertEqual(checker.get_invalid_sources(), [])

    def test_thousands_of_arguments(self):
        checker = UpdateValidatorAptArgs(["-oDebug::Orvel%d=1" % i for i in range(3000)])
        self.assertIs(checker.validate(), True)

    def test_bytes_that_are_not_utf8(self):
        checker = UpdateValidatorAptArgs([b"-o", b"Debug::\xff\xfe=\xc3("])
        self.assertIn(checker.validate(), (True, False))
        self.assertIsInstance(checker.get_invalid_sources(), list)


class MisuseTest(unittest.TestCase):
    def test_methods_of_an_instance_whose_init_never_ran_raise_type_error(self):
        checker = UpdateValidatorAptArgs.__new__(UpdateValidatorAptArgs)
        for call in (checker.validate, checker.get_invalid_sources, lambda: checker.initLogger("/dev/null", 0)):
            with self.assertRaises(TypeError):
                call()

    def test_caller_that_ignores_sigchld_gets_the_same_answer(self):
        # A common idiom of daemons: the kernel then reaps their children.
        with AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"]), ("next", "1.8.0", ["1.0+v1.8.0"])]) as world:
            previous = signal.signal(signal.SIGCHLD, signal.SIG_IGN)
            try:
                checker = UpdateValidatorAptArgs([])
                verdict = checker.validate()
            finally:
                signal.signal(signal.SIGCHLD, previous)
            self.assertIs(verdict, False)
            self.assertEqual(checker.get_invalid_sources(), [world.url("next")])


class UnusableLogPathTest(unittest.TestCase):
    """Run in a child interpreter, so that its standard output and error can
    be seen to stay empty."""

    def run_child(self, script):
        env = dict(os.environ)
        result = subprocess.run([sys.executable, "-c", textwrap.dedent(script)], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        return result

    def test_missing_directory_read_only_file_and_directory(self):
        with AptWorld("1.7.2", [("next", "1.8.0", ["1.0+v1.8.0"])]), \
                tempfile.TemporaryDirectory() as tmp:
            read_only = os.path.join(tmp, "read-only.log")
            open(read_only, "w").close()
            os.chmod(read_only, stat.S_IRUSR)
            directory = os.path.join(tmp, "a-directory")
            os.mkdir(directory)
            paths = [os.path.join(tmp, "missing", "dir", "x.log"), read_only, directory, ""]
            before = sorted(os.listdir(tmp))
            cwd_before = sorted(os.listdir(os.getcwd()))

            result = self.run_child("""
                from orvelupdatechecks import UpdateValidatorAptArgs
                for path in %r:
                    checker = UpdateValidatorAptArgs([])
                    checker.initLogger(path, 0)
                    assert checker.validate() is False
                """ % (paths,))
            self.assertEqual((result.stdout, result.stderr), (b"", b""))
            self.assertEqual(sorted(os.listdir(tmp)), before)
            self.assertEqual(os.listdir(directory), [])
            self.assertEqual(sorted(os.listdir(os.getcwd())), cwd_before)
            if os.geteuid() != 0:  # root may write a read-only file
                self.assertEqual(os.path.getsize(read_only), 0)


if __name__ == "__main__":
    unittest.main()
