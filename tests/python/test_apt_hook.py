# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""orvel-update-check --apt-hook as apt's pre-install hook, run by a real
apt-get in an offline world whose dpkg only records what it is asked."""

import os
import subprocess
import tempfile
import unittest

from aptworld import AptWorld, SUPPORT_DIR

TOOL = os.environ["ORVEL_UPDATE_CHECK"]

INSTALLED = ["orvel-version=1.0+v1.7.2", "orvel-extra=1.0"]
MAIN = ("main", "1.7.5", ["1.0+v1.7.5", "orvel-extra=2.0"])


class GuardedWorld(AptWorld):
    """A world with real packages and the guard's configuration, running the
    built tool."""

    def __init__(self, repos):
        super().__init__("1.7.2", repos, debs=True, packages=INSTALLED, guard=TOOL)

    def unpacked(self):
        return any("--unpack" in call for call in self.dpkg_calls())


def machine_apt_state():
    """What a run that leaked out of its world would change on the machine."""
    state = {}
    for path in ("/var/lib/dpkg/status", "/var/lib/dpkg/lock", "/var/cache/apt/archives", "/var/log/apt",
                 "/var/lib/apt/lists"):
        if os.path.exists(path):
            state[path] = (os.stat(path).st_mtime_ns,
                           sorted(os.listdir(path)) if os.path.isdir(path) else None)
    return state


class AptHookTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.machine_before = machine_apt_state()

    @classmethod
    def tearDownClass(cls):
        assert machine_apt_state() == cls.machine_before, "a test changed the machine's own apt state"

    def test_allowed_upgrade_reaches_dpkg_quietly(self):
        with GuardedWorld([MAIN]) as world:
            result = world.apt_get("install", "orvel-version")
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertNotIn("orvel-update-check", result.stderr)
            self.assertTrue(world.unpacked())

    def test_major_jump_and_forbidden_hotfix_stop_apt_before_dpkg(self):
        for repo, version in ((("next", "1.8.0", ["1.0+v1.8.0"]), "1.8.0"),
                              (("old-fix", "1.6.0.hotfix1", ["orvel-extra=3.0"]), "1.6.0.hotfix1")):
            with self.subTest(version=version), GuardedWorld([MAIN, repo]) as world:
                result = world.apt_get("install", "orvel-version", "orvel-extra")
                self.assertNotEqual(result.returncode, 0)
                self.assertIn("orvel-update-check: the update is refused", result.stderr)
                self.assertIn(version + " ", result.stderr)
                self.assertIn("offered by " + world.url(repo[0]), result.stderr)
                self.assertFalse(world.unpacked(), world.dpkg_calls())

    def test_sources_list_whose_name_is_not_valid_text_is_judged_as_apt_reads_it(self):
        # apt hands the guard the name percent-encoded; decoded in the
        # locale, it would name a list that does not exist: no sources.
        with GuardedWorld([MAIN, ("next", "1.8.0", ["1.0+v1.8.0"])]) as world:
            sources = os.path.join(world.dir, "apt", "sources.list").encode()
            latin = sources[:-len(b"sources.list")] + b"latin\xe9.list"
            os.rename(sources, latin)
            open(sources, "w").close()
            result = world.apt_get("-o", b"Dir::Etc::sourcelist=" + latin, "install", "orvel-version")
            self.assertNotEqual(result.returncode, 0, result.stderr)
            self.assertIn("offered by " + world.url("next"), result.stderr)
            self.assertFalse(world.unpacked(), world.dpkg_calls())

    def test_removal_only_runs_no_check(self):
        with GuardedWorld([MAIN, ("next", "1.8.0", ["1.0+v1.8.0"])]) as world, \
                tempfile.TemporaryDirectory() as calls:
            # apt-cache would record any call here.
            os.environ["FAKE_APT_CACHE_DIR"] = calls
            try:
                result = world.apt_get("remove", "orvel-extra",
                                       path=os.path.join(SUPPORT_DIR, "fake-bin") + ":" + os.environ["PATH"])
            finally:
                del os.environ["FAKE_APT_CACHE_DIR"]
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(os.listdir(calls), [])
            self.assertTrue(any("--remove" in call for call in world.dpkg_calls()))

    def test_override_lets_one_run_through_and_says_so(self):
        with GuardedWorld([MAIN, ("next", "1.8.0", ["1.0+v1.8.0"])]) as world:
            log = os.path.join(world.dir, "guard.log")
            result = world.apt_get("-o", "Orvel::Update-Guard=false", "-o", "Orvel::Update-Guard::Log=" + log,
                                   "install", "orvel-version")
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn("the update guard is off for this apt run", result.stderr)
            self.assertTrue(world.unpacked())
            with open(log) as lines:
                self.assertIn("Update guard switched off for this apt run", lines.read())
            # The next run is guarded again.
            self.assertNotEqual(world.apt_get("install", "orvel-version").returncode, 0)

    def test_scope_orvel_version_ignores_other_packages(self):
        with GuardedWorld([MAIN, ("next", "1.8.0", ["1.0+v1.8.0"])]) as world:
            scope = ("-o", "Orvel::Update-Guard::Scope=orvel-version")
            extra = world.apt_get(*scope, "install", "orvel-extra")
            self.assertEqual(extra.returncode, 0, extra.stderr)
            self.assertNotEqual(world.apt_get(*scope, "install", "orvel-version").returncode, 0)

    def test_removed_guard_package_leaves_only_inert_configuration(self):
        with GuardedWorld([MAIN, ("next", "1.8.0", ["1.0+v1.8.0"])]) as world:
            os.remove(world.guard_switch)
            result = world.apt_get("install", "orvel-version")
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertTrue(world.unpacked())


class AptHookInputTest(unittest.TestCase):
    def judge(self, request):
        return subprocess.run([TOOL, "--apt-hook"], input=request, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=60)

    def test_truncated_or_foreign_requests_refuse_with_a_reason(self):
        complete = b"VERSION 3\nDir=/nonexistent/\n\norvel-extra 1.0 all none < 2.0 all none /srv/x.deb\n"
        for request, reason in ((complete[:-1], b"ends in the middle of a line"),
                                (complete[:complete.index(b"\n\n") + 1], b"ends before its configuration does"),
                                (b"/srv/x.deb\n", b"Version \"3\""),
                                (b"", b"did not say which hook protocol")):
            with self.subTest(request=request):
                result = self.judge(request)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stdout, b"")
                self.assertIn(reason, result.stderr)

    def test_other_options_are_usage_errors(self):
        result = subprocess.run([TOOL, "--apt-hook", "--json"], stdin=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                timeout=60)
        self.assertEqual(result.returncode, 2)


if __name__ == "__main__":
    unittest.main()
