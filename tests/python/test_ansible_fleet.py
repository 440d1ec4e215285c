# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""The collection orvel.update driven by real ansible-playbook and ansible
runs against a fleet on this machine: three local hosts and one reached
over SSH, each in an offline apt world of its own."""

import importlib.util
import json
import os
import re
import subprocess
import tempfile
import unittest

from aptworld import AptWorld
from fleet import COLLECTIONS, Fleet

TOOL = os.environ["ORVEL_UPDATE_CHECK"]
PYTHON37 = os.environ.get("ORVEL_NODE_PYTHON37", "")
PYTHON311 = "/usr/bin/python3.11"
MAIN = ("main", "1.7.5", ["1.0+v1.7.5", "orvel-extra=2.0"])
NEXT = ("next", "1.8.0", ["1.0+v1.8.0"])
FIX = ("fix", "1.6.0.hotfix1", ["orvel-extra=3.0"])
# What the tool prints for a refused major-version jump.
REFUSED = ('{"allowed":false,"installed":"1.7.2","invalid_sources":["file:/srv/next"],"refusals":'
           '[{"check":"linear","rule":"major-version-changed","version":"1.8.0","installed":"1.7.2",'
           '"sources":["file:/srv/next"],"message":"1.8.0 changes the major version","sources_known":true}]}')
# In play order: with serial 1, "jump" is the first refused host.
HOSTS = [("allowed", [MAIN], "local"), ("jump", [MAIN, NEXT], "local"), ("hotfix", [MAIN, FIX], "local"),
         ("remote", [MAIN], "ssh")]


def summary(output):
    """The lines of the play's closing summary."""
    match = re.search(r'TASK \[orvel.update.gated_upgrade : Sum up the hosts of the play\].*?"msg": \[(.*?)\]',
                      output, re.S)
    return json.loads("[" + match.group(1) + "]") if match else []


class GatedUpgradeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.fleet = Fleet(HOSTS, TOOL, PYTHON37)

    @classmethod
    def tearDownClass(cls):
        cls.fleet.close()

    def test_only_allowed_hosts_are_upgraded_and_the_summary_names_every_host(self):
        fleet = self.fleet
        result = fleet.playbook()
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual({name: fleet.upgraded(name) for name in fleet.worlds},
                         {"allowed": True, "jump": False, "hotfix": False, "remote": True})
        self.assertEqual(summary(result.stdout), [
            "allowed: allowed, installed 1.7.2",
            "jump: refused, installed 1.7.2: 1.8.0 (linear, major-version-changed), offered by "
            + fleet.worlds["jump"].url("next") + " ./",
            "hotfix: refused, installed 1.7.2: 1.6.0.hotfix1 (hotfix, hotfix-not-allowed), offered by "
            + fleet.worlds["hotfix"].url("fix") + " ./",
            "remote: allowed, installed 1.7.2"])
        self.assertIn("Accepted publickey for root", fleet.sshd_log())
        # Refused hosts end cleanly: nothing failed, nothing unreachable.
        for name in fleet.worlds:
            self.assertRegex(result.stdout, r"\n%s +: ok=\d+ +changed=\d+ +unreachable=0 +failed=0" % name)

    def test_the_upgrade_takes_the_apt_arguments_of_the_checks(self):
        # The checks are given the main sources alone; the host's own
        # sources offer 1.8.0 too. Arguments that are not a list of words
        # stop the play before anything is checked or upgraded.
        with Fleet([("host", [MAIN, NEXT], "local")], TOOL, PYTHON37) as fleet:
            world = fleet.worlds["host"]
            only_main = os.path.join(world.dir, "only-main.list")
            with open(only_main, "w") as sources:
                sources.write("deb [trusted=yes] %s ./\n" % world.url("main"))
            refused = fleet.playbook(extra_vars={"orvel_update_apt_args": "-o Dir::Etc::sourcelist=" + only_main})
            self.assertNotEqual(refused.returncode, 0)
            self.assertIn("orvel_update_apt_args must be a list of strings", refused.stdout)
            misspelt = fleet.playbook(extra_vars={"orvel_update_apt_arg": ["-o", "Dir::Etc::sourcelist=" + only_main]})
            self.assertNotEqual(misspelt.returncode, 0)
            self.assertIn("knows no variable orvel_update_apt_arg;", misspelt.stdout)
            self.assertEqual(world.dpkg_calls(), [])

            result = fleet.playbook(extra_vars={"orvel_update_apt_args": ["-o", "Dir::Etc::sourcelist=" + only_main]})
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertEqual(summary(result.stdout), ["host: allowed, installed 1.7.2"])
            self.assertRegex(result.stdout, r"\nhost +: ok=\d+ +changed=1 +unreachable=0 +failed=0")
            unpacked = " ".join(call for call in world.dpkg_calls() if "--unpack" in call)
            self.assertIn("orvel-version_1.0+v1.7.5_all.deb", unpacked)
            self.assertNotIn("1.0+v1.8.0", unpacked)

    def test_the_upgrade_needs_a_verdict_and_the_arguments_take_no_command(self):
        upgrade = ("orvel.update.gated_upgrade : Upgrade the allowed host with the apt arguments of the checks (the apt "
                   "guard on the host still stands behind it)")
        with Fleet([("jump", [MAIN, NEXT], "local")], TOOL, PYTHON37) as fleet:
            world = fleet.worlds["jump"]
            # Started at the upgrade, no verdict was made: nothing is upgraded
            # (this world has no guard to stand behind the role).
            started = fleet.playbook(options=["--start-at-task", upgrade])
            self.assertEqual(started.returncode, 0, started.stdout + started.stderr)
            self.assertIn("TASK [%s]" % upgrade, started.stdout)
            self.assertFalse(fleet.upgraded("jump"), world.dpkg_calls())
            words = fleet.playbook(extra_vars={"orvel_update_apt_args": ["-o", "APT::Get::List-Cleanup=0", "install",
                                                                         "orvel-extra"]})
            self.assertNotEqual(words.returncode, 0)
            self.assertIn('usage error: \\"install\\" in orvel_update_apt_args is an apt command word', words.stdout)
            self.assertNotIn("Ask whether the pending update may be installed", words.stdout)
            # The refresh changes something only when the lists' contents do.
            refresh = "orvel.update.gated_upgrade : Refresh apt's package lists for the sources of the checks"
            for expected in ("ok", "changed"):
                if expected == "changed":
                    world.local_deb("1.0", "orvel-new", into=os.path.join(world.dir, "repos", "main"))
                    world.reindex("main", update=False)
                result = fleet.playbook(extra_vars={"orvel_update_apt_update": "true"})
                self.assertRegex(result.stdout, r"TASK \[%s\][^\n]*\n%s: \[jump\]" % (re.escape(refresh), expected))
            self.assertFalse(fleet.upgraded("jump"), world.dpkg_calls())

    def test_fail_when_refused_stops_a_rolling_upgrade_at_the_first_refused_host(self):
        with Fleet(HOSTS, TOOL, PYTHON37) as fleet:
            result = fleet.playbook("serial: 1\n  max_fail_percentage: 0",
                                    {"orvel_update_fail_when_refused": "true"})
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("the pending update is refused: 1.8.0 changes the major version", result.stdout)
            self.assertEqual({name: fleet.upgraded(name) for name in fleet.worlds},
                             {"allowed": True, "jump": False, "hotfix": False, "remote": False})
            self.assertNotIn("hotfix :", result.stdout.split("PLAY RECAP")[-1])

    def test_module_alone_reports_each_host_and_changes_nothing(self):
        for check in ([], ["--check"]):
            with self.subTest(check=check):
                result = self.fleet.ad_hoc("orvel.update.update_info", *check)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                verdicts = {}
                for line in result.stdout.splitlines():
                    host, _, rest = line.partition(" | SUCCESS => ")
                    verdicts[host] = json.loads(rest)
                self.assertEqual({host: verdict["allowed"] for host, verdict in verdicts.items()},
                                 {"allowed": True, "jump": False, "hotfix": False, "remote": True})
                self.assertFalse(any(verdict["changed"] for verdict in verdicts.values()))
                self.assertEqual(verdicts["jump"]["refusals"][0]["rule"], "major-version-changed")
                self.assertEqual(verdicts["hotfix"]["invalid_sources"], [self.fleet.worlds["hotfix"].url("fix")])


class ModuleFailureTest(unittest.TestCase):
    """update_info on a node whose tool fails or lies: failed, never allowed."""

    def run_module(self, tool_script=None, python=PYTHON37, args=""):
        with tempfile.TemporaryDirectory() as bin_dir:
            if tool_script is not None:
                path = os.path.join(bin_dir, "orvel-update-check")
                with open(path, "w") as tool:
                    tool.write("#!/bin/sh\n" + tool_script)
                os.chmod(path, 0o755)
            command = ["ansible", "all", "-i", "localhost,", "-c", "local", "-o", "-m", "orvel.update.update_info",
                       "-e", "ansible_python_interpreter=" + python] + (["-a", args] if args else [])
            env = dict(os.environ, PATH=bin_dir + ":/usr/bin:/bin", HOME=bin_dir, ANSIBLE_NOCOLOR="1",
                       ANSIBLE_COLLECTIONS_PATH=os.path.join(os.path.dirname(__file__), os.pardir, os.pardir,
                                                             "ansible"))
            result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    universal_newlines=True, env=env, timeout=120)
        return result

    def test_a_tool_that_fails_or_lies_fails_the_task(self):
        cases = {
            "missing": (None, "was not found on the managed node"),
            "usage error": ("echo 'usage' >&2; exit 2", "failed with exit status 2: usage"),
            "broken": ("exit 4", "failed with exit status 4"),
            "garbled": ("echo 'update allowed'; exit 0", "printed no JSON verdict"),
            "allowed with status 1": ("echo '{\"allowed\":true,\"installed\":\"1.7.2\",\"invalid_sources\":[],"
                                      "\"refusals\":[]}'; exit 1", "disagrees with its exit status 1"),
            "refused with status 0": ("echo '%s'; exit 0" % REFUSED, "disagrees with its exit status 0"),
            "allowed with refusals": ("echo '%s'; exit 0" % REFUSED.replace('"allowed":false', '"allowed":true'),
                                      "an allowed update with refusals"),
            "no refusals list": ("echo '{\"allowed\":true,\"installed\":\"1.7.2\",\"invalid_sources\":[]}'",
                                 'refusals\\" is not a list'),
        }
        for name, (script, message) in cases.items():
            with self.subTest(case=name):
                result = self.run_module(script)
                self.assertNotEqual(result.returncode, 0, result.stdout)
                self.assertIn("localhost | FAILED!", result.stdout)
                self.assertIn(message, result.stdout)
                self.assertNotIn('"allowed": true', result.stdout)

    def test_refusal_under_both_interpreters_and_fail_when_refused(self):
        script = "[ \"$1 $2\" = '--json --' ] || exit 2\necho '%s'\nexit 1\n" % REFUSED
        for python in (PYTHON37, PYTHON311):
            with self.subTest(python=python):
                result = self.run_module(script, python)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                verdict = json.loads(result.stdout.partition(" | SUCCESS => ")[2])
                self.assertEqual(verdict["refusals"], json.loads(REFUSED)["refusals"])
                self.assertEqual((verdict["allowed"], verdict["changed"]), (False, False))
        failed = self.run_module(script, args="fail_when_refused=true")
        self.assertIn("localhost | FAILED!", failed.stdout)
        self.assertIn("the pending update is refused: 1.8.0 changes the major version", failed.stdout)

    def test_apt_args_reach_the_tool_after_the_separator(self):
        script = ("[ \"$*\" = '--json -- -o Dir::Etc::sourcelist=/srv/a b.list' ] || { echo \"$*\" >&2; exit 2; }\n"
                  "echo '{\"allowed\":true,\"installed\":\"1.7.2\",\"invalid_sources\":[],\"refusals\":[]}'\n")
        result = self.run_module(script, args='{"apt_args": ["-o", "Dir::Etc::sourcelist=/srv/a b.list"]}')
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn('"allowed": true', result.stdout)


def verdict_filters():
    spec = importlib.util.spec_from_file_location("verdicts", os.path.join(
        COLLECTIONS, "ansible_collections", "orvel", "update", "plugins", "filter", "verdicts.py"))
    verdicts = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(verdicts)
    return verdicts


class VerdictFiltersTest(unittest.TestCase):
    """The role's lines for people: what they must never leave out."""

    def test_a_refusal_reads_as_the_tool_logs_it(self):
        # The same fields in the same order and words, for a refusal with
        # sources and for one that apt could not answer.
        refusal_line = verdict_filters().refusal_line
        for name, repos in (("sources", [MAIN, NEXT, FIX]), ("apt failed", [MAIN])):
            with self.subTest(world=name), AptWorld("1.7.2", repos) as world, \
                    tempfile.TemporaryDirectory() as tmp:
                if name == "apt failed":
                    with open(os.path.join(world.dir, "apt", "sources.list"), "a") as sources:
                        sources.write("this is no sources line\n")
                log = os.path.join(tmp, "check.log")
                result = subprocess.run([TOOL, "--json", "--log", log], stdout=subprocess.PIPE,
                                        universal_newlines=True, timeout=120)
                with open(log) as lines:
                    logged = [re.sub(r"^.* - update refused: ", "", line).replace(", installed 1.7.2", "", 1)
                              for line in lines.read().splitlines() if " - update refused: " in line]
                refusals = json.loads(result.stdout)["refusals"]
                self.assertEqual(len(refusals), 2, result.stdout)
                self.assertEqual([refusal_line(refusal) for refusal in refusals], logged)

    def test_lines_say_what_is_unknown(self):
        verdicts = verdict_filters()
        unknown_sources = {"check": "linear", "rule": "major-version-changed", "version": "1.8.0",
                           "sources": [], "sources_known": False}
        unknown_installed = {"check": "linear", "rule": "installed-version-unknown", "version": "", "sources": []}
        self.assertEqual(verdicts.refusal_line(unknown_sources),
                         "1.8.0 (linear, major-version-changed), sources unknown: apt could not list them")
        self.assertEqual(verdicts.refusal_line(unknown_installed),
                         "installed release unknown (linear, installed-version-unknown)")
        hostvars = {"h": {"orvel_update": {"allowed": False, "installed": "1.7.2", "refusals": [unknown_sources]}}}
        self.assertEqual(verdicts.host_verdict("h", hostvars), "h: refused, installed 1.7.2: "
                         "1.8.0 (linear, major-version-changed), sources unknown: apt could not list them")


if __name__ == "__main__":
    unittest.main()
