# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""An interrupted tool, or a caller that dies mid-check, leaves nothing of
its checks running and ends nothing else."""

import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from aptworld import SUPPORT_DIR, AptWorld, fake_apt_path

TOOL = os.environ["ORVEL_UPDATE_CHECK"]


def running(pid):
    """True while the process exists and is not a zombie (init may never
    reap what is handed to it)."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


class SleepingAptCache:
    """A world whose apt-cache sleeps for a minute in each call."""

    def __enter__(self):
        self.world = AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"])]).__enter__()
        self.fake = tempfile.TemporaryDirectory()
        with open(os.path.join(self.fake.name, "sleep"), "w") as sleep:
            sleep.write("60")
        self.env = dict(os.environ, PATH=fake_apt_path(self.fake.name))
        return self

    def apt_cache(self):
        """The pid of the sleeping apt-cache, once it sleeps."""
        path = os.path.join(self.fake.name, "pid")
        deadline = time.monotonic() + 30
        while not os.path.exists(path) and time.monotonic() < deadline:
            time.sleep(0.01)
        time.sleep(0.05)
        with open(path) as pids:
            return int(pids.read().split()[0])

    def __exit__(self, *exc):
        self.fake.cleanup()
        self.world.__exit__(*exc)
        return False


def default_signals():
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, signal.SIG_DFL)


class InterruptionTest(unittest.TestCase):
    def assertEnds(self, pid):
        deadline = time.monotonic() + 10
        while running(pid) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertFalse(running(pid), "apt-cache still running")

    def test_interrupt_spares_a_child_inherited_in_the_callers_group(self):
        # The tool inherits a sleep of its caller's group across exec.
        with SleepingAptCache() as world:
            caller = subprocess.Popen(
                ["bash", "-c", 'bash -c "sleep 1000 & exec setsid \\"\\$0\\"" "$0" & echo $!; wait; sleep 1000', TOOL],
                stdout=subprocess.PIPE, env=world.env, start_new_session=True, preexec_fn=default_signals)
            try:
                tool = int(caller.stdout.readline())
                apt_cache = world.apt_cache()
                os.kill(tool, signal.SIGTERM)
                self.assertEnds(apt_cache)
                time.sleep(0.5)
                self.assertIsNone(caller.poll(), "the caller was killed")
            finally:
                try:
                    os.killpg(caller.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                caller.wait()
                caller.stdout.close()

    @unittest.skipUnless(os.geteuid() == 0, "needs a private mount namespace")
    def test_interrupted_tool_without_proc_leaves_no_child(self):
        with SleepingAptCache() as world:
            tool = subprocess.Popen(["unshare", "-m", "sh", "-c", 'umount -l /proc && exec "$0"', TOOL],
                                    stdout=subprocess.PIPE, env=world.env, preexec_fn=default_signals)
            apt_cache = world.apt_cache()
            tool.send_signal(signal.SIGTERM)
            stdout, _ = tool.communicate(timeout=30)
            self.assertEqual((tool.returncode, stdout), (128 + signal.SIGTERM, b""))
            self.assertEnds(apt_cache)

    def test_python_caller_killed_mid_check_leaves_nothing(self):
        with SleepingAptCache() as world:
            caller = subprocess.Popen(
                [sys.executable, "-c", "from orvelupdatechecks import UpdateValidatorAptArgs\n"
                 "UpdateValidatorAptArgs([]).validate()"], env=world.env)
            apt_cache = world.apt_cache()
            caller.kill()
            caller.wait()
            self.assertEnds(apt_cache)

    def test_signal_ignored_at_start_stays_ignored(self):
        with SleepingAptCache() as world:
            with open(os.path.join(world.fake.name, "sleep"), "w") as sleep:
                sleep.write("1")

            def hangup_ignored():
                default_signals()
                signal.signal(signal.SIGHUP, signal.SIG_IGN)

            tool = subprocess.Popen([TOOL], stdout=subprocess.PIPE, env=world.env, preexec_fn=hangup_ignored)
            world.apt_cache()
            tool.send_signal(signal.SIGHUP)
            stdout, _ = tool.communicate(timeout=120)
            self.assertIn(tool.returncode, (0, 1))
            self.assertRegex(stdout, b"^update (allowed|refused)\n")


if __name__ == "__main__":
    unittest.main()
