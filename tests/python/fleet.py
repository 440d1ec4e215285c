# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""A fleet of Orvel hosts on this machine for ansible-playbook runs, for the
tests and the benchmark: each host an offline apt world of its own with real
packages, the apt guard and a recording dpkg, reached locally or over SSH
through a private sshd on 127.0.0.1 that the fleet starts and stops."""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

from aptworld import AptWorld

HERE = os.path.dirname(os.path.abspath(__file__))
COLLECTIONS = os.path.join(HERE, os.pardir, os.pardir, "ansible")
INSTALLED = ["orvel-version=1.0+v1.7.2", "orvel-extra=1.0"]
PLAYBOOK = """\
- name: Gated upgrade of the Orvel fleet
  hosts: orvel
  gather_facts: false
  environment: "{{ orvel_environment }}"
  %s
  roles:
    - orvel.update.gated_upgrade
"""


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Fleet:
    """hosts: (name, repos, connection) with connection "local" or "ssh";
    repos as for AptWorld. tool: the orvel-update-check the hosts run;
    python: the managed nodes' interpreter."""

    def __init__(self, hosts, tool, python=sys.executable):
        self._tmp = tempfile.TemporaryDirectory(prefix="orvel-fleet-")
        self.dir = self._tmp.name
        self.tool = tool
        self.python = python
        self.worlds = {}
        self._sshd = None
        try:
            for name, repos, connection in hosts:
                self.worlds[name] = AptWorld("1.7.2", repos, debs=True, packages=INSTALLED, guard=tool)
            self._write_configuration(hosts)
        except BaseException:
            self.close()
            raise

    def _write_configuration(self, hosts):
        bin_dir = os.path.dirname(self.tool)
        lines = ["[orvel]"]
        ad_hoc_lines = ["[orvel]"]
        for name, _repos, connection in hosts:
            world = self.worlds[name]
            environment = dict(world.settings(), PATH=bin_dir + ":" + os.environ["PATH"])
            variables = {"ansible_python_interpreter": self.python,
                         "orvel_environment": "'%s'" % repr(environment).replace("'", '"')}
            if connection == "ssh":
                variables.update(self._start_sshd())
            else:
                variables["ansible_connection"] = "local"
            lines.append(name + " " + " ".join("%s=%s" % item for item in sorted(variables.items())))
            # Ad hoc commands have no environment keyword: a shell that sets
            # the host's world stands in for it.
            shell = os.path.join(self.dir, name + "-sh")
            with open(shell, "w") as script:
                script.write("#!/bin/sh\n" + "".join("export %s='%s'\n" % item for item in environment.items())
                             + 'exec /bin/sh "$@"\n')
            os.chmod(shell, 0o755)
            variables["ansible_shell_executable"] = shell
            ad_hoc_lines.append(name + " " + " ".join("%s=%s" % item for item in sorted(variables.items())))
        with open(os.path.join(self.dir, "inventory"), "w") as inventory:
            inventory.write("\n".join(lines) + "\n")
        with open(os.path.join(self.dir, "inventory-ad-hoc"), "w") as inventory:
            inventory.write("\n".join(ad_hoc_lines) + "\n")
        with open(os.path.join(self.dir, "ansible.cfg"), "w") as config:
            config.write("[defaults]\nforks = 10\nretry_files_enabled = false\ninterpreter_python = %s\n"
                         "[ssh_connection]\npipelining = true\n" % self.python)

    def _start_sshd(self):
        """A private sshd on 127.0.0.1 with its own host key, port and
        authorized key; the connection variables of a host reached by it."""
        if self._sshd is None:
            ssh = os.path.join(self.dir, "ssh")
            os.mkdir(ssh, 0o700)
            for key in ("host_key", "client_key"):
                subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(ssh, key)],
                               check=True)
            shutil.copy(os.path.join(ssh, "client_key.pub"), os.path.join(ssh, "authorized_keys"))
            self.ssh_port = free_port()
            with open(os.path.join(ssh, "host_key.pub")) as host_key:
                public = " ".join(host_key.read().split()[:2])
            with open(os.path.join(ssh, "known_hosts"), "w") as known:
                known.write("[127.0.0.1]:%d %s\n" % (self.ssh_port, public))
            with open(os.path.join(ssh, "sshd_config"), "w") as config:
                config.write("Port %d\nListenAddress 127.0.0.1\nHostKey %s/host_key\nAuthorizedKeysFile %s/authorized_keys\n"
                             "PidFile %s/sshd.pid\nPermitRootLogin prohibit-password\nPasswordAuthentication no\n"
                             "KbdInteractiveAuthentication no\nUsePAM no\nStrictModes no\nSubsystem sftp internal-sftp\n"
                             % (self.ssh_port, ssh, ssh, ssh))
            # sshd insists on /run/sshd: a /run of its own, in a private mount
            # namespace, leaves the machine's alone.
            with open(os.path.join(ssh, "sshd.log"), "w") as log:
                self._sshd = subprocess.Popen(
                    ["unshare", "--mount", "--propagation", "private", "sh", "-c",
                     'mount -t tmpfs orvel-test-run /run && mkdir -m 755 /run/sshd && '
                     'exec /usr/sbin/sshd -D -e -f "$1"', "sshd", os.path.join(ssh, "sshd_config")],
                    stdout=subprocess.DEVNULL, stderr=log, start_new_session=True)
            deadline = time.monotonic() + 30
            while True:
                try:
                    socket.create_connection(("127.0.0.1", self.ssh_port), timeout=1).close()
                    break
                except OSError:
                    if self._sshd.poll() is not None or time.monotonic() > deadline:
                        raise RuntimeError("the private sshd did not start: " + self.sshd_log())
                    time.sleep(0.05)
        ssh = os.path.join(self.dir, "ssh")
        return {"ansible_connection": "ssh", "ansible_host": "127.0.0.1", "ansible_port": self.ssh_port,
                "ansible_user": "root", "ansible_ssh_private_key_file": os.path.join(ssh, "client_key"),
                "ansible_ssh_common_args": "'-o UserKnownHostsFile=%s/known_hosts -o StrictHostKeyChecking=yes "
                                           "-o IdentitiesOnly=yes -o ControlMaster=no'" % ssh}

    def sshd_log(self):
        with open(os.path.join(self.dir, "ssh", "sshd.log")) as log:
            return log.read()

    def environment(self):
        home = os.path.join(self.dir, "home")
        os.makedirs(home, exist_ok=True)
        return dict(os.environ, HOME=home, ANSIBLE_CONFIG=os.path.join(self.dir, "ansible.cfg"),
                    ANSIBLE_COLLECTIONS_PATH=os.path.abspath(COLLECTIONS), ANSIBLE_NOCOLOR="1",
                    ANSIBLE_LOCAL_TEMP=os.path.join(home, "tmp"), ANSIBLE_PYTHON_INTERPRETER=self.python)

    def playbook(self, play_keywords="", extra_vars=None, options=()):
        """Runs the gated upgrade role on the fleet; play_keywords are added
        to the play (serial, max_fail_percentage, ...), options to the
        command line."""
        path = os.path.join(self.dir, "play.yml")
        with open(path, "w") as play:
            play.write(PLAYBOOK % play_keywords)
        command = ["ansible-playbook", "-i", os.path.join(self.dir, "inventory"), path] + list(options)
        for key, value in (extra_vars or {}).items():
            command += ["-e", "%s=%s" % (key, value) if isinstance(value, str) else json.dumps({key: value})]
        return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True,
                              env=self.environment(), timeout=600)

    def ad_hoc(self, module, *options):
        """ansible orvel -m MODULE OPTIONS..., each host in its world."""
        command = ["ansible", "orvel", "-i", os.path.join(self.dir, "inventory-ad-hoc"), "-m", module, "-o"]
        command += list(options)
        env = self.environment()
        return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True,
                              env=env, timeout=600)

    def upgraded(self, name):
        return any("--unpack" in call for call in self.worlds[name].dpkg_calls())

    def close(self):
        if self._sshd is not None:
            os.killpg(self._sshd.pid, signal.SIGTERM)
            self._sshd.wait(timeout=30)
            self._sshd = None
        for world in self.worlds.values():
            world.close()
        self._tmp.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
