# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""Wall time of an ansible-playbook run of orvel.update.gated_upgrade
against 4 and against 20 local hosts (forks 10), each in an offline apt world
of its own: a third allowed and upgraded, the others refused (major-version
jump, forbidden hotfix). Rounds interleaved; medians printed.

Run it with scripts/bench, which passes the tool in ORVEL_UPDATE_CHECK and
the managed nodes' Python 3.7 in ORVEL_NODE_PYTHON37.
"""

import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests", "python"))
from fleet import Fleet  # noqa: E402

ROUNDS = int(os.environ.get("BENCH_ANSIBLE_ROUNDS", "5"))
MAIN = ("main", "1.7.5", ["1.0+v1.7.5", "orvel-extra=2.0"])
KINDS = [[MAIN], [MAIN, ("next", "1.8.0", ["1.0+v1.8.0"])], [MAIN, ("fix", "1.6.0.hotfix1", ["orvel-extra=3.0"])]]


def fleet(size):
    hosts = [("host%02d" % i, KINDS[i % len(KINDS)], "local") for i in range(size)]
    return Fleet(hosts, os.environ["ORVEL_UPDATE_CHECK"], os.environ["ORVEL_NODE_PYTHON37"])


def main():
    fleets = {size: fleet(size) for size in (4, 20)}
    times = {size: [] for size in fleets}
    try:
        for _ in range(ROUNDS):
            for size, hosts in fleets.items():
                start = time.perf_counter()
                result = hosts.playbook()
                elapsed = time.perf_counter() - start
                if result.returncode != 0:
                    raise SystemExit(result.stdout + result.stderr)
                times[size].append(elapsed)
        print("hosts  play wall s  per host s  (median of %d rounds, forks 10)" % ROUNDS)
        for size, samples in times.items():
            median = statistics.median(samples)
            print("%5d  %11.2f  %10.3f" % (size, median, median / size))
        ratio = statistics.median(times[20]) / statistics.median(times[4])
        print("20 hosts take %.2f times as long as 4 (5 times the hosts)" % ratio)
    finally:
        for hosts in fleets.values():
            hosts.close()


if __name__ == "__main__":
    main()
