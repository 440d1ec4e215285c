# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""An update driver lives for hours and asks again and again: nothing may pile
up in its process."""

import os
import unittest

from orvelupdatechecks import UpdateValidatorAptArgs

from aptworld import AptWorld

ROUNDS = 500
WARM_UP = 50


def open_descriptors():
    return len(os.listdir("/proc/self/fd"))


def children():
    """Processes whose parent is this one, zombies included."""
    found = []
    me = os.getpid()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry, "rb") as stat:
                fields = stat.read().rsplit(b")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == me:
            found.append((int(entry), fields[0].decode()))
    return found


def resident_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS")


class LongRunningTest(unittest.TestCase):
    def test_five_hundred_rounds_leave_nothing_behind(self):
        with AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"]), ("next", "1.8.0", ["1.0+v1.8.0"]),
                                ("fix", "1.6.0.hotfix", ["1.0+v1.7.4"])]) as world:
            expected = sorted([world.url("next"), world.url("fix")])
            descriptors = open_descriptors()
            self.assertEqual(children(), [])
            resident_after_warm_up = None
            for round_ in range(ROUNDS):
                checker = UpdateValidatorAptArgs(["-o", "Debug::Orvel=%d" % round_])
                self.assertIs(checker.validate(), False)
                self.assertEqual(sorted(checker.get_invalid_sources()), expected)
                del checker
                if round_ + 1 == WARM_UP:
                    resident_after_warm_up = resident_kib()
            grown = resident_kib() - resident_after_warm_up

        self.assertEqual(open_descriptors(), descriptors)
        self.assertEqual(children(), [])
        self.assertLess(grown, 2048, "resident memory grew by %d KiB after the first %d rounds" % (grown, WARM_UP))
        print("\n%d rounds: resident memory grew by %d KiB after round %d" % (ROUNDS, grown, WARM_UP))


if __name__ == "__main__":
    unittest.main()
