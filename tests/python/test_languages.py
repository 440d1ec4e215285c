# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""Messages for people in the admin's language (German, Russian), and what
programs read unchanged in every language: the tool and the apt guard under
locales that this test generates into a directory of its own."""

import os
import socket
import subprocess
import tempfile
import unittest

from aptworld import AptWorld
from test_apt_hook import GuardedWorld, MAIN, PRIVATE_DEV_LOG
from test_update_validator_apt_args import messages

TOOL = os.environ["ORVEL_UPDATE_CHECK"]
NEXT = ("next", "1.8.0", ["1.0+v1.8.0", "hello=2.0"])

# What each language says where the English says "1.8.0 changes the major
# version...", "unknown option" and "the update is refused".
PHRASES = {
    "C": ("1.8.0 changes the major version of the installed 1.7.2", "unknown option '-o'",
          "orvel-update-check: the update is refused (installed Orvel release: 1.7.2):", "To install it anyway"),
    "de_DE.UTF-8": ("1.8.0 ändert die Hauptversion der installierten 1.7.2", "unbekannte Option „-o“",
                    "orvel-update-check: Das Update wird abgelehnt (installierte Orvel-Version: 1.7.2):",
                    "Um es trotzdem einmalig zu installieren"),
    "ru_RU.UTF-8": ("1.8.0 меняет основную версию установленной 1.7.2", "неизвестный параметр «-o»",
                    "orvel-update-check: обновление отклонено (установленный выпуск Orvel: 1.7.2):",
                    "Чтобы всё же установить, один раз"),
}


class LanguageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="orvel-locales-")
        for name in ("de_DE", "ru_RU"):
            subprocess.run(["localedef", "-i", name, "-f", "UTF-8", os.path.join(cls.tmp.name, name + ".UTF-8")],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def environment(self, world, language):
        env = {key: value for key, value in os.environ.items() if not key.startswith(("LC_", "LANG"))}
        env.update(world.settings(), LOCPATH=self.tmp.name, LANG=language)
        return env

    def tool(self, env, *args):
        return subprocess.run([TOOL] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                              universal_newlines=True, timeout=120)

    def test_people_read_their_language_and_programs_read_english(self):
        with AptWorld("1.7.2", [MAIN, NEXT]) as world, tempfile.TemporaryDirectory() as logs:
            seen = {}
            for language, (refusal, unknown_option, _, _) in PHRASES.items():
                with self.subTest(language=language):
                    env = self.environment(world, language)
                    why = self.tool(env, "--why")
                    self.assertEqual(why.returncode, 1)
                    self.assertIn("\n  %s\n" % refusal, why.stdout)
                    self.assertIn(unknown_option, self.tool(env, "-o", "X=1").stderr)
                    log = os.path.join(logs, language + ".log")
                    self.assertEqual(self.tool(env, "--log", log).returncode, 1)
                    # The first line, the sources, JSON, metrics and the log
                    # are for programs: the same in every language.
                    seen[language] = (why.stdout.split("\n\n")[0], self.tool(env, "--json").stdout,
                                      self.tool(env, "--prometheus").stdout, messages(log))
            self.assertEqual(seen["C"][0], "update refused\n" + world.url("next"))
            self.assertEqual(seen["de_DE.UTF-8"], seen["C"])
            self.assertEqual(seen["ru_RU.UTF-8"], seen["C"])

    def test_eight_bit_locales_read_their_own_character_set(self):
        # The tool's --why and usage error, and the guard's refusal, in
        # KOI8-R and ISO-8859-1: readable text, no U+FFFD.
        for name, charset, refusal, usage, heading in (
                ("ru_RU", "KOI8-R", "1.8.0 меняет основную версию установленной 1.7.2", "неизвестный параметр",
                 "orvel-update-check: обновление отклонено (установленный выпуск Orvel: 1.7.2):"),
                ("de_DE", "ISO-8859-1", "1.8.0 ändert die Hauptversion der installierten 1.7.2", "unbekannte Option",
                 "orvel-update-check: Das Update wird abgelehnt (installierte Orvel-Version: 1.7.2):")):
            language = name + "." + charset
            subprocess.run(["localedef", "-i", name, "-f", charset, os.path.join(self.tmp.name, language)],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            with self.subTest(language), GuardedWorld([MAIN, NEXT]) as world:
                env = self.environment(world, language)
                run = lambda *command: subprocess.run(list(command), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                                      env=env, timeout=120)
                said = {"why": run(TOOL, "--why").stdout, "usage": run(TOOL, "-o", "X=1").stderr,
                        "guard": run("apt-get", "-y", "install", "hello").stderr}
                for text in said.values():
                    self.assertNotIn("\ufffd".encode(), text)
                self.assertIn(refusal, said["why"].decode(charset))
                self.assertIn(usage, said["usage"].decode(charset))
                self.assertIn(heading, said["guard"].decode(charset))
                self.assertFalse(world.unpacked())

    def test_guard_refuses_in_the_admins_language_and_logs_in_english(self):
        with GuardedWorld([MAIN, NEXT]) as world, tempfile.TemporaryDirectory() as tmp:
            socket_path = os.path.join(tmp, "log")
            log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
            log.bind(socket_path)
            log.settimeout(5)
            system_log = {}
            try:
                for language, (refusal, _, heading, override) in PHRASES.items():
                    with self.subTest(language=language):
                        result = subprocess.run([PRIVATE_DEV_LOG, socket_path, "apt-get", "-y", "install", "hello"],
                                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                                universal_newlines=True, env=self.environment(world, language),
                                                timeout=120)
                        self.assertNotEqual(result.returncode, 0)
                        self.assertFalse(world.unpacked())
                        for text in (heading, refusal, override):
                            self.assertIn(text, result.stderr)
                        system_log[language] = [log.recv(65536).decode().split(": ", 1)[1] for _ in range(2)]
            finally:
                log.close()
            self.assertEqual(system_log["C"][0], "update refused: 1.8.0 (linear, major-version-changed), installed "
                             "1.7.2, offered by " + world.url("next") + " ./")
            self.assertEqual(system_log["de_DE.UTF-8"], system_log["C"])
            self.assertEqual(system_log["ru_RU.UTF-8"], system_log["C"])


if __name__ == "__main__":
    unittest.main()
