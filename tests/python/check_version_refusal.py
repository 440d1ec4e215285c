# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""Run by an interpreter other than Python 3.7: the module, named with the
tag of Python 3.7, is not found; loaded by its file name all the same, it
refuses with the exact message."""

import glob
import importlib.machinery
import importlib.util
import os
import sys

try:
    import orvelupdatechecks  # noqa: F401
except ModuleNotFoundError:
    pass
else:
    sys.exit("Python %d.%d found orvelupdatechecks" % sys.version_info[:2])

files = [path for directory in sys.path if directory
         for path in glob.glob(os.path.join(directory, "orvelupdatechecks.cpython-37m-*.so"))]
if not files:
    sys.exit("no orvelupdatechecks.cpython-37m-*.so on the path: %s" % sys.path)
expected = ("Python version mismatch: module was compiled for version 3.7, "
            "while the interpreter is running version %d.%d." % sys.version_info[:2])
loader = importlib.machinery.ExtensionFileLoader("orvelupdatechecks", files[0])
try:
    loader.create_module(importlib.util.spec_from_loader("orvelupdatechecks", loader))
except ImportError as error:
    if str(error) != expected:
        sys.exit("wrong message: %r, expected %r" % (str(error), expected))
    print("not found, and refused when loaded by name:", error)
else:
    sys.exit("%s was loaded by Python %d.%d" % (files[0], sys.version_info[0], sys.version_info[1]))
