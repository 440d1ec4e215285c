# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""orvel-update-check --prometheus, checked by Prometheus' promtool, and the
writer of the node exporter's metrics file with its units and apt hook."""

import grp
import os
import pwd
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest

from aptworld import SUPPORT_DIR, AptWorld, fake_apt_path

TOOL = os.environ["ORVEL_UPDATE_CHECK"]
SOURCE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir)
WRITER = os.path.join(SOURCE_DIR, "tools", "orvel-update-metrics")
MAIN = ("main", "1.7.5", ["1.0+v1.7.5"])


def metrics(*options):
    return subprocess.run([TOOL, "--prometheus"] + list(options), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          universal_newlines=True, timeout=120)


def read(path):
    with open(path) as text:
        return text.read()


def samples(text):
    """The sample lines: {series: value}."""
    return {line.rpartition(" ")[0]: line.rpartition(" ")[2] for line in text.splitlines()
            if line and not line.startswith("#")}


class PrometheusOutputTest(unittest.TestCase):
    def promtool_accepts(self, text):
        result = subprocess.run(["promtool", "check", "metrics"], input=text, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, universal_newlines=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stdout + text)

    def test_allowed_refused_and_failed_worlds(self):
        quoted = 'fix"\\1'
        worlds = {
            "allowed": ([MAIN], 0, {"orvel_update_allowed": "1", "orvel_update_check_success": "1",
                                    'orvel_update_installed_info{version="1.7.2"}': "1"}),
            "refused": ([MAIN, ("next", "1.8.0", ["1.0+v1.8.0"]), ("fix", "1.6.0.hotfix1", [])], 1,
                        {"orvel_update_allowed": "0", "orvel_update_check_success": "1",
                         'orvel_update_refusals{check="linear",rule="major-version-changed",version="1.8.0"}': "1",
                         'orvel_update_refusals{check="hotfix",rule="hotfix-not-allowed",version="1.6.0.hotfix1"}':
                             "1",
                         'orvel_update_installed_info{version="1.7.2"}': "1"}),
            # A release version that needs escaping in a label value: its
            # backslash escaped as everywhere, then once more for the label.
            "escaped": ([MAIN, ("odd", "1.6.0.hotfix" + quoted, [])], 1,
                        {'orvel_update_refusals{check="hotfix",rule="hotfix-not-allowed",'
                         'version="1.6.0.hotfixfix\\"\\\\\\\\1"}': "1"}),
        }
        for name, (repos, status, expected) in worlds.items():
            with self.subTest(world=name), AptWorld("1.7.2", repos):
                result = metrics()
                self.assertEqual(result.returncode, status, result.stderr)
                self.promtool_accepts(result.stdout)
                found = samples(result.stdout)
                for series, value in expected.items():
                    self.assertEqual(found.get(series), value, result.stdout)
                for line in result.stdout.splitlines():
                    if not line.startswith("#"):
                        # A value and no time stamp after the series.
                        after = line[line.rfind("}") + 1:] if "}" in line else line.partition(" ")[2]
                        self.assertEqual(len(after.split()), 1, line)

        with AptWorld("1.7.2", [MAIN]) as world:
            with open(os.path.join(world.dir, "apt", "sources.list"), "a") as sources:
                sources.write("this is no sources line\n")
            result = metrics()
            self.assertEqual(result.returncode, 1)
            self.promtool_accepts(result.stdout)
            found = samples(result.stdout)
            self.assertEqual((found["orvel_update_allowed"], found["orvel_update_check_success"]), ("0", "0"))
            self.assertEqual(found['orvel_update_refusals{check="linear",rule="versions-unknown",version=""}'], "1")

    def test_sources_that_apt_cannot_list_are_a_failed_check(self):
        # The package files that apt's sources describe cannot be listed:
        # the linear refusal stands, but the checks were not all made.
        with AptWorld("1.7.2", [MAIN, ("next", "1.8.0", ["1.0+v1.8.0"])]), tempfile.TemporaryDirectory() as fake:
            with open(os.path.join(fake, "apt-get"), "w") as apt_get:
                apt_get.write("#!/bin/sh\nexit 2\n")
            os.chmod(os.path.join(fake, "apt-get"), 0o755)
            result = subprocess.run([TOOL, "--prometheus"], stdout=subprocess.PIPE, universal_newlines=True,
                                    env=dict(os.environ, PATH=fake + ":" + os.environ["PATH"]), timeout=120)
        found = samples(result.stdout)
        self.assertEqual((found["orvel_update_allowed"], found["orvel_update_check_success"]), ("0", "0"))

    def test_prometheus_combines_with_no_other_output(self):
        for other in ("--json", "--why"):
            with self.subTest(other=other):
                self.assertEqual(metrics(other).returncode, 2)


class MetricsWriterTest(unittest.TestCase):
    def write(self, path, tool=TOOL):
        return subprocess.run([WRITER], env=dict(os.environ, ORVEL_UPDATE_METRICS_FILE=path, ORVEL_UPDATE_CHECK=tool),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True, timeout=120)

    def slow_writer(self, path):
        """The writer, in a session of its own, while apt-cache takes its time."""
        fake = tempfile.mkdtemp(dir=os.path.dirname(path))
        with open(os.path.join(fake, "sleep"), "w") as sleep:
            sleep.write("3\n")
        env = dict(os.environ, ORVEL_UPDATE_METRICS_FILE=path, ORVEL_UPDATE_CHECK=TOOL,
                   PATH=fake_apt_path(fake))
        return subprocess.Popen([WRITER], env=env, stderr=subprocess.PIPE, universal_newlines=True,
                                start_new_session=True)

    def test_a_reader_never_sees_half_a_file(self):
        with AptWorld("1.7.2", [MAIN, ("next", "1.8.0", ["1.0+v1.8.0"])]) as world:
            # The package makes the directory: the writer makes none.
            os.mkdir(os.path.join(world.dir, "textfile"))
            path = os.path.join(world.dir, "textfile", "orvel-update.prom")
            self.assertEqual(self.write(path).returncode, 0)
            whole = read(path)
            self.assertIn("orvel_update_allowed 0\n", whole)
            seen = []
            done = threading.Event()

            def reader_loop():
                while not done.is_set():
                    with open(path) as metrics_file:
                        seen.append(metrics_file.read())

            reader = threading.Thread(target=reader_loop)
            reader.start()
            try:
                for _ in range(30):
                    self.assertEqual(self.write(path).returncode, 0)
            finally:
                done.set()
                reader.join()
            self.assertGreater(len(seen), 30)
            self.assertEqual(set(seen), {whole})
            # Only the metrics file is left: no temporary file for the collector to read.
            self.assertEqual(os.listdir(os.path.dirname(path)), ["orvel-update.prom"])
            self.assertEqual(os.stat(path).st_mode & 0o777, 0o644)

    def test_a_tool_that_ends_without_a_verdict_leaves_refusing_metrics_not_the_old_verdict(self):
        # The launcher beside a tool proper that is missing, takes its
        # options for a usage error, or dies: the launcher publishes "not
        # checked" through the same writer, after an allowed run.
        main = os.path.join("libexec", "orvel-update-check", "orvel-update-check-main")
        for name, script, status in (("missing", None, 4), ("usage error", "exit 2", 2),
                                     ("killed", "kill -SEGV $$", 128 + signal.SIGSEGV)):
            with self.subTest(name), AptWorld("1.7.2", [MAIN]) as world:
                path = os.path.join(world.dir, "orvel-update.prom")
                self.assertEqual(self.write(path).returncode, 0)
                self.assertIn("orvel_update_allowed 1\n", read(path))
                tool = os.path.join(world.dir, "bin", "orvel-update-check")
                os.makedirs(os.path.dirname(tool))
                shutil.copy(TOOL, tool)
                if script:
                    os.makedirs(os.path.join(world.dir, os.path.dirname(main)))
                    with open(os.path.join(world.dir, main), "w") as program:
                        program.write("#!/bin/sh\n%s\n" % script)
                    os.chmod(os.path.join(world.dir, main), 0o755)
                result = self.write(path, tool)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn("the metrics say that nothing was checked", result.stderr)
                text = read(path)
                found = samples(text)
                self.assertEqual((found["orvel_update_allowed"], found["orvel_update_check_success"]), ("0", "0"))
                subprocess.run(["promtool", "check", "metrics"], input=text, universal_newlines=True, check=True)
                self.assertFalse([name for name in os.listdir(world.dir) if name.startswith(".orvel-update")])

    def test_a_verdict_that_cannot_be_written_leaves_no_old_one(self):
        # After an allowed run the file system fills up or turns read-only:
        # the old "allowed" is removed, or the writer says that it could not
        # be and fails. A 64 KiB tmpfs in a mount namespace of the test's.
        script = """set -u
            mount -t tmpfs -o size=64k,mode=755 tmpfs "$DIR"
            "$WRITER" || exit 10
            case $CASE in
                full) dd if=/dev/zero of="$DIR/filler" bs=4k 2>/dev/null ;;
                read-only) mount -o remount,ro "$DIR" ;;
            esac
            "$WRITER"; echo "status $?"
            if [ -e "$DIR/orvel-update.prom" ]; then echo "left:"; cat "$DIR/orvel-update.prom"; fi"""
        for case, left, said in (("full", False, "No space left on device; the previous verdict was removed"),
                                 ("read-only", True, "Read-only file system; the previous verdict could not be removed")):
            with self.subTest(case), AptWorld("1.7.2", [MAIN]) as world:
                directory = os.path.join(world.dir, "textfile")
                os.mkdir(directory)
                result = subprocess.run(
                    ["unshare", "--mount", "--propagation", "private", "sh", "-c", script],
                    env=dict(os.environ, DIR=directory, CASE=case, WRITER=WRITER, ORVEL_UPDATE_CHECK=TOOL,
                             ORVEL_UPDATE_METRICS_FILE=os.path.join(directory, "orvel-update.prom")),
                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True, timeout=120)
                self.assertIn("status 3\n", result.stdout, result.stderr)
                self.assertIn(said, result.stderr)
                self.assertEqual("left:" in result.stdout, left, result.stdout)

    def test_a_directory_that_is_not_roots_alone_is_refused(self):
        # Owned by another user, or writable by a group or by anyone: that
        # user could swap the file for a link. Nothing is written there.
        nobody = pwd.getpwnam("nobody")
        for name, owner, mode, said in (("another owner", nobody.pw_uid, 0o755, "belongs to another user"),
                                        ("group-writable", 0, 0o775, "can be written by other users"),
                                        ("world-writable", 0, 0o757, "can be written by other users")):
            with self.subTest(name), AptWorld("1.7.2", [MAIN]) as world:
                directory = os.path.join(world.dir, "textfile")
                os.mkdir(directory)
                os.chown(directory, owner, -1)
                os.chmod(directory, mode)
                result = self.write(os.path.join(directory, "orvel-update.prom"))
                self.assertEqual(result.returncode, 3, result.stderr)
                self.assertIn(said, result.stderr)
                self.assertEqual(os.listdir(directory), [])

    def test_the_journal_says_why_the_checks_could_not_be_made(self):
        # A broken sources line: the metrics count a failed check, the
        # writer's standard error (the unit's journal) carries apt's error.
        with AptWorld("1.7.2", [MAIN]) as world:
            with open(os.path.join(world.dir, "apt", "sources.list"), "a") as sources:
                sources.write("deb this-line-is-malformed\n")
            path = os.path.join(world.dir, "orvel-update.prom")
            result = self.write(path)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(samples(read(path))["orvel_update_check_success"], "0")
            self.assertRegex(result.stderr, r"orvel-update-check: the checks could not be made: .*apt said: E: ")

    def test_a_writer_stopped_during_the_checks_leaves_no_old_verdict(self):
        # As systemd stops the unit (or its time limit runs out): SIGTERM to
        # every process of it.
        with AptWorld("1.7.2", [MAIN]) as world:
            os.mkdir(os.path.join(world.dir, "textfile"))
            path = os.path.join(world.dir, "textfile", "orvel-update.prom")
            self.assertEqual(self.write(path).returncode, 0)
            self.assertIn("orvel_update_allowed 1\n", read(path))
            writer = self.slow_writer(path)
            time.sleep(1.5)
            os.killpg(writer.pid, signal.SIGTERM)
            writer.wait(timeout=30)
            # The shell is gone at once; as systemd does, wait for the whole group.
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline:
                try:
                    os.killpg(writer.pid, 0)
                except ProcessLookupError:
                    break
                time.sleep(0.05)
            found = samples(read(path))
            self.assertEqual((found["orvel_update_allowed"], found["orvel_update_check_success"]), ("0", "0"))
            self.assertEqual(os.stat(path).st_mode & 0o777, 0o644)
            self.assertEqual(sorted(name for name in os.listdir(os.path.dirname(path)) if not name.startswith("tmp")),
                             ["orvel-update.prom"])

    def test_a_directory_swapped_by_the_owner_of_its_parent_is_never_followed(self):
        # Debian's layout: /var/lib/prometheus belongs to the prometheus
        # user, node-exporter/ below it to root. That user (here nobody)
        # puts a link to a directory of its own in node-exporter's place.
        nobody = pwd.getpwnam("nobody")
        with tempfile.TemporaryDirectory() as top:
            os.chmod(top, 0o755)
            parent = os.path.join(top, "prometheus")
            os.mkdir(parent)
            os.chown(parent, nobody.pw_uid, grp.getgrnam("nogroup").gr_gid)
            textfile = os.path.join(parent, "node-exporter")
            os.mkdir(textfile, 0o755)
            path = os.path.join(textfile, "orvel-update.prom")
            secret = os.path.join(top, "secret")
            with open(secret, "w") as text:
                text.write("root's alone\n")
            os.chmod(secret, 0o600)
            theirs = os.path.join(parent, "theirs")
            attack = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "sh", "-ec",
                      'mkdir -p "$1/theirs" && ln -sf "$2" "$1/theirs/orvel-update.prom" && '
                      'mv "$1/node-exporter" "$1/moved" && ln -s theirs "$1/node-exporter"', "attack", parent, secret]

            # Before the writer runs: it refuses and changes nothing.
            subprocess.run(attack, check=True)
            result = self.write(path)
            self.assertEqual(result.returncode, 3)
            self.assertIn("symbolic link is not followed", result.stderr)
            self.assertEqual((os.stat(secret).st_mode & 0o777, read(secret)), (0o600, "root's alone\n"))
            self.assertEqual(os.listdir(theirs), ["orvel-update.prom"])
            self.assertEqual(os.listdir(os.path.join(parent, "moved")), [])

            # While the tool runs: it writes into the directory it opened.
            os.remove(textfile)
            shutil.rmtree(theirs)
            os.rename(os.path.join(parent, "moved"), textfile)
            writer = self.slow_writer(path)
            time.sleep(1)
            subprocess.run(attack, check=True)
            _, errors = writer.communicate(timeout=60)
            self.assertEqual(writer.returncode, 0, errors)
            self.assertEqual((os.stat(secret).st_mode & 0o777, read(secret)), (0o600, "root's alone\n"))
            self.assertTrue(os.path.islink(os.path.join(theirs, "orvel-update.prom")))
            self.assertIn("orvel_update_allowed", read(os.path.join(parent, "moved", "orvel-update.prom")))

    def test_apt_update_refreshes_the_metrics(self):
        # The apt hook as installed, pointing at the writer of this tree.
        with AptWorld("1.7.2", [MAIN, ("next", "1.8.0", ["1.0+v1.8.0"])]) as world:
            sources = os.path.join(world.dir, "apt", "sources.list")
            offered = read(sources)
            with open(sources, "w") as lines:
                lines.write("".join(line for line in offered.splitlines(True) if "/repos/next" not in line))
            path = os.path.join(world.dir, "orvel-update.prom")
            installed = os.path.join(world.dir, "orvel-update-metrics")
            with open(installed, "w") as wrapper:
                wrapper.write("#!/bin/sh\nORVEL_UPDATE_METRICS_FILE='%s' ORVEL_UPDATE_CHECK='%s' exec '%s'\n"
                              % (path, TOOL, WRITER))
            os.chmod(installed, 0o755)
            text = read(os.path.join(SOURCE_DIR, "etc", "apt", "apt.conf.d", "60orvel-update-metrics"))
            with open(os.path.join(world.dir, "apt", "apt.conf.d", "60orvel-update-metrics"), "w") as hook:
                hook.write(text.replace("/usr/libexec/orvel-update-metrics/orvel-update-metrics", installed))
            update = world.apt_get("update")
            self.assertEqual(update.returncode, 0, update.stderr)
            self.assertIn("orvel_update_allowed 1\n", read(path))
            # A repository that offers a major-version jump is added.
            with open(sources, "w") as lines:
                lines.write(offered)
            update = world.apt_get("update")
            self.assertEqual(update.returncode, 0, update.stderr)
            self.assertIn('orvel_update_refusals{check="linear",rule="major-version-changed",version="1.8.0"} 1',
                          read(path))


class SystemdUnitsTest(unittest.TestCase):
    def test_systemd_accepts_the_units(self):
        # systemd-analyze checks that ExecStart exists: the writer where the
        # package installs it, in a private mount namespace.
        units = os.path.join(SOURCE_DIR, "etc", "systemd")
        with tempfile.TemporaryDirectory() as libexec:
            os.mkdir(os.path.join(libexec, "orvel-update-metrics"))
            shutil.copy(WRITER, os.path.join(libexec, "orvel-update-metrics", "orvel-update-metrics"))
            result = subprocess.run(
                ["unshare", "--mount", "--propagation", "private", "sh", "-c",
                 'mount --bind "$0" /usr/libexec && exec systemd-analyze verify --man=no "$@"', libexec,
                 os.path.join(units, "orvel-update-metrics.service"), os.path.join(units, "orvel-update-metrics.timer")],
                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertEqual(result.stdout, "")
        # Root without capabilities, writing one directory, no network.
        score = subprocess.run(["systemd-analyze", "security", "--offline=yes",
                                os.path.join(units, "orvel-update-metrics.service")],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True, timeout=120)
        exposure = re.search(r"Overall exposure level for orvel-update-metrics.service: ([0-9.]+)", score.stdout)
        self.assertTrue(exposure, score.stdout)
        self.assertLessEqual(float(exposure.group(1)), 3.0, score.stdout)
        with open(os.path.join(units, "orvel-update-metrics.timer")) as timer:
            text = timer.read()
        self.assertIn("OnBootSec=0\n", text)
        self.assertIn("OnUnitActiveSec=15min\n", text)


if __name__ == "__main__":
    unittest.main()
