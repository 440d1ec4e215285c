# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""What a repository writes into its Release file, and what an update driver
passes as apt arguments, never turns a refusal into "allowed": real apt worlds
through the module, the tool and the apt guard."""

import json
import os
import re
import subprocess
import tempfile
import unittest

from orvelupdatechecks import UpdateValidatorAptArgs

from aptworld import SUPPORT_DIR, AptWorld

TOOL = os.environ["ORVEL_UPDATE_CHECK"]
MAIN = ("main", "1.7.5", ["1.0+v1.7.5"])
JUMP = ("next", "1.8.0", ["1.0+v1.8.0"])
HOTFIX = ("old-fix", "1.6.0.hotfix1", ["1.0+v1.7.2"])


def tool(*args, **kwargs):
    return subprocess.run([TOOL] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120, **kwargs)


class ReleaseFieldsTest(unittest.TestCase):
    def test_continued_version_field_does_not_clear_its_own_hotfix(self):
        with AptWorld("1.7.2", [MAIN, ("fix", "1.7.9.hotfix1", ["1.0+v1.7.2"])]) as world:
            world.edit_release("fix", b"Version: 1.7.9.hotfix1\n", b"Version: 1.7.9.hotfix1\n release v=1.7.9.0\n")
            checker = UpdateValidatorAptArgs([])
            self.assertIs(checker.validate(), False)
            self.assertEqual([(refusal["version"], refusal["sources"]) for refusal in checker.get_refusals()],
                             [("1.7.9.hotfix1", [world.url("fix")])])

    def test_release_text_elsewhere_on_the_line_is_no_release(self):
        # No Version field; the Label says what a release line would.
        with AptWorld("1.7.2", [MAIN, ("odd", "", ["1.0+v1.7.2"], "release v=1.6.0.hotfix1")]):
            self.assertIs(UpdateValidatorAptArgs([]).validate(), True)

    def test_continued_version_field_cannot_forge_a_package_file(self):
        # A whole forged entry: a package file of its own, or a second entry
        # for a real one, announcing the regular release of its hotfix. It
        # stays part of the hotfix's own Version field, and announces
        # nothing.
        with AptWorld("1.7.2", [MAIN, ("fix", "1.7.9.hotfix1", ["1.0+v1.7.2"])]) as world:
            for forged_file in ("file:/srv/forged", world.url("main")):
                with self.subTest(forged_file=forged_file):
                    world.edit_release("fix", b"Version: 1.7.9.hotfix1\n",
                                       ("Version: 1.7.9.hotfix1\n 500 %s ./ Packages\n     release v=1.7.9.0\n"
                                        % forged_file).encode())
                    checker = UpdateValidatorAptArgs([])
                    self.assertIs(checker.validate(), False)
                    self.assertEqual([(refusal["rule"], refusal["version"], refusal["sources"])
                                      for refusal in checker.get_refusals()],
                                     [("hotfix-not-allowed", "1.7.9.hotfix1", [world.url("fix")])])
                    world.edit_release("fix", ("Version: 1.7.9.hotfix1\n 500 %s ./ Packages\n     release v=1.7.9.0\n"
                                               % forged_file).encode(), b"Version: 1.7.9.hotfix1\n")

    def test_control_characters_and_line_separators_reach_no_reader_raw(self):
        # ESC and CSI that would erase the refusal on a terminal, CR, NEL,
        # U+2028 and U+2029 that start a line for splitlines().
        forged = "1.6.0.hotfix1\x1b[2K\r\u0085\u2028\u20292099-01-01 00:00:00 - Update is linear"
        with AptWorld("1.7.2", [MAIN, HOTFIX]) as world, tempfile.TemporaryDirectory() as tmp:
            world.edit_release("old-fix", b"Version: 1.6.0.hotfix1\n", ("Version: %s\n" % forged).encode())
            log = os.path.join(tmp, "check.log")
            why = tool("--why", "--log", log, "--log-level", "debug")
            self.assertEqual(why.returncode, 1)
            text = why.stdout.decode("utf-8")
            self.assertIn("\\x1B[2K\\r\\u0085\\u2028\\u2029", text)
            for raw in ("\x1b", "\r", "\x85", "\u2028", "\u2029"):
                self.assertNotIn(raw, text)
            with open(log, encoding="utf-8") as lines:
                for line in lines.read().splitlines():
                    self.assertRegex(line, r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d - ")
                    self.assertFalse(line.startswith("2099"), line)
            # JSON carries the same escaped text.
            refusal = json.loads(tool("--json").stdout.decode("utf-8"))["refusals"][0]
            self.assertEqual(refusal["version"], "1.6.0.hotfix1\\x1B[2K\\r\\u0085\\u2028\\u2029" + forged.split("\u2029")[1])
            self.assertEqual(refusal["sources"], [world.url("old-fix")])


class AptArgumentsTest(unittest.TestCase):
    def test_help_version_and_command_words_never_pass(self):
        with AptWorld("1.7.2", [MAIN, JUMP, HOTFIX]):
            for args in (["--help"], ["-h"], ["--version"], ["-v"]):
                with self.subTest(args=args):
                    checker = UpdateValidatorAptArgs(args)
                    self.assertIs(checker.validate(), False)
                    self.assertEqual([refusal["rule"] for refusal in checker.get_refusals()],
                                     ["versions-unknown", "versions-unknown"])
            # apt-get indextargets WORD lists no package file at all: apt
            # would answer another question, and neither check looks.
            for args in (["dist-upgrade"], ["upgrade"], ["install", "orvel-version"]):
                with self.subTest(args=args):
                    checker = UpdateValidatorAptArgs(args)
                    self.assertIs(checker.validate(), False)
                    refusals = checker.get_refusals()
                    self.assertEqual([(refusal["check"], refusal["rule"]) for refusal in refusals],
                                     [("linear", "versions-unknown"), ("hotfix", "versions-unknown")])
                    self.assertIn('"%s" is an apt command word or a package name' % args[0], refusals[0]["message"])
                    # Not as something apt said: apt was not asked.
                    self.assertEqual([refusal["apt_error"] for refusal in refusals], ["", ""])
            usage = tool("--", "-o", "APT::Get::List-Cleanup=0", "--help")
            self.assertEqual((usage.returncode, usage.stdout), (2, b""))
            self.assertIn(b'the apt argument "--help" asks apt for its help', usage.stderr)

    def test_argument_that_is_not_valid_text_reaches_apt_unchanged(self):
        with AptWorld("1.7.2", [JUMP]) as world:
            sources = os.path.join(world.dir, "apt", "sources.list").encode()
            latin = sources[:-len(b"sources.list")] + b"latin\xe9.list"
            os.rename(sources, latin)
            open(sources, "w").close()
            args = [b"-o", b"Dir::Etc::sourcelist=" + latin]
            checker = UpdateValidatorAptArgs(args)
            self.assertIs(checker.validate(), False)
            self.assertEqual(checker.get_invalid_sources(), [world.url("next")])
            for env in (dict(os.environ), dict(os.environ, LC_ALL="C")):
                result = tool("--", *args, env=env)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertEqual(result.stdout.decode().splitlines(), ["update refused", world.url("next")])


class FailingAptTest(unittest.TestCase):
    def test_checks_that_apt_get_cannot_answer_refuse(self):
        # The package manager knows the offered versions, but apt cannot
        # list the package files that apt's sources describe: no version
        # has a source, no release is known.
        with AptWorld("1.7.2", [("next", "1.8.0", ["1.0+v1.8.0"])]), tempfile.TemporaryDirectory() as fake:
            with open(os.path.join(fake, "apt-get"), "w") as apt_get:
                apt_get.write("#!/bin/sh\nexit 2\n")
            os.chmod(os.path.join(fake, "apt-get"), 0o755)
            env = dict(os.environ, PATH=fake + ":" + os.environ["PATH"])
            why = tool("--why", env=env)
            result = json.loads(tool("--json", env=env).stdout)
        self.assertEqual(why.returncode, 1)
        self.assertIn("\n\nversions unknown (linear, versions-unknown)\n", why.stdout.decode())
        self.assertEqual(result["invalid_sources"], [])
        self.assertEqual([(refusal["check"], refusal["rule"]) for refusal in result["refusals"]],
                         [("linear", "versions-unknown"), ("hotfix", "versions-unknown")])


class RefusalRecordTest(unittest.TestCase):
    def test_sources_of_a_refusal_are_sorted_and_complete(self):
        names = ["zz", "aa", "mm", "bb", "yy"]
        with AptWorld("1.7.2", [(name, "1.7.5", ["1.0+v1.8.0"]) for name in names]) as world:
            checker = UpdateValidatorAptArgs([])
            self.assertIs(checker.validate(), False)
            self.assertEqual(checker.get_refusals()[0]["sources"], sorted(world.url(name) for name in names))

    def test_unknown_installed_version(self):
        with AptWorld("1.7.2", [JUMP]) as world:
            os.remove(os.path.join(world.dir, "sysroot", "etc", "orvel_version"))
            checker = UpdateValidatorAptArgs([])
            self.assertIs(checker.validate(), False)
            refusal = checker.get_refusals()[0]
            self.assertEqual((refusal["rule"], refusal["version"], refusal["installed"], refusal["message"]),
                             ("installed-version-unknown", "", "", "no offered version was compared with the "
                              "installed Orvel release; the system-version library read no installed release from "
                              "/etc/orvel_version (missing, empty or unreadable)"))
            result = tool("--why")
            self.assertEqual(result.returncode, 1)
            self.assertIn(b"\ninstalled release unknown (linear, installed-version-unknown)\n", result.stdout)

    def test_sources_that_are_not_valid_text_stay_apart(self):
        names = ["caf\udce9", "caf\udce8"]  # Latin-1 bytes in the URLs
        with AptWorld("1.7.2", [(name, "1.8.0", ["1.0+v1.8.0"]) for name in names]) as world:
            checker = UpdateValidatorAptArgs([])
            self.assertIs(checker.validate(), False)
            self.assertEqual(sorted(checker.get_invalid_sources()), sorted(world.url(name) for name in names))
            result = tool()
            json_result = tool("--json")
        prefix = os.fsencode(world.url("caf"))
        self.assertEqual(result.stdout.splitlines()[1:], [prefix + b"\\xE8", prefix + b"\\xE9"])
        # JSON carries the same escapes, never a lone surrogate (which strict
        # readers reject).
        self.assertNotIn(b"\\ud", json_result.stdout.lower())
        self.assertEqual(json.loads(json_result.stdout.decode())["invalid_sources"],
                         [world.url("caf") + "\\xE8", world.url("caf") + "\\xE9"])

    def test_second_init_is_a_type_error(self):
        with AptWorld("1.7.2", [JUMP]):
            checker = UpdateValidatorAptArgs([])
            with self.assertRaises(TypeError):
                checker.__init__(["-o", "Dir::Etc::sourcelist=/dev/null"])
            self.assertIs(checker.validate(), False)


class ToolOutputTest(unittest.TestCase):
    def test_explanation_that_cannot_be_written_is_an_output_error(self):
        with AptWorld("1.7.2", [JUMP]), open("/dev/full", "w") as full:
            result = subprocess.run([TOOL, "--explain"], stdout=subprocess.PIPE, stderr=full, timeout=120)
        self.assertEqual(result.returncode, 3)

    @unittest.skipUnless(os.geteuid() == 0, "needs a private mount namespace")
    def test_explanation_without_proc_is_an_output_error(self):
        with AptWorld("1.7.2", [JUMP]):
            result = subprocess.run(["unshare", "-m", "sh", "-c", 'umount -l /proc && exec "$0" --explain', TOOL],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(result.returncode, 3, result.stderr)
        self.assertEqual(result.stdout, b"")
        self.assertIn(b"cannot keep the explanation", result.stderr)

    def test_why_of_a_failing_apt_says_what_was_not_compared(self):
        with AptWorld("1.7.2", [MAIN]):
            result = tool("--why", "--", "--bogus")
        blocks = result.stdout.decode().split("\n\n")
        self.assertTrue(blocks[1].splitlines()[1].startswith(
            "  apt could not say which versions are offered, so none was compared with the installed 1.7.2; "))


if __name__ == "__main__":
    unittest.main()
