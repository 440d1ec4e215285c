# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""Run by an interpreter other than Python 3.7: the import must be refused
with the exact message."""

import sys

expected = ("Python version mismatch: module was compiled for version 3.7, "
            "while the interpreter is running version %d.%d." % sys.version_info[:2])
try:
    import orvelupdatechecks  # noqa: F401
except ImportError as error:
    if str(error) != expected:
        sys.exit("wrong message: %r, expected %r" % (str(error), expected))
    print("refused:", error)
else:
    sys.exit("orvelupdatechecks was imported by Python %d.%d" % sys.version_info[:2])
