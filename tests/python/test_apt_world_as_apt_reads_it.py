# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""The checks and the guard read apt's world as apt and dpkg read it:
archives by dpkg's member order, sources by suite and component, settings
in any case and with apt-get's own Binary:: scope, and queries that nothing
of the caller's environment reaches. Real apt-get in offline worlds whose
dpkg records its calls: an --unpack is what would have been installed."""

import json
import os
import shutil
import subprocess
import tempfile
import unittest

from aptworld import AptWorld, SUPPORT_DIR
from orvelupdatechecks import UpdateValidatorAptArgs
from test_apt_hook import INSTALLED, MAIN, TOOL, GuardedWorld

ARCH = subprocess.run(["dpkg", "--print-architecture"], stdout=subprocess.PIPE, universal_newlines=True,
                      check=True).stdout.strip()


def decoy(world, real_version, decoy_version, path):
    """An archive of orvel-version real_version (xz) with the control member
    of decoy_version (gzip) appended, as a hostile repository builds it."""
    parts = tempfile.mkdtemp(dir=world.dir)
    real = world.local_deb(real_version, into=parts)
    fake = subprocess.run([os.path.join(SUPPORT_DIR, "make-deb"), "-Z", "gzip", "orvel-version", decoy_version,
                           tempfile.mkdtemp(dir=parts)], check=True, stdout=subprocess.PIPE,
                          universal_newlines=True).stdout.strip()
    subprocess.run(["ar", "x", fake, "control.tar.gz"], cwd=parts, check=True)
    shutil.copy(real, path)
    subprocess.run(["ar", "q", path, "control.tar.gz"], cwd=parts, check=True)
    return path


def two_suites(world, deb822):
    """One URL serving the suites stable (1.7.5, hello 2.0) and next (1.8.0,
    libx), as distributions publish releases; returns the URL."""
    root = os.path.join(world.dir, "debian")
    pool = os.path.join(root, "pool")
    os.makedirs(pool)
    suites = {"stable": ("1.7.5", [("orvel-version", "1.0+v1.7.5"), ("hello", "2.0")]),
              "next": ("1.8.0", [("orvel-version", "1.0+v1.8.0"), ("libx", "1.0")])}
    for suite, (release, packages) in suites.items():
        binary = os.path.join(root, "dists", suite, "main", "binary-" + ARCH)
        os.makedirs(binary)
        for package, version in packages:
            world.local_deb(version, package, into=pool)
        wanted = ["pool/%s_%s_all.deb" % package for package in packages]
        index = subprocess.run(["apt-ftparchive", "packages", "pool"], cwd=root, check=True, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, universal_newlines=True).stdout
        with open(os.path.join(binary, "Packages"), "w") as out:
            out.write("\n\n".join(stanza for stanza in index.split("\n\n")
                                  if any("Filename: " + name in stanza for name in wanted)) + "\n")
        fields = {"Suite": suite, "Codename": suite, "Version": release, "Origin": "Orvel", "Components": "main",
                  "Architectures": ARCH}
        release_text = subprocess.run(["apt-ftparchive"] + [word for key, value in fields.items() for word in
                                                            ("-o", "APT::FTPArchive::Release::%s=%s" % (key, value))]
                                      + ["release", os.path.join(root, "dists", suite)], check=True,
                                      stdout=subprocess.PIPE).stdout
        with open(os.path.join(root, "dists", suite, "Release"), "wb") as out:
            out.write(release_text)
    url = "file:" + root
    apt = os.path.join(world.dir, "apt")
    if deb822:
        with open(os.path.join(apt, "sources.list.d", "orvel.sources"), "w") as out:
            out.write("Types: deb\nURIs: %s\nSuites: stable next\nComponents: main\nTrusted: yes\n" % url)
    else:
        with open(os.path.join(apt, "sources.list"), "w") as out:
            out.write("deb [trusted=yes] %s stable main\ndeb [trusted=yes] %s next main\n" % (url, url))
    result = world.apt_get("update")
    assert result.returncode == 0, result.stderr
    return url


def tool(world, *args, env=None):
    return subprocess.run([TOOL] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          universal_newlines=True, env=dict(os.environ, **world.settings(), **(env or {})), timeout=120)


class ArchiveIdentityTest(unittest.TestCase):
    def test_the_control_member_dpkg_reads_is_the_one_judged(self):
        # The index (and apt's own reader) say 1.7.6; dpkg would unpack 1.8.0.
        with GuardedWorld([MAIN, ("next", "1.7.6", ["1.0+v1.7.6"])]) as world:
            named = os.path.join(world.dir, "repos", "next", "orvel-version_1.0+v1.7.6_all.deb")
            decoy(world, "1.0+v1.8.0", "1.0+v1.7.6", named)
            world.reindex("next")
            local = decoy(world, "1.0+v1.8.0", "1.0+v1.7.6", os.path.join(world.dir, "local.deb"))
            for package in ("orvel-version", local):
                with self.subTest(package=package):
                    result = world.apt_get("install", package)
                    self.assertNotEqual(result.returncode, 0, result.stderr)
                    self.assertIn("holds orvel-version 1.0+v1.8.0 (all), not the orvel-version 1.0+v1.7.6",
                                  result.stderr)
                    self.assertFalse(world.unpacked(), world.dpkg_calls())

    def test_a_takeover_that_names_no_release_stops_every_scope(self):
        fields = ("Provides: orvel-version", "Conflicts: orvel-version", "Replaces: orvel-version")
        for scope in ("sources", "all", "orvel-version"):
            with self.subTest(scope=scope), GuardedWorld([MAIN, ("next", "1.8.0", [])]) as world:
                world.local_deb("1.0", "orvel-system", fields, into=os.path.join(world.dir, "repos", "next"))
                world.reindex("next")
                result = world.apt_get("-o", "Orvel::Update-Guard::Scope=" + scope, "install", "orvel-system")
                self.assertNotEqual(result.returncode, 0, result.stderr)
                self.assertIn("orvel-system 1.0 from %s ./ replaces orvel-version without saying which Orvel release"
                              % world.url("next"), result.stderr)
                self.assertFalse(world.unpacked(), world.dpkg_calls())


class SourceIdentityTest(unittest.TestCase):
    def test_one_url_with_an_allowed_and_a_refused_suite(self):
        for deb822 in (False, True):
            with self.subTest(deb822=deb822), GuardedWorld([]) as world:
                url = two_suites(world, deb822)
                allowed = world.apt_get("install", "hello")
                self.assertEqual(allowed.returncode, 0, allowed.stderr)
                self.assertIn("offer refused versions; this run takes nothing from them", allowed.stderr)
                self.assertIn(url + " next/main", allowed.stderr)
                self.assertTrue(world.unpacked(), world.dpkg_calls())
                refused = world.apt_get("install", "libx")
                self.assertNotEqual(refused.returncode, 0, refused.stderr)
                self.assertIn("this run takes libx 1.0 from %s next/main" % url, refused.stderr)
                self.assertEqual(len([call for call in world.dpkg_calls() if "--unpack" in call]), 1)
                verdict = json.loads(tool(world, "--json").stdout)
                self.assertEqual(verdict["invalid_sources"], [url])
                self.assertEqual(verdict["refusals"][0]["package_files"], [url + " next/main"])

    def test_a_foreign_architecture_package_from_a_refused_source_is_stopped(self):
        # apt names it "libx:i386", the run's request "libx" and "i386".
        with AptWorld("1.7.2", [MAIN, ("next", "1.8.0", ["1.0+v1.8.0", "libx@i386=1.0"])], debs=True,
                      packages=INSTALLED, guard=TOOL, foreign=["i386"]) as world:
            result = world.apt_get("install", "libx:i386")
            self.assertNotEqual(result.returncode, 0, result.stderr)
            self.assertIn("this run takes libx:i386 1.0 from %s ./" % world.url("next"), result.stderr)
            self.assertEqual([call for call in world.dpkg_calls() if "--unpack" in call], [])

    def test_a_url_holding_a_bar_is_not_cut(self):
        with GuardedWorld([MAIN, ("next|mirror", "1.8.0", ["1.0+v1.8.0", "libx=1.0"])]) as world:
            url = world.url("next|mirror")
            why = tool(world, "--why")
            self.assertEqual(why.stdout.splitlines()[:2], ["update refused", url], why.stdout)
            self.assertIn("offered by %s ./" % url, why.stdout)
            with world.activated():
                checker = UpdateValidatorAptArgs([])
                self.assertIs(checker.validate(), False)
                self.assertEqual(checker.get_invalid_sources(), [url])
            result = world.apt_get("install", "libx")
            self.assertNotEqual(result.returncode, 0, result.stderr)
            self.assertFalse(world.unpacked(), world.dpkg_calls())


class ConfigurationTest(unittest.TestCase):
    def test_guard_settings_in_any_case(self):
        with GuardedWorld([MAIN, ("next", "1.8.0", ["1.0+v1.8.0"])]) as world:
            for key in ("orvel::update-guard::scope", "ORVEL::UPDATE-GUARD::SCOPE"):
                with self.subTest(key=key):
                    result = world.apt_get("-o", key + "=all", "install", "orvel-extra")
                    self.assertNotEqual(result.returncode, 0, result.stderr)
                    self.assertIn("orvel-update-check: the update is refused", result.stderr)
                    bogus = world.apt_get("-o", key + "=bogus", "install", "orvel-extra")
                    self.assertNotEqual(bogus.returncode, 0, bogus.stderr)
                    self.assertIn('Orvel::Update-Guard::Scope is "bogus"', bogus.stderr)
            with open(os.path.join(world.dir, "apt", "apt.conf.d", "99scope"), "w") as conf:
                conf.write('orvel::update-guard { scope "all"; };\n')
            self.assertNotEqual(world.apt_get("install", "orvel-extra").returncode, 0)
            self.assertFalse(world.unpacked(), world.dpkg_calls())

    def test_the_checks_see_the_sources_that_apt_get_installs_from(self):
        # apt-get reads its own Binary::apt-get scope; apt-cache, as itself,
        # would read Binary::apt-cache.
        for setting in ('Binary::apt-get::Dir::Etc::sourceparts "%(parts)s";',
                        'Binary::apt-cache::Dir::Etc::sourcelist "/dev/null";'):
            with self.subTest(setting=setting), AptWorld("1.7.2", [MAIN, ("next", "1.8.0", ["1.0+v1.8.0"])]) as world:
                apt = os.path.join(world.dir, "apt")
                parts = os.path.join(world.dir, "binary-parts")
                os.mkdir(parts)
                with open(os.path.join(apt, "sources.list")) as sources:
                    lines = sources.read().splitlines()
                if "sourceparts" in setting:
                    # Only apt-get sees next.
                    with open(os.path.join(apt, "sources.list"), "w") as sources:
                        sources.write(lines[0] + "\n")
                    with open(os.path.join(parts, "next.list"), "w") as sources:
                        sources.write(lines[1] + "\n")
                with open(os.path.join(apt, "apt.conf.d", "50binary"), "w") as conf:
                    conf.write(setting % {"parts": parts} + "\n")
                self.assertEqual(world.apt_get("update").returncode, 0)
                self.assertIn("1.0+v1.8.0", world.apt_get("install", "-s", "orvel-version").stdout)
                self.assertEqual(tool(world).stdout.splitlines(), ["update refused", world.url("next")])
                self.assertIs(UpdateValidatorAptArgs([]).validate(), False)


class QueryEnvironmentTest(unittest.TestCase):
    def test_nothing_of_the_callers_environment_changes_the_answer(self):
        # 1.8.0 comes only through a provider, which the queries read with
        # bash's read and gawk.
        with AptWorld("1.7.2", [MAIN, ("next", "1.8.0", [])], debs=True, packages=INSTALLED) as world:
            world.local_deb("1.0", "orvel-system", ["Provides: orvel-version (= 1.0+v1.8.0)"],
                            into=os.path.join(world.dir, "repos", "next"))
            world.reindex("next")
            mawk = os.path.join(world.dir, "mawk-as-awk")
            os.mkdir(mawk)
            os.symlink(shutil.which("mawk"), os.path.join(mawk, "awk"))
            heap = os.path.join(world.dir, "gawk-heap")
            cases = {"TMOUT": {"TMOUT": "0.0001"},
                     "GAWK_PERSIST_FILE": {"GAWK_PERSIST_FILE": heap},
                     "mawk as awk": {"PATH": mawk + ":" + os.environ["PATH"]}}
            for name, env in cases.items():
                with self.subTest(name):
                    for _ in range(2):
                        result = tool(world, "--json", env=env)
                        self.assertEqual(result.returncode, 1, result.stderr)
                        refusals = json.loads(result.stdout)["refusals"]
                        self.assertEqual([(refusal["version"], refusal["rule"]) for refusal in refusals],
                                         [("1.8.0", "major-version-changed")], result.stdout)
            self.assertFalse(os.path.exists(heap))


if __name__ == "__main__":
    unittest.main()
