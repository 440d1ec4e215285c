# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""What the checks cost beside the apt commands they have to run.

For apt worlds of 1, 10 and 100 repositories it times, interleaved:
  library  UpdateValidatorAptArgs([]) plus validate(), from Python 3.7;
  floor    the apt commands the checks were built around, run directly by
           one bash in the same order: the package-manager query, the hotfix
           query and each check's versions-with-sources pipeline (six apt
           runs), without the trusted package-file list and without other
           architectures and providers, which the library adds.
and prints the medians, their ratio, and the CPU time of this process (the
library's own work) apart from that of its children; then, from one more
verdict of each with apt-cache and apt-get counted, how many apt runs each
makes.

Run it with scripts/bench.
"""

import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests", "python"))
from aptworld import AptWorld  # noqa: E402
from orvelupdatechecks import UpdateValidatorAptArgs  # noqa: E402

SIZES = (1, 10, 100)
ROUNDS = int(os.environ.get("BENCH_ROUNDS", "31"))

# The floor: the apt commands the checks were built around, each check's
# query as it was first written (no trusted package-file list, no other
# architectures or providers), run by one bash in the library's order: the
# package manager's madison, the hotfix query's policy, then the
# versions-with-sources pipeline of each of the two checks.
POLICY_RELEASES = ("apt-cache policy | awk '/^Package files:/ {inFiles = 1; next} /^Pinned packages:/ {inFiles = 0} "
                   "inFiles && /^ -?[0-9]+ / {url = $2; after = 1; next} "
                   "after && url && match($0, /^ +release v=([^,]+)/, ver) {print %s} {after = 0}'")
VERSIONS_WITH_SOURCES = ("set -o pipefail; (" + POLICY_RELEASES % 'ver[1] "|" url'
                         + " && apt-cache madison orvel-version 2>/dev/null | awk -F'|' 'NF >= 3 {print $2 \"|\" $3}'"
                         + " | sed 's/^[^|]*+v//') | sort -u")
FLOOR = "\n".join([
    "apt-cache madison orvel-version >/dev/null",
    "set -o pipefail; " + POLICY_RELEASES % "ver[1]" + " >/dev/null",
    VERSIONS_WITH_SOURCES + " >/dev/null",
    VERSIONS_WITH_SOURCES + " >/dev/null",
])


def repos(count):
    """An allowed update: regular releases of the installed line and hotfixes
    of offered releases."""
    result = []
    for i in range(count):
        minor = "1.7.%d" % (i // 2 + 3)
        release = minor + ".hotfix1" if i % 2 else minor
        result.append(("r%03d" % i, release, ["1.0+v%s.%d" % (minor, i)]))
    return result


def cpu_ms(usage):
    return (usage.ru_utime + usage.ru_stime) * 1000.0


def time_library():
    self0, children0 = resource.getrusage(resource.RUSAGE_SELF), resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    allowed = UpdateValidatorAptArgs([]).validate()
    elapsed = time.perf_counter() - start
    self1, children1 = resource.getrusage(resource.RUSAGE_SELF), resource.getrusage(resource.RUSAGE_CHILDREN)
    assert allowed, "the sample update should be allowed"
    return elapsed * 1000.0, cpu_ms(self1) - cpu_ms(self0), cpu_ms(children1) - cpu_ms(children0)


def time_floor():
    start = time.perf_counter()
    subprocess.run(["/usr/bin/bash", "-c", FLOOR], check=True)
    return (time.perf_counter() - start) * 1000.0


def count_apt_runs(run):
    """The apt programs that run() starts, by name and command: shims first on
    PATH note each call in a file (the library hands its children PATH, not
    other variables) and run the real program."""
    with tempfile.TemporaryDirectory() as shims:
        calls = os.path.join(shims, "calls")
        for program in ("apt-cache", "apt-get"):
            real = shutil.which(program)
            with open(os.path.join(shims, program), "w") as shim:
                shim.write('#!/bin/sh\necho "%s $1" >> %s\nexec %s "$@"\n' % (program, calls, real))
            os.chmod(os.path.join(shims, program), 0o755)
        path = os.environ["PATH"]
        os.environ["PATH"] = shims + os.pathsep + path
        try:
            run()
        finally:
            os.environ["PATH"] = path
        with open(calls) as lines:
            return lines.read().splitlines()


def main():
    worlds = {size: AptWorld("1.7.2", repos(size)) for size in SIZES}
    samples = {size: {"library": [], "floor": [], "own": [], "children": []} for size in SIZES}
    for round_ in range(ROUNDS + 1):
        for size in SIZES:
            with worlds[size].activated():
                # Alternate the order so that neither side always runs warm.
                runs = [("library", time_library), ("floor", time_floor)]
                if round_ % 2:
                    runs.reverse()
                for name, run in runs:
                    result = run()
                    if round_ == 0:
                        continue  # warm-up round
                    if name == "library":
                        wall, own, children = result
                        samples[size]["library"].append(wall)
                        samples[size]["own"].append(own)
                        samples[size]["children"].append(children)
                    else:
                        samples[size]["floor"].append(result)

    print("Medians over %d interleaved rounds (Python %d.%d, %s)" % (
        ROUNDS, sys.version_info[0], sys.version_info[1], os.uname().machine))
    print()
    header = ("repos", "library ms", "floor ms", "ratio", "own CPU ms", "children CPU ms")
    print("%5s  %10s  %8s  %5s  %10s  %15s" % header)
    failures = []
    missed = []
    for size in SIZES:
        s = samples[size]
        library, floor = statistics.median(s["library"]), statistics.median(s["floor"])
        own, children = statistics.median(s["own"]), statistics.median(s["children"])
        ratio = library / floor
        print("%5d  %10.2f  %8.2f  %5.3f  %10.2f  %15.2f" % (size, library, floor, ratio, own, children))
        if ratio > 1.10:
            failures.append("ratio %.3f > 1.10 at %d repositories" % (ratio, size))
        if size >= 10 and ratio > 0.50:
            missed.append("ratio %.3f > 0.50 at %d repositories" % (ratio, size))
        if size == 100 and own >= 5.0:
            failures.append("own CPU %.2f ms >= 5 ms at 100 repositories" % own)
    print()
    print("targets: ratio <= 1.10 at every size, own CPU < 5 ms at 100 repositories: %s"
          % ("met" if not failures else "MISSED (" + "; ".join(failures) + ")"))
    # What fewer apt runs would reach: half the floor's time.
    print("target: ratio <= 0.50 at 10 and 100 repositories: %s"
          % ("met" if not missed else "MISSED (" + "; ".join(missed) + ")"))
    with worlds[SIZES[-1]].activated():
        for name, run in (("library", time_library), ("floor", time_floor)):
            calls = count_apt_runs(run)
            print("apt runs per verdict, %s: %d (%s)" % (name, len(calls), ", ".join(calls)))
    for world in worlds.values():
        world.close()


if __name__ == "__main__":
    main()
