# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""The same verdicts whatever the caller's language and shell settings: the
tool, the module and the apt guard in real apt worlds, under locales that
this test generates into a directory of its own."""

import json
import os
import subprocess
import sys
import tempfile
import unittest

from aptworld import AptWorld
from test_apt_hook import GuardedWorld, MAIN
from test_update_validator_apt_args import messages

TOOL = os.environ["ORVEL_UPDATE_CHECK"]

WORLDS = {
    "allowed": [("main", "1.7.5", ["1.0+v1.7.5"])],
    "jump": [("main", "1.7.5", ["1.0+v1.7.5"]), ("next", "1.8.0", ["1.0+v1.8.0"])],
    "hotfix": [("main", "1.7.5", ["1.0+v1.7.5"]), ("fix", "1.7.3.hotfix1", ["1.0+v1.7.2"])],
}
LOCALES = [("de_DE", "UTF-8"), ("ru_RU", "UTF-8"), ("ru_RU", "KOI8-R")]

MODULE_VERDICT = """
import json, sys
from orvelupdatechecks import UpdateValidatorAptArgs
checker = UpdateValidatorAptArgs([])
checker.initLogger(sys.argv[1], 10)
allowed = checker.validate()
print(json.dumps([allowed, sorted(checker.get_invalid_sources()), checker.get_refusals()]))
"""


def leftovers(world):
    """Processes still running in the world (they carry its APT_CONFIG)."""
    marker = ("APT_CONFIG=" + world.settings()["APT_CONFIG"]).encode()
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/environ" % pid, "rb") as environ:
                if marker in environ.read().split(b"\0") and int(pid) != os.getpid():
                    found.append(pid)
        except OSError:
            pass
    return found


class CallerSettingsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="orvel-locales-")
        for name, charset in LOCALES:
            subprocess.run(["localedef", "-i", name, "-f", charset, os.path.join(cls.tmp.name, name + "." + charset)],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        bash_env = os.path.join(cls.tmp.name, "bash-env")
        with open(bash_env, "w") as start_up:
            start_up.write("set -n\n")
        locpath = {"LOCPATH": cls.tmp.name}
        cls.settings = {
            "de_DE.UTF-8": dict(locpath, LANG="de_DE.UTF-8"),
            "ru_RU.UTF-8": dict(locpath, LANG="ru_RU.UTF-8"),
            "ru_RU.KOI8-R": dict(locpath, LANG="ru_RU.KOI8-R"),
            "LC_MESSAGES de": dict(locpath, LANG="C.UTF-8", LC_MESSAGES="de_DE.UTF-8"),
            "LANGUAGE=ru": {"LANG": "C.UTF-8", "LANGUAGE": "ru"},
            "SHELLOPTS=noexec": {"SHELLOPTS": "noexec"},
            "BASH_ENV set -n": {"BASH_ENV": bash_env},
            "SHELLOPTS=keyword": {"SHELLOPTS": "keyword"},
            "SHELLOPTS=monitor": {"SHELLOPTS": "monitor"},
            "POSIXLY_CORRECT": {"POSIXLY_CORRECT": "1"},
        }

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def environment(self, world, setting):
        env = {key: value for key, value in os.environ.items() if not key.startswith(("LC_", "LANG"))}
        env.update(world.settings(), LC_ALL="C")
        if setting is not None:
            del env["LC_ALL"]
            env.update(self.settings[setting])
        return env

    def answers(self, world, setting):
        """What the tool and the module answer, and what their logs say."""
        env = self.environment(world, setting)
        with tempfile.TemporaryDirectory() as logs:
            tool_log, module_log = os.path.join(logs, "tool.log"), os.path.join(logs, "module.log")
            tool = subprocess.run([TOOL, "--json", "--log", tool_log], stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, env=env, timeout=120)
            module = subprocess.run([sys.executable, "-c", MODULE_VERDICT, module_log], stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, env=env, timeout=120)
            self.assertEqual(module.returncode, 0, module.stderr)
            self.assertEqual(leftovers(world), [])
            return (tool.returncode, json.loads(tool.stdout.decode()), json.loads(module.stdout.decode()),
                    messages(tool_log), messages(module_log))

    def test_every_locale_and_shell_setting_gets_the_verdicts_of_c(self):
        for name, repos in WORLDS.items():
            with AptWorld("1.7.2", repos) as world:
                expected = self.answers(world, None)
                self.assertEqual(expected[0], 0 if name == "allowed" else 1, expected)
                for setting in self.settings:
                    with self.subTest(world=name, setting=setting):
                        self.assertEqual(self.answers(world, setting), expected)

    def test_guard_under_a_german_apt_get_judges_as_under_c(self):
        for repos, allowed in (([MAIN], True), ([MAIN, ("next", "1.8.0", ["1.0+v1.8.0"])], False)):
            outcomes = []
            for setting in (None, "de_DE.UTF-8"):
                with GuardedWorld(repos) as world:
                    env = self.environment(world, setting)
                    result = subprocess.run(["apt-get", "-y", "install", "orvel-version"], stdout=subprocess.PIPE,
                                            stderr=subprocess.PIPE, universal_newlines=True, env=env, timeout=120)
                    refused = {None: "the update is refused", "de_DE.UTF-8": "Das Update wird abgelehnt"}[setting]
                    outcomes.append((result.returncode, world.unpacked(), refused in result.stderr))
            self.assertEqual(outcomes[0], (0, True, False) if allowed else (100, False, True), outcomes)
            self.assertEqual(outcomes[1], outcomes[0])


if __name__ == "__main__":
    unittest.main()
