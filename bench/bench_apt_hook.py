# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""What the apt guard adds to an apt run.

  install       apt-get install of one package (an allowed upgrade) in an
                offline world whose dpkg records and installs nothing, with
                the guard's configuration and without it, interleaved;
  removal only  orvel-update-check --apt-hook judging a request that only
                removes a package, as apt sends it: the guard's cost for a
                run that it has nothing to check in (target: under 5 ms);
  upgrade       apt-get upgrade of 200 packages, with and without the
                guard, which then reads each of the 200 archives
                (BENCH_UPGRADE_ROUNDS rounds, 5 by default).

Run it with scripts/bench, which passes the tool in ORVEL_UPDATE_CHECK.
"""

import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests", "python"))
from aptworld import AptWorld  # noqa: E402

ROUNDS = int(os.environ.get("BENCH_ROUNDS", "31"))
TOOL = os.environ["ORVEL_UPDATE_CHECK"]
REPOS = [("main", "1.7.5", ["1.0+v1.7.5"]), ("fix", "1.7.2.hotfix1", ["1.0+v1.7.2.1"])]
UPGRADE_ROUNDS = int(os.environ.get("BENCH_UPGRADE_ROUNDS", "5"))
UPGRADED = ["orvel-bench%03d" % number for number in range(200)]


def world(guarded):
    return AptWorld("1.7.2", REPOS, debs=True, packages=["orvel-version=1.0+v1.7.2"], guard=TOOL if guarded else None)


def upgrade_world(guarded):
    return AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"] + [name + "=2.0" for name in UPGRADED])], debs=True,
                    packages=["orvel-version=1.0+v1.7.2"] + [name + "=1.0" for name in UPGRADED],
                    guard=TOOL if guarded else None)


def time_install(world_, *args):
    start = time.perf_counter()
    world_.apt_get("-q", *(args or ("install", "orvel-version"))).check_returncode()
    return (time.perf_counter() - start) * 1000.0


def time_removal_only(request):
    start = time.perf_counter()
    subprocess.run([TOOL, "--apt-hook"], input=request, check=True)
    return (time.perf_counter() - start) * 1000.0


def main():
    plain, guarded = world(False), world(True)
    # What apt 2.6 sends for "apt-get remove orvel-extra", its configuration cut down.
    removal = (b"VERSION 3\nAPT::Architecture=amd64\nDir=/var/lib/orvel-bench/\n\n"
               b"orvel-extra 1.0 all none > - - none **REMOVE**\n")
    samples = {"plain": [], "guarded": [], "removal": []}
    for round_ in range(ROUNDS + 1):
        runs = [("plain", lambda: time_install(plain)), ("guarded", lambda: time_install(guarded)),
                ("removal", lambda: time_removal_only(removal))]
        if round_ % 2:
            runs.reverse()
        for name, run in runs:
            result = run()
            if round_:
                samples[name].append(result)
    assert any("--unpack" in call for call in guarded.dpkg_calls()), "the guarded install did not reach dpkg"

    plain_ms, guarded_ms = statistics.median(samples["plain"]), statistics.median(samples["guarded"])
    removal_ms = statistics.median(samples["removal"])
    print("Medians over %d interleaved rounds" % ROUNDS)
    print()
    print("apt-get install of one package:  without guard %7.2f ms   with guard %7.2f ms   ratio %5.3f   guard adds %6.2f ms"
          % (plain_ms, guarded_ms, guarded_ms / plain_ms, guarded_ms - plain_ms))
    print("guard on a removal-only run:     %5.2f ms (target < 5 ms: %s)"
          % (removal_ms, "met" if removal_ms < 5.0 else "MISSED"))
    plain.close()
    guarded.close()

    plain, guarded = upgrade_world(False), upgrade_world(True)
    samples = {"plain": [], "guarded": []}
    for round_ in range(UPGRADE_ROUNDS + 1):
        runs = [("plain", plain), ("guarded", guarded)]
        for name, world_ in reversed(runs) if round_ % 2 else runs:
            result = time_install(world_, "upgrade")
            if round_:
                samples[name].append(result)
    unpacked = [call for call in guarded.dpkg_calls() if "--unpack" in call]
    assert sum(call.count(".deb") for call in unpacked) >= len(UPGRADED), "the guarded upgrade did not reach dpkg"
    plain_ms, guarded_ms = statistics.median(samples["plain"]), statistics.median(samples["guarded"])
    print("apt-get upgrade of %d packages: without guard %7.2f ms   with guard %7.2f ms   ratio %5.3f   guard adds %6.2f ms"
          " (medians of %d rounds)" % (len(UPGRADED) + 1, plain_ms, guarded_ms, guarded_ms / plain_ms,
                                       guarded_ms - plain_ms, UPGRADE_ROUNDS))
    plain.close()
    guarded.close()


if __name__ == "__main__":
    main()
