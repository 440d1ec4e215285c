# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""Offline apt worlds for the Python tests and the benchmark, made by
tests/support/make-apt-world."""

import contextlib
import os
import subprocess
import tempfile

SUPPORT_DIR = os.environ.get(
    "ORVEL_TEST_SUPPORT_DIR",
    os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))


def fake_apt_path(settings):
    """PATH with the fake apt-cache (and apt-get) first, linked into the
    directory settings that describes what they do: the checks hand their
    children no variable of the test's, so the fakes find their settings
    where they are called from."""
    for program in ("apt-cache", "apt-get"):
        link = os.path.join(settings, program)
        if not os.path.lexists(link):
            os.symlink(os.path.join(SUPPORT_DIR, "fake-bin", program), link)
    return settings + ":" + os.environ["PATH"]


class AptWorld:
    """An apt world in a temporary directory.

    repos: (name, release version, [package versions][, label]) tuples. As a context
    manager the world is active (APT_CONFIG and ORVEL_SYSROOT set) inside the
    block and removed after it; activated() only sets the environment.
    """

    def __init__(self, installed, repos=(), debs=False, packages=(), guard=None, foreign=()):
        """debs: real .deb files and a recording dpkg, for apt-get runs;
        packages: "name=version" entries of apt's dpkg status; guard: an
        orvel-update-check that the apt guard runs, switched on by the file
        self.guard_switch; foreign: further architectures of apt's."""
        self._tmp = tempfile.TemporaryDirectory(prefix="orvel-world-")
        self.dir = self._tmp.name
        specs = ["%s:%s:%s:%s" % (repo[0], repo[1], ",".join(repo[2]), repo[3] if len(repo) > 3 else "")
                 for repo in repos]
        options = (["--debs"] if debs else []) + [word for package in packages for word in ("--installed", package)]
        options += ["--guard", guard] if guard else []
        options += [word for arch in foreign for word in ("--foreign", arch)]
        subprocess.run([os.path.join(SUPPORT_DIR, "make-apt-world")] + options + [self.dir, installed] + specs,
                       check=True, stdout=subprocess.DEVNULL)
        self._activation = None
        self.guard_switch = os.path.join(self.dir, "guard-enabled")

    def url(self, name):
        return "file:%s/repos/%s" % (self.dir, name)

    def settings(self):
        """The environment variables that point apt and the system-version
        library at this world."""
        return {"APT_CONFIG": os.path.join(self.dir, "apt.conf"), "ORVEL_SYSROOT": os.path.join(self.dir, "sysroot")}

    def apt_get(self, *args, path=None, wrapper=(), stdin=None, program="apt-get"):
        """Runs apt-get -y ARGS (or PROGRAM -y ARGS) in this world (with PATH
        when given, under the command wrapper when given)."""
        env = dict(os.environ, **self.settings())
        if path:
            env["PATH"] = path
        return subprocess.run(list(wrapper) + [program, "-y"] + list(args), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, stdin=stdin, universal_newlines=True, env=env, timeout=120)

    @contextlib.contextmanager
    def activated(self):
        settings = self.settings()
        saved = {key: os.environ.get(key) for key in settings}
        os.environ.update(settings)
        try:
            yield self
        finally:
            for key, value in saved.items():
                if value is None:
                    os.environ.pop(key, None)
                else:
                    os.environ[key] = value

    def edit_release(self, name, old, new):
        """Replaces old by new in the Release file of repository name, as its
        owner may write it, and reads the sources again."""
        path = os.path.join(self.dir, "repos", name, "Release")
        with open(path, "rb") as release:
            text = release.read()
        assert old in text, (old, text)
        with open(path, "wb") as release:
            release.write(text.replace(old, new))
        result = self.apt_get("update")
        assert result.returncode == 0, result.stderr

    def local_deb(self, version, package="orvel-version", fields=(), into=None):
        """Builds a .deb of package at version (with further control fields
        such as "Provides: ...") outside the repositories, as a user
        downloads one, or in the directory into; returns its path."""
        options = [word for field in fields for word in ("-f", field)]
        return subprocess.run([os.path.join(SUPPORT_DIR, "make-deb")] + options + [package, version, into or self.dir],
                              check=True, stdout=subprocess.PIPE, universal_newlines=True).stdout.strip()

    def reindex(self, name, edit=lambda index: index, update=True):
        """Writes the Packages index of repository name afresh from its .deb
        files, passed through edit as a careless or hostile owner may write
        it, with a Release of the same fields, and (with update) reads the
        sources again."""
        repo = os.path.join(self.dir, "repos", name)
        index = subprocess.run(["apt-ftparchive", "packages", "."], cwd=repo, check=True, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, universal_newlines=True).stdout
        with open(os.path.join(repo, "Packages"), "w") as packages:
            packages.write(edit(index))
        with open(os.path.join(repo, "Release")) as release:
            fields = [line.split(": ", 1) for line in release if line.startswith(("Origin:", "Label:", "Version:"))]
        options = [word for key, value in fields
                   for word in ("-o", "APT::FTPArchive::Release::%s=%s" % (key, value.strip()))]
        release = subprocess.run(["apt-ftparchive"] + options + ["release", repo], check=True,
                                 stdout=subprocess.PIPE).stdout
        with open(os.path.join(repo, "Release"), "wb") as out:
            out.write(release)
        if update:
            result = self.apt_get("update")
            assert result.returncode == 0, result.stderr

    def unattended_upgrade(self, config=""):
        """Runs unattended-upgrade in this world (with debs), allowing the
        origin Orvel, with further apt configuration lines config; returns
        the run and the text of its dpkg log. It takes dpkg and its status
        from / whatever apt's configuration says, and its lock from /run: it
        runs in a private mount namespace where those, and /etc/apt/apt.conf.d,
        are the world's or empty, so that it cannot reach the machine's."""
        log_dir = os.path.join(self.dir, "unattended-upgrades")
        with open(os.path.join(self.dir, "apt.conf"), "a") as conf:
            conf.write('Unattended-Upgrade::Origins-Pattern { "origin=Orvel"; };\n'
                       'Unattended-Upgrade::LogDir "%s";\n%s\n' % (log_dir, config))
        script = """set -e
            mkdir -p "$WORLD/apt/var/run" "$WORLD/apt/updates"
            mount -t tmpfs tmpfs /run
            mount -t tmpfs tmpfs /var/lib/dpkg
            cp "$WORLD/apt/status" /var/lib/dpkg/status
            mkdir /var/lib/dpkg/updates /var/lib/dpkg/info
            mount --bind "$WORLD/bin/dpkg" /usr/bin/dpkg
            mount -t tmpfs tmpfs /etc/apt/apt.conf.d
            exec unattended-upgrade -v"""
        run = subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c", script],
                             env=dict(os.environ, WORLD=self.dir, **self.settings()), stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, universal_newlines=True, timeout=300)
        dpkg_log = os.path.join(log_dir, "unattended-upgrades-dpkg.log")
        with open(dpkg_log) if os.path.exists(dpkg_log) else open(os.devnull) as log:
            return run, log.read()

    def dpkg_calls(self):
        """The arguments of each call of the world's dpkg (with debs)."""
        path = os.path.join(self.dir, "dpkg.calls")
        if not os.path.exists(path):
            return []
        with open(path) as calls:
            return calls.read().splitlines()

    def close(self):
        self._tmp.cleanup()

    def __enter__(self):
        self._activation = self.activated()
        return self._activation.__enter__()

    def __exit__(self, *exc):
        self._activation.__exit__(*exc)
        self.close()
        return False
