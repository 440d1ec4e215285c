# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""orvel-update-check --apt-hook as apt's pre-install hook, run by a real
apt-get in an offline world whose dpkg only records what it is asked."""

import os
import shutil
import socket
import subprocess
import tempfile
import unittest

from aptworld import AptWorld, SUPPORT_DIR, fake_apt_path

TOOL = os.environ["ORVEL_UPDATE_CHECK"]
PRIVATE_DEV_LOG = os.path.join(SUPPORT_DIR, "with-private-dev-log")

INSTALLED = ["orvel-version=1.0+v1.7.2", "orvel-extra=1.0"]
MAIN = ("main", "1.7.5", ["1.0+v1.7.5", "orvel-extra=2.0"])
# A package that takes over orvel-version at 1.8.0, as Debian packages
# replace one another.
TAKES_OVER = ("Provides: orvel-version (= 1.0+v1.8.0)", "Conflicts: orvel-version", "Replaces: orvel-version")


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
            result = world.apt_get("remove", "orvel-extra", path=fake_apt_path(calls))
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual([name for name in os.listdir(calls) if name.startswith("call.")], [])
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

    def test_removed_guard_package_lets_runs_through_and_says_so(self):
        with GuardedWorld([MAIN, ("next", "1.8.0", ["1.0+v1.8.0"])]) as world:
            os.remove(world.guard_switch)
            result = world.apt_get("install", "orvel-version")
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn("the update guard is off for this apt run (%s is missing" % world.guard_switch,
                          result.stderr)
            self.assertTrue(world.unpacked())

    def test_guard_off_is_said_for_a_run_that_installs_nothing(self):
        with GuardedWorld([MAIN]) as world:
            result = world.apt_get("-o", "Orvel::Update-Guard=false", "remove", "orvel-extra")
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn("the update guard is off for this apt run", result.stderr)

    def test_unknown_scope_stops_apt(self):
        with GuardedWorld([MAIN]) as world:
            result = world.apt_get("-o", "Orvel::Update-Guard::Scope=orvel", "install", "orvel-version")
            self.assertNotEqual(result.returncode, 0)
            self.assertIn('Orvel::Update-Guard::Scope is "orvel"', result.stderr)
            self.assertFalse(world.unpacked(), world.dpkg_calls())

    def test_sources_scope_stops_only_runs_that_take_from_a_refused_source(self):
        allowed = ("main", "1.7.5", ["1.0+v1.7.5", "orvel-extra=2.0", "vim=9.0"])
        refused = ("old-fix", "1.6.0.hotfix1", ["hello=2.0", "orvel-extra=2.0"])
        with GuardedWorld([allowed, refused]) as world:
            def failing(program, script):
                os.makedirs(os.path.join(world.dir, program))
                with open(os.path.join(world.dir, program, program), "w") as fake:
                    fake.write("#!/bin/sh\n" + script + "\n")
                os.chmod(os.path.join(world.dir, program, program), 0o755)
                return os.path.join(world.dir, program) + ":" + os.environ["PATH"]
            # apt-cache failing for the packages of the run; apt-get unable
            # to list the package files that apt's sources describe.
            fails_for_vim = failing("apt-cache", 'for a; do [ "$a" = vim ] && exit 100; done\n'
                                                 'exec /usr/bin/apt-cache "$@"')
            no_trusted_list = failing("apt-get", "exit 100")
            # scope option, package, PATH, what stderr says
            for scope, package, path, says in (
                    ((), "vim", None, "offer refused versions; this run takes nothing from them"),
                    (("-o", "Orvel::Update-Guard::Scope=all"), "vim", None, None),
                    ((), "hello", None, "this run takes hello 2.0 from " + world.url("old-fix")),
                    ((), "orvel-extra", None, "this run takes orvel-extra 2.0 from " + world.url("old-fix")),
                    ((), "vim", fails_for_vim, "apt could not say which sources"),
                    ((), "vim", no_trusted_list, "apt could not say which releases the sources announce")):
                with self.subTest(scope=scope, package=package, path=path):
                    if os.path.exists(os.path.join(world.dir, "dpkg.calls")):
                        os.remove(os.path.join(world.dir, "dpkg.calls"))
                    result = world.apt_get(*scope, "install", package, path=path, program="/usr/bin/apt-get")
                    passes = says is not None and says.startswith("offer")
                    self.assertEqual(result.returncode == 0, passes, result.stderr)
                    self.assertEqual(world.unpacked(), passes)
                    if path != no_trusted_list:
                        self.assertIn(world.url("old-fix"), result.stderr)
                    if not passes and path is None:
                        # The remedy that keeps the gate, with the file that
                        # configures the source, before the override.
                        self.assertIn(world.url("old-fix") + " ./ (configured in %s/apt/sources.list, line 2)"
                                      % world.dir, result.stderr)
                        self.assertLess(result.stderr.index("To keep the gate: disable the sources named above"),
                                        result.stderr.index("To install it anyway"))
                    if says:
                        self.assertIn(says, result.stderr)

    def test_unattended_upgrade_applies_updates_beside_a_refused_source(self):
        with GuardedWorld([MAIN, ("old-fix", "1.6.0.hotfix1", ["hello=2.0"])]) as world:
            run, dpkg_log = world.unattended_upgrade()
            self.assertEqual(run.returncode, 0, run.stdout)
            self.assertIn("offer refused versions; this run takes nothing from them", dpkg_log)
            self.assertTrue(any("orvel-extra_2.0" in call for call in world.dpkg_calls()), run.stdout)

    def test_local_package_files_are_judged_like_offered_versions(self):
        for version, scope, allowed in (("1.0+v1.8.0", "all", False), ("1.0+v1.7.5", "all", True),
                                        ("1.0+v1.6.0.hotfix1", "all", False), ("1.0+v2.0", "all", False),
                                        ("1.0+v1.8", "all", False),
                                        ("1.0+v1.8.0", "orvel-version", False)):
            with self.subTest(version=version, scope=scope), GuardedWorld([MAIN]) as world:
                deb = world.local_deb(version)
                result = world.apt_get("-o", "Orvel::Update-Guard::Scope=" + scope, "--allow-downgrades", "install", deb)
                self.assertEqual(result.returncode == 0, allowed, result.stderr)
                self.assertEqual(world.unpacked(), allowed, world.dpkg_calls())
                if not allowed:
                    self.assertIn("\n  %s " % version.split("+v")[1], result.stderr)
                    self.assertIn("offered by " + deb, result.stderr)
                    self.assertNotIn("offered by " + world.url("main"), result.stderr)
                    # A file is no configured source to disable.
                    self.assertIn("To keep the gate: put right what is named above", result.stderr)

    def test_short_versions_and_an_unknown_installed_release_stop_the_upgrade(self):
        for installed, version in (("1.7.2", "1.0+v2.0"), ("1.7.2", "1.0+v1.8"), ("-", "1.0+v99.99.0")):
            with self.subTest(installed=installed, version=version), \
                    AptWorld(installed, [("next", "", [version])], debs=True, packages=INSTALLED, guard=TOOL) as world:
                result = world.apt_get("dist-upgrade")
                self.assertEqual(result.returncode, 100, result.stderr)
                self.assertIn("orvel-update-check: the update is refused", result.stderr)
                self.assertFalse(any("--unpack" in call for call in world.dpkg_calls()), world.dpkg_calls())

    def test_a_package_that_takes_over_orvel_version_is_judged(self):
        # From a repository and from a local file; under either scope. A
        # run that takes nothing of orvel-version passes the narrow scope.
        for scope in ("all", "orvel-version"):
            with self.subTest(scope=scope), GuardedWorld([MAIN, ("next", "1.8.0", [])]) as world:
                option = ("-o", "Orvel::Update-Guard::Scope=" + scope)
                world.local_deb("1.0+v1.8.0", "orvel-system", TAKES_OVER, into=os.path.join(world.dir, "repos", "next"))
                world.reindex("next")
                local = world.local_deb("1.0+v1.8.1", "orvel-system", [TAKES_OVER[0].replace("1.8.0", "1.8.1")])
                for package, source in (("orvel-system", world.url("next")), (local, local)):
                    result = world.apt_get(*option, "install", package)
                    self.assertNotEqual(result.returncode, 0, result.stderr)
                    self.assertIn("changes the major version of the installed 1.7.2", result.stderr)
                    self.assertIn("offered by " + source, result.stderr)
                    self.assertFalse(world.unpacked(), world.dpkg_calls())
                if scope == "orvel-version":
                    result = world.apt_get(*option, "install", "orvel-extra")
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertTrue(world.unpacked())

    def test_an_archive_that_is_not_what_the_index_says_is_refused(self):
        # The index says 1.7.6 (sizes and hashes right) of an archive that
        # holds 1.8.0.
        with GuardedWorld([MAIN, ("next", "1.7.6", ["1.0+v1.7.6"])]) as world:
            repo = os.path.join(world.dir, "repos", "next")
            named = os.path.join(repo, "orvel-version_1.0+v1.7.6_all.deb")
            os.replace(world.local_deb("1.0+v1.8.0", into=world.dir), named)
            world.reindex("next", lambda index: index.replace("Version: 1.0+v1.8.0", "Version: 1.0+v1.7.6"))
            result = world.apt_get("install", "orvel-version")
            self.assertNotEqual(result.returncode, 0)
            # apt names the file by the repository's path and the index's ./name
            self.assertIn("the archive %s/./%s holds orvel-version 1.0+v1.8.0 (all), not the orvel-version 1.0+v1.7.6 "
                          "that apt's index names for it" % os.path.split(named), result.stderr)
            self.assertFalse(world.unpacked(), world.dpkg_calls())

    def test_apt_front_end_stops_a_local_file_too(self):
        with GuardedWorld([MAIN]) as world:
            deb = world.local_deb("1.0+v1.8.0")
            result = world.apt_get("install", deb, program="apt")
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("offered by " + deb, result.stderr)
            self.assertFalse(world.unpacked(), world.dpkg_calls())

    def test_request_on_apt_info_fd_is_read_there(self):
        # apt's standard input is left as it was: here, nothing to read.
        info_fd = ("-o", "DPkg::Tools::Options::%s::InfoFD=20" % TOOL)
        with GuardedWorld([MAIN, ("next", "1.8.0", ["1.0+v1.8.0"])]) as world:
            refused = world.apt_get(*info_fd, "install", "orvel-version", stdin=subprocess.DEVNULL)
            self.assertNotEqual(refused.returncode, 0)
            self.assertIn("1.8.0 changes the major version", refused.stderr)
            self.assertFalse(world.unpacked())
        with GuardedWorld([MAIN]) as world:
            allowed = world.apt_get(*info_fd, "install", "orvel-version", stdin=subprocess.DEVNULL)
            self.assertEqual(allowed.returncode, 0, allowed.stderr)
            self.assertTrue(world.unpacked())


# A request that the guard refuses once it looks: it installs orvel-version
# 1.8.0 from a file over the installed 1.7.2 (with no sources at all).
_JUMP_DIR = tempfile.TemporaryDirectory(prefix="orvel-jump-")
JUMP_DEB = subprocess.run([os.path.join(SUPPORT_DIR, "make-deb"), "orvel-version", "1.0+v1.8.0", _JUMP_DIR.name],
                          check=True, stdout=subprocess.PIPE).stdout.strip()
JUMP_FROM_FILE = (b"VERSION 3\nDir=/nonexistent/\n%s\n"
                  b"orvel-version 1.0+v1.7.2 all none < 1.0+v1.8.0 all none " + JUMP_DEB.replace(b"%", b"%%") + b"\n")


def jump_from_file(setting=b""):
    return JUMP_FROM_FILE % (setting + b"\n" if setting else b"")


class AptHookInputTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls._sysroot = tempfile.TemporaryDirectory()
        os.chmod(cls._sysroot.name, 0o755)
        os.mkdir(os.path.join(cls._sysroot.name, "etc"))
        with open(os.path.join(cls._sysroot.name, "etc", "orvel_version"), "w") as version:
            version.write("1.7.2\n")

    @classmethod
    def tearDownClass(cls):
        cls._sysroot.cleanup()

    def judge(self, request, tool=TOOL, wrapper=(), env=None, **kwargs):
        env = dict(os.environ, ORVEL_SYSROOT=self._sysroot.name, **(env or {}))
        return subprocess.run(list(wrapper) + [tool, "--apt-hook"], input=request, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60, env=env, **kwargs)

    def test_requested_file_is_judged_without_any_source(self):
        result = self.judge(jump_from_file())
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"1.8.0 changes the major version of the installed 1.7.2\n"
                      b"    offered by " + JUMP_DEB + b"\n", result.stderr)
        self.assertIn(b"/etc/apt/apt.conf.d/", result.stderr)

    def test_info_fd_that_names_no_readable_descriptor_refuses(self):
        with tempfile.TemporaryFile() as scratch:
            write_only = os.open("/dev/null", os.O_WRONLY)
            try:
                for value in ("", "stdin", "1000", str(write_only)):
                    with self.subTest(value=value):
                        result = self.judge(jump_from_file(), env={"APT_HOOK_INFO_FD": value}, pass_fds=(write_only,))
                        self.assertEqual(result.returncode, 1)
                        self.assertIn(b"APT_HOOK_INFO_FD is", result.stderr)
            finally:
                os.close(write_only)

    def test_switch_file_that_cannot_be_examined_keeps_the_guard_on(self):
        with tempfile.TemporaryDirectory() as dir:
            os.chmod(dir, 0o755)
            loop = os.path.join(dir, "loop")
            os.symlink(loop, loop)
            closed = os.path.join(dir, "closed")
            os.mkdir(closed, 0o000)
            cases = [("ENOTDIR", "/etc/passwd/enabled", ()), ("ELOOP", loop, ()),
                     ("EACCES", os.path.join(closed, "enabled"),
                      # root, but without the capabilities that pass over file modes
                      ("setpriv", "--bounding-set=-dac_override,-dac_read_search"))]
            for errno_name, path, wrapper in cases:
                with self.subTest(errno=errno_name):
                    result = self.judge(jump_from_file(b"Orvel::Update-Guard::Enabled-By=" + path.encode()),
                                        wrapper=wrapper)
                    self.assertEqual(result.returncode, 1, result.stderr)
                    self.assertIn(b"1.8.0 changes the major version", result.stderr)

    def test_guard_whose_checks_cannot_start_refuses(self):
        with tempfile.TemporaryDirectory() as dir:
            lonely = os.path.join(dir, "orvel-update-check")
            shutil.copy(TOOL, lonely)
            alone = subprocess.run([lonely], stdin=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)
            self.assertEqual(alone.returncode, 4)
            self.assertIn(b"cannot start", alone.stderr)
            hook = self.judge(jump_from_file(), tool=lonely)
            self.assertEqual(hook.returncode, 1)
            self.assertIn(b"the update is refused: the checks did not run: cannot start", hook.stderr)

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

    def test_other_options_and_arguments_are_usage_errors(self):
        for extra in (["--json"], ["--", "-o", "Dir=/"], ["-o"]):
            with self.subTest(extra=extra):
                result = subprocess.run([TOOL, "--apt-hook"] + extra, stdin=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE, timeout=60)
                self.assertEqual(result.returncode, 2, result.stderr)


class SystemLogTest(unittest.TestCase):
    """The guard's system log lines, caught on a /dev/log of the test's own."""

    def setUp(self):
        self._dir = tempfile.TemporaryDirectory()
        self.socket_path = os.path.join(self._dir.name, "log")
        self.log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.log.bind(self.socket_path)
        self.log.settimeout(0)

    def tearDown(self):
        self.log.close()
        self._dir.cleanup()

    def received(self):
        lines = []
        try:
            while True:
                lines.append(self.log.recv(65536).decode())
        except BlockingIOError:
            return lines

    def test_refusals_and_unchecked_passes_are_logged(self):
        wrapper = (PRIVATE_DEV_LOG, self.socket_path)
        fix = ("fix", "1.6.0.hotfix1", ["orvel-extra=3.0"])
        with GuardedWorld([MAIN, ("next", "1.8.0", ["1.0+v1.8.0"]), fix]) as world:
            refused = world.apt_get("install", "orvel-version", "orvel-extra", wrapper=wrapper)
            self.assertNotEqual(refused.returncode, 0)
            lines = self.received()
            # One warning (user facility: <12>) per refusal.
            self.assertEqual(len(lines), 2, lines)
            self.assertTrue(all(line.startswith("<12>") and " orvel-update-check[" in line for line in lines), lines)
            self.assertTrue(lines[0].endswith("update refused: 1.8.0 (linear, major-version-changed), installed 1.7.2, "
                                              "offered by " + world.url("next") + " ./"), lines[0])
            self.assertTrue(lines[1].endswith("update refused: 1.6.0.hotfix1 (hotfix, hotfix-not-allowed), "
                                              "installed 1.7.2, offered by " + world.url("fix") + " ./"), lines[1])

            off = world.apt_get("-o", "Orvel::Update-Guard=false", "install", "orvel-version", wrapper=wrapper)
            self.assertEqual(off.returncode, 0, off.stderr)
            os.remove(world.guard_switch)
            removed = world.apt_get("install", "orvel-version", wrapper=wrapper)
            self.assertEqual(removed.returncode, 0, removed.stderr)
            notices = self.received()
            self.assertEqual(len(notices), 2, notices)
            self.assertTrue(all(line.startswith("<13>") for line in notices), notices)
            self.assertIn("(Orvel::Update-Guard=false): nothing was checked", notices[0])
            self.assertIn("(%s is missing: the package orvel-update-guard was removed)" % world.guard_switch,
                          notices[1])

    def test_a_refusal_that_apt_could_not_answer_says_so_in_the_system_log(self):
        with GuardedWorld([MAIN, ("next", "1.8.0", ["1.0+v1.8.0"])]) as world, \
                tempfile.TemporaryDirectory() as fake:
            # No list of package files: neither versions nor sources are known.
            with open(os.path.join(fake, "apt-get"), "w") as apt_get:
                apt_get.write("#!/bin/sh\nexit 100\n")
            os.chmod(os.path.join(fake, "apt-get"), 0o755)
            result = world.apt_get("install", "orvel-version", wrapper=(PRIVATE_DEV_LOG, self.socket_path),
                                   path=fake + ":" + os.environ["PATH"], program="/usr/bin/apt-get")
            self.assertNotEqual(result.returncode, 0)
            lines = self.received()
            self.assertIn("update refused: versions unknown (linear, versions-unknown), installed 1.7.2, apt said: ",
                          lines[0])

    def test_unreadable_request_is_logged(self):
        result = subprocess.run([PRIVATE_DEV_LOG, self.socket_path, TOOL, "--apt-hook"], input=b"garbage\n",
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(result.returncode, 1)
        lines = self.received()
        self.assertEqual(len(lines), 1, lines)
        self.assertIn("update refused: apt did not say which hook protocol it speaks", lines[0])

    def test_no_log_daemon_or_a_stalled_one_holds_no_apt_run(self):
        stalled = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        stalled.connect(self.socket_path)
        stalled.setblocking(False)
        try:
            while True:
                stalled.send(b"<14>filler")
        except BlockingIOError:
            pass
        for log in ("-", self.socket_path):
            with self.subTest(log=log):
                result = subprocess.run([PRIVATE_DEV_LOG, log, TOOL, "--apt-hook"], input=b"garbage\n",
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
                self.assertEqual(result.returncode, 1)
                self.assertIn(b"the update is refused", result.stderr)
        stalled.close()


if __name__ == "__main__":
    unittest.main()
