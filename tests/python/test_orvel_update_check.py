# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

import json
import os
import re
import signal
import subprocess
import tempfile
import time
import unittest

from aptworld import SUPPORT_DIR, AptWorld, fake_apt_path

TOOL = os.environ["ORVEL_UPDATE_CHECK"]


def run(*args):
    return subprocess.run([TOOL] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          universal_newlines=True, timeout=120)


class ToolTest(unittest.TestCase):
    def test_allowed_update_exits_zero(self):
        with AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"]), ("fix", "1.7.2.hotfix1", ["1.0+v1.7.2"])]):
            result = run()
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "update allowed\n", ""))

    def test_refused_update_lists_sorted_sources_and_exits_one(self):
        # Six refused sources: an unsorted list would pass one run in 720.
        refused = ["zz-next", "aa-fix", "mm-next", "bb-fix", "yy-next", "cc-fix"]
        repos = [(name, "1.8.0" if name.endswith("next") else "1.6.0.hotfix", ["1.0+v1.8.0"]) for name in refused]
        with AptWorld("1.7.2", repos + [("main", "1.7.5", ["1.0+v1.7.5"])]) as world:
            result = run()
            json_result = run("--json")
        expected = sorted(world.url(name) for name in refused)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout.splitlines(), ["update refused"] + expected)
        self.assertEqual(json_result.returncode, 1)
        self.assertEqual(json.loads(json_result.stdout)["invalid_sources"], expected)

    def test_versions_of_other_architectures_and_of_providers_are_judged(self):
        # orvel-version of a foreign architecture apt is configured for, and
        # a package that provides orvel-version (its own version is no
        # Orvel release); a provider without a version provides none.
        provides = ("Provides: orvel-version (= 1.0+v1.8.0)", "Replaces: orvel-version")
        for case in ("foreign", "provider", "unversioned"):
            with self.subTest(case=case):
                next_versions = ["orvel-version@i386=1.0+v1.8.0"] if case == "foreign" else []
                with AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"]), ("next", "1.7.5", next_versions)],
                              debs=True, foreign=["i386"] if case == "foreign" else []) as world:
                    if case != "foreign":
                        world.local_deb("2.0", "orvel-system", provides if case == "provider" else ["Provides: orvel-version"],
                                        into=os.path.join(world.dir, "repos", "next"))
                        world.reindex("next")
                    result = run("--why")
                if case == "unversioned":
                    self.assertEqual((result.returncode, result.stdout), (0, "update allowed\n"), result.stderr)
                    continue
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertEqual(result.stdout.split("\n\n")[1].splitlines(),
                                 ["1.8.0 (linear, major-version-changed)",
                                  "  1.8.0 changes the major version of the installed 1.7.2",
                                  "  offered by " + world.url("next") + " ./"])

    def test_json_of_an_allowed_update(self):
        with AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"])]):
            result = run("--json")
        self.assertEqual(json.loads(result.stdout),
                         {"allowed": True, "installed": "1.7.2", "invalid_sources": [], "refusals": []})

    def test_explain_gives_the_reasons_on_standard_error(self):
        with AptWorld("1.7.2", [("next", "1.8.0", ["1.0+v1.8.0"])]) as world:
            result = run("--explain")
        self.assertEqual(result.returncode, 1)
        reasons = [line.split(" - ", 1)[1] for line in result.stderr.splitlines()]
        # The rule's own line, then the version with its rule and source.
        self.assertEqual(reasons, [
            "Error: The versions of the available latest update is different, it's prohibited",
            "update refused: 1.8.0 (linear, major-version-changed), installed 1.7.2, offered by " + world.url("next") + " ./"])

    def test_apt_arguments_after_the_separator_reach_apt(self):
        # The world's sources list is empty; the argument points apt at a list
        # with a jump, and the source that offers it is looked up there too.
        with AptWorld("1.7.2", [("next", "1.8.0", ["1.0+v1.8.0"])]) as world:
            sources = os.path.join(world.dir, "apt", "sources.list")
            moved = sources + ".moved"
            os.rename(sources, moved)
            open(sources, "w").close()
            self.assertEqual(run().returncode, 0)
            result = run("--json", "--", "-o", "Dir::Etc::sourcelist=" + moved)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(json.loads(result.stdout)["invalid_sources"], [world.url("next")])

    def test_why_names_each_refused_version_its_rule_and_sources(self):
        with AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"]), ("next", "1.8.0", ["1.0+v1.8.0"])]) as world:
            plain = run()
            why = run("--why")
            json_result = run("--json")
        self.assertEqual(why.returncode, 1)
        self.assertEqual(why.stdout, plain.stdout + "\n1.8.0 (linear, major-version-changed)\n"
                         "  1.8.0 changes the major version of the installed 1.7.2\n"
                         "  offered by %s ./\n" % world.url("next"))
        self.assertEqual(json.loads(json_result.stdout), {
            "allowed": False, "installed": "1.7.2", "invalid_sources": [world.url("next")],
            "refusals": [{"check": "linear", "rule": "major-version-changed", "version": "1.8.0",
                          "installed": "1.7.2", "sources": [world.url("next")],
                          "package_files": [world.url("next") + " ./"],
                          "message": "1.8.0 changes the major version of the installed 1.7.2",
                          "sources_known": True, "apt_error": ""}]})

    def test_why_when_apt_fails(self):
        with AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"])]):
            result = run("--why", "--", "--bogus")
        self.assertEqual(result.returncode, 1)
        blocks = result.stdout.split("\n\n")
        self.assertEqual(blocks[0], "update refused")
        # Nothing about sources: no version was learnt to have any.
        # apt's own reason, where a person looks first.
        said = "; apt said: E: Command line option --bogus is not understood in combination with the other options"
        self.assertEqual([block.splitlines() for block in blocks[1:]], [
            ["versions unknown (linear, versions-unknown)", "  apt could not say which versions are offered, so none "
             "was compared with the installed 1.7.2" + said],
            ["versions unknown (hotfix, versions-unknown)", "  apt could not say which releases the sources announce, "
             "so no hotfix was checked against the installed 1.7.2" + said]])

    def test_log_file_at_the_chosen_level(self):
        with AptWorld("1.7.2", [("next", "1.8.0", ["1.0+v1.8.0"])]), tempfile.TemporaryDirectory() as tmp:
            error_log = os.path.join(tmp, "error.log")
            debug_log = os.path.join(tmp, "debug.log")
            self.assertEqual(run("--log", error_log, "--log-level", "error").returncode, 1)
            self.assertEqual(run("--log", debug_log, "--log-level", "debug").returncode, 1)
            with open(error_log) as log:
                self.assertEqual([line.split(" - ", 1)[1] for line in log.read().splitlines()],
                                 ["Error: The versions of the available latest update is different, "
                                  "it's prohibited"])
            with open(debug_log) as log:
                self.assertIn("virtual bool LinearValidator::check()", log.read())

    def test_an_unwritable_log_is_an_output_error_before_any_check(self):
        with tempfile.TemporaryDirectory() as tmp:
            for log in ("/proc/version", tmp, os.path.join(tmp, "missing", "x.log")):
                with self.subTest(log=log), AptWorld("1.7.2", [("next", "1.8.0", ["1.0+v1.8.0"])]):
                    result = run("--log", log)
                    self.assertEqual((result.returncode, result.stdout), (3, ""))
                    self.assertIn("cannot write the log " + log + ": ", result.stderr)

    def test_apt_options_before_the_separator_are_told_where_they_go(self):
        result = run("-o", "Debug::NoLocking=1")
        self.assertEqual(result.returncode, 2)
        self.assertIn("unknown option '-o'; apt's options go after '--'", result.stderr)

    def test_usage_errors_exit_two_with_a_message_and_the_usage(self):
        for args in (["--bogus"], ["-o", "X=1"], ["--log-level", "loud", "--log", "/dev/null"],
                     ["--log-level", "debug"], ["--explain", "--log", "/dev/null"], ["--log"], ["--log="],
                     ["--why", "--json"], ["--json", "--prometheus"], ["--help-all"]):
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, "")
                lines = result.stderr.splitlines()
                self.assertTrue(lines[0].startswith("orvel-update-check: "), lines)
                self.assertTrue(lines[1].startswith("Usage: "), lines)

    def test_help_and_version(self):
        help_result = run("--help")
        self.assertEqual(help_result.returncode, 0)
        self.assertIn("Exit status:", help_result.stdout)
        for status in ("0", "1", "2", "3", "4", "128+N"):
            self.assertRegex(help_result.stdout, r"\n  %s +\w" % re.escape(status))
        version = run("--version")
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout, r"^orvel-update-check \d+\.\d+\.\d+\n$")

    def test_verdict_that_cannot_be_written_is_an_output_error(self):
        reader, closed_pipe = os.pipe()
        os.close(reader)
        with AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"])]), open("/dev/full", "w") as full:
            for output, reason in ((full, "No space left on device"), (closed_pipe, "Broken pipe")):
                result = subprocess.run([TOOL], stdout=output, stderr=subprocess.PIPE, universal_newlines=True,
                                        timeout=120)
                self.assertEqual((result.returncode, result.stderr),
                                 (3, "orvel-update-check: cannot write to standard output: %s\n" % reason))
        os.close(closed_pipe)

    def test_a_log_or_metrics_file_that_cannot_take_the_verdict_is_an_output_error(self):
        # Exit 3 promptly, whatever the way the file fails; nothing half
        # written left, and no earlier verdict left standing for this one.
        with AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"])]), tempfile.TemporaryDirectory() as tmp:
            fifo = os.path.join(tmp, "no-reader")
            os.mkfifo(fifo)
            metrics = os.path.join(tmp, "orvel-update.prom")
            self.assertEqual(subprocess.run([TOOL, "--metrics-file", metrics], timeout=120).returncode, 0)
            cases = (("full", ["--log", "/dev/full"], None),
                     ("FIFO without a reader", ["--log", fifo], None),
                     ("log over a file size limit", ["--log", os.path.join(tmp, "log")], 20),
                     ("metrics over a file size limit", ["--metrics-file", metrics], 20))
            for name, arguments, size_limit in cases:
                with self.subTest(name):
                    limit = ["prlimit", "--fsize=%d" % size_limit] if size_limit else []
                    result = subprocess.run(limit + [TOOL] + arguments, stdout=subprocess.PIPE,
                                            stderr=subprocess.PIPE, universal_newlines=True, timeout=60)
                    self.assertEqual(result.returncode, 3, result.stderr)
                    self.assertRegex(result.stderr, "^orvel-update-check: cannot write the (log|metrics)")
            self.assertEqual(sorted(os.listdir(tmp)), ["log", "no-reader"])

    def test_explain_needs_no_temporary_directory(self):
        with AptWorld("1.7.2", [("next", "1.8.0", ["1.0+v1.8.0"])]) as world, \
                tempfile.NamedTemporaryFile() as not_a_directory:
            result = subprocess.run([TOOL, "--explain"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    universal_newlines=True, timeout=120,
                                    env=dict(os.environ, TMPDIR=not_a_directory.name))
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "update refused\n%s\n" % world.url("next"))
        self.assertIn("Error: The versions of the available latest update", result.stderr)

    def test_interrupted_tool_ends_apt_cache_and_prints_no_verdict(self):
        def default_signals():
            for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
                signal.signal(number, signal.SIG_DFL)

        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=number), AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"])]), \
                    tempfile.TemporaryDirectory() as fake:
                with open(os.path.join(fake, "sleep"), "w") as sleep:
                    sleep.write("60")
                env = dict(os.environ, PATH=fake_apt_path(fake))
                tool = subprocess.Popen([TOOL], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                                        preexec_fn=default_signals)
                pid_file = os.path.join(fake, "pid")
                deadline = time.monotonic() + 30
                while not os.path.exists(pid_file) and time.monotonic() < deadline:
                    time.sleep(0.01)
                time.sleep(0.05)
                with open(pid_file) as pids:
                    apt_cache = int(pids.read().split()[0])
                tool.send_signal(number)
                stdout, _ = tool.communicate(timeout=30)
                self.assertEqual(tool.returncode, 128 + number)
                self.assertEqual(stdout, b"")
                self.assertFalse(os.path.exists("/proc/%d" % apt_cache), "apt-cache still running")


if __name__ == "__main__":
    unittest.main()
