"""Offline apt worlds for the Python tests, made by tests/support/make-apt-world."""

import os
import subprocess
import tempfile

SUPPORT_DIR = os.environ.get(
    "ORVEL_TEST_SUPPORT_DIR",
    os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))


class AptWorld:
    """An apt world in a temporary directory, active (APT_CONFIG and
    ORVEL_SYSROOT set) between __enter__ and __exit__.

    repos: (name, release version, [package versions]) tuples.
    """

    def __init__(self, installed, repos=()):
        self._tmp = tempfile.TemporaryDirectory(prefix="orvel-world-")
        self.dir = self._tmp.name
        specs = ["%s:%s:%s" % (name, release, ",".join(versions)) for name, release, versions in repos]
        subprocess.run([os.path.join(SUPPORT_DIR, "make-apt-world"), self.dir, installed] + specs,
                       check=True, stdout=subprocess.DEVNULL)
        self._saved = {}

    def url(self, name):
        return "file:%s/repos/%s" % (self.dir, name)

    def __enter__(self):
        for key, value in (("APT_CONFIG", os.path.join(self.dir, "apt.conf")),
                           ("ORVEL_SYSROOT", os.path.join(self.dir, "sysroot"))):
            self._saved[key] = os.environ.get(key)
            os.environ[key] = value
        return self

    def __exit__(self, *exc):
        for key, value in self._saved.items():
            if value is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = value
        self._tmp.cleanup()
        return False
