# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

import ast
import json
import os
import pydoc
import re
import subprocess
import tempfile
import unittest

import orvelupdatechecks
from orvelupdatechecks import UpdateValidatorAptArgs

from aptworld import AptWorld

SOURCE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir)
STAMP = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d - ")


def messages(path):
    """Log messages without their timestamps; [] when there is no file."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as log:
        lines = log.read().splitlines()
    for line in lines:
        assert STAMP.match(line), line
    return [STAMP.sub("", line) for line in lines]


class ModuleTest(unittest.TestCase):
    def test_module_offers_one_class_with_its_methods_in_order(self):
        self.assertEqual(orvelupdatechecks.__doc__, "Python bindings for liborvelupdatechecks")
        public = [name for name in vars(orvelupdatechecks) if not name.startswith("__")]
        self.assertEqual(public, ["UpdateValidatorAptArgs"])
        methods = [name for name in vars(UpdateValidatorAptArgs) if name not in ("__doc__", "__module__")]
        self.assertEqual(methods, ["__init__", "validate", "initLogger", "get_invalid_sources", "get_refusals"])

    def test_interpreter_symbols_come_from_the_running_interpreter(self):
        # The module's libpython dependency is the interpreter's own library,
        # not a second copy.
        with open("/proc/self/maps") as maps:
            libpythons = {line.split()[-1] for line in maps if "libpython" in line}
        self.assertLessEqual(len(libpythons), 1, libpythons)


class ArgumentConversionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.world = AptWorld("1.7.2").__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.world.__exit__(None, None, None)

    def test_accepts_sequences_of_str_or_bytes(self):
        for args in ([], (), ["-o", "Debug::X=1"], ("-o", "Debug::X=1"), [b"-o", b"Debug::X=1"],
                     ["-o", b"Dir::Etc::sourcelist=/\xc3\xa9.list"]):
            with self.subTest(args=args):
                self.assertTrue(UpdateValidatorAptArgs(args).validate())

    def test_refuses_other_arguments_with_type_error(self):
        # A single str is refused too rather than split into characters.
        for args in (None, 5, "-o", [1], ["-o", None], [["-o"]], [1.5]):
            with self.subTest(args=args), self.assertRaises(TypeError):
                UpdateValidatorAptArgs(args)
        with self.assertRaises(TypeError):
            UpdateValidatorAptArgs()
        # Positional only, as every call of the module's.
        for call in (lambda: UpdateValidatorAptArgs(arguments=[]), lambda: UpdateValidatorAptArgs(args=[]),
                     lambda: UpdateValidatorAptArgs([]).initLogger(path="/dev/null", level=10),
                     lambda: UpdateValidatorAptArgs([]).initLogger("/dev/null", level=10)):
            with self.assertRaises(TypeError):
                call()
        self.assertTrue(UpdateValidatorAptArgs([]).validate())

    def test_help_names_the_arguments_and_says_what_an_author_must_know(self):
        text = pydoc.render_doc(UpdateValidatorAptArgs, renderer=pydoc.plaintext)
        for said in ("__init__(self, args: Sequence[Union[str, bytes]], /)", "initLogger(self, path: Union[str, bytes], "
                     "level: int, /)", "positional only", "0 debug, 10 info, 20 warning, 30 error", "logging.DEBUG is 10",
                     "logged nowhere", "interpreter lock", "Raises TypeError", "apt_error"):
            self.assertIn(said, " ".join(text.split()).replace("( ", "("))
        for binding_detail in ("arg0", "handle", "kwargs) -> None"):
            self.assertNotIn(binding_detail, text)

    def test_logger_level_must_be_a_32_bit_int(self):
        checker = UpdateValidatorAptArgs([])
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "log")
            for level in (10.0, 2 ** 31, -2 ** 31 - 1, "10", None):
                with self.subTest(level=level), self.assertRaises(TypeError):
                    checker.initLogger(path, level)
            checker.initLogger(path, 10)
            checker.initLogger(path, True)
            checker.initLogger(path.encode(), 2 ** 31 - 1)
            checker.initLogger(path, -2 ** 31)
            self.assertTrue(checker.validate())
            self.assertTrue(messages(path))

    def test_instances_take_no_new_attributes(self):
        checker = UpdateValidatorAptArgs([])
        with self.assertRaises(AttributeError):
            checker.extra = 1
        self.assertFalse(hasattr(checker, "__dict__"))


class LoggingTest(unittest.TestCase):
    def setUp(self):
        self.world = AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"]),
                                        ("fix", "1.6.0.hotfix1", ["1.0+v1.7.4"])])
        self.world.__enter__()
        self.tmp = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.tmp.cleanup()
        self.world.__exit__(None, None, None)

    def test_info_and_error_lines_reach_the_file_construction_and_debug_never(self):
        path = os.path.join(self.tmp.name, "checks.log")
        checker = UpdateValidatorAptArgs([])
        checker.initLogger(path, 10)
        self.assertEqual(messages(path), [])
        self.assertFalse(checker.validate())
        self.assertEqual(messages(path), ["Update is linear", "Hotfix check failed",
                                          "Forbidden version = 1.6.0.hotfix1"])

    def test_debug_level_shows_checks_but_not_construction(self):
        path = os.path.join(self.tmp.name, "debug.log")
        checker = UpdateValidatorAptArgs([])
        checker.initLogger(path, 0)
        checker.validate()
        logged = messages(path)
        self.assertIn("virtual bool LinearValidator::check()", logged)
        self.assertIn("virtual bool HotfixValidator::check()", logged)
        self.assertFalse([m for m in logged if "::LinearValidator(" in m or "::HotfixValidator(" in m])

    def test_second_logger_takes_over(self):
        first = os.path.join(self.tmp.name, "first.log")
        second = os.path.join(self.tmp.name, "second.log")
        checker = UpdateValidatorAptArgs([])
        checker.initLogger(first, 10)
        checker.validate()
        before = messages(first)
        checker.initLogger(second, 10)
        checker.validate()
        self.assertEqual(messages(first), before)
        self.assertEqual(messages(second), before)

    def test_path_is_utf8(self):
        path = os.path.join(self.tmp.name, "\u00e9t\u00e9.log")
        checker = UpdateValidatorAptArgs([])
        checker.initLogger(path, 30)
        checker.validate()
        self.assertEqual(messages(path)[0], "Hotfix check failed")


class VerdictTest(unittest.TestCase):
    def test_allowed_update(self):
        with AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"]),
                                ("fix", "1.7.2.hotfix1", ["1.0+v1.7.2.1"])]):
            checker = UpdateValidatorAptArgs([])
            self.assertEqual(checker.get_invalid_sources(), [])
            self.assertIs(checker.validate(), True)
            self.assertEqual(checker.get_invalid_sources(), [])

    def test_major_jump_and_forbidden_hotfix_give_their_sources_once(self):
        with AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"]),
                                ("next", "1.8.0", ["1.0+v1.8.0"]),
                                ("next-mirror", "", ["1.0+v1.8.0"]),
                                ("fix", "1.6.0.hotfix1", ["1.0+v1.9.0"])]) as world:
            checker = UpdateValidatorAptArgs(["-o", "Debug::NoLocking=1"])
            self.assertIs(checker.validate(), False)
            sources = checker.get_invalid_sources()
            self.assertEqual(sorted(sources),
                             sorted([world.url("next"), world.url("next-mirror"), world.url("fix")]))
            self.assertTrue(all(type(source) is str for source in sources))
            # A new list on every call.
            sources.clear()
            self.assertEqual(len(checker.get_invalid_sources()), 3)

    def test_refusals_say_why_and_agree_with_the_invalid_sources(self):
        with AptWorld("1.7.2", [("main", "1.7.5", ["1.0+v1.7.5"]),
                                ("next", "1.8.0", ["1.0+v1.8.0"]),
                                ("fix", "1.6.0.hotfix1", ["1.0+v1.8.0"])]) as world:
            checker = UpdateValidatorAptArgs([])
            self.assertEqual(checker.get_refusals(), [])
            self.assertIs(checker.validate(), False)
            refusals = checker.get_refusals()
            # The same sources as the sources list names them (a flat
            # repository's suite is "./").
            for refusal in refusals:
                self.assertEqual(refusal.pop("package_files"), [source + " ./" for source in refusal["sources"]])
            # The keys of the stub's Refusal, in order, and of the tool's JSON.
            with open(os.path.join(SOURCE_DIR, "src", "python", "orvelupdatechecks.pyi")) as stub:
                typed = next(node for node in ast.parse(stub.read()).body
                             if isinstance(node, ast.ClassDef) and node.name == "Refusal")
            keys = [field.target.id for field in typed.body if isinstance(field, ast.AnnAssign)]
            self.assertEqual([list(refusal) for refusal in checker.get_refusals()], [keys, keys])
            verdict = subprocess.run([os.environ["ORVEL_UPDATE_CHECK"], "--json"], stdout=subprocess.PIPE,
                                     universal_newlines=True, timeout=120)
            # (A JSON object's keys have no order; Qt writes them sorted.)
            self.assertEqual([sorted(refusal) for refusal in json.loads(verdict.stdout)["refusals"]],
                             [sorted(keys)] * 2)
            self.assertEqual(refusals, [
                {"check": "linear", "rule": "major-version-changed", "version": "1.8.0", "installed": "1.7.2",
                 "sources": sorted([world.url("fix"), world.url("next")]),
                 "message": "1.8.0 changes the major version of the installed 1.7.2", "sources_known": True,
                 "apt_error": ""},
                {"check": "hotfix", "rule": "hotfix-not-allowed", "version": "1.6.0.hotfix1", "installed": "1.7.2",
                 "sources": [world.url("fix")],
                 "message": "1.6.0.hotfix1 is a hotfix of neither the installed 1.7.2 nor an offered regular release",
                 "sources_known": True, "apt_error": ""}])
            self.assertTrue(all(type(value) is str for refusal in refusals for key, value in refusal.items()
                                if key not in ("sources", "sources_known")))
            self.assertEqual({source for refusal in refusals for source in refusal["sources"]},
                             set(checker.get_invalid_sources()))


if __name__ == "__main__":
    unittest.main()
