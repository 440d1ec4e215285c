# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""Python bindings for liborvelupdatechecks"""

from typing import Dict, List, Sequence, Union


class UpdateValidatorAptArgs:
    """Decides whether a pending apt operation may update this Orvel system."""

    def __init__(self, __args: Sequence[Union[str, bytes]]) -> None:
        """Takes the apt arguments of the pending operation and already asks apt
        (before any logger exists); holds the interpreter lock while it runs."""

    def validate(self) -> bool:
        """True when the update is linear and every offered hotfix is allowed."""

    def initLogger(self, __path: Union[str, bytes], __level: int) -> None:
        """Logs from now on to the file at path, at and above level: 0 debug,
        10 info, 20 warning, 30 error (not the levels of Python's logging)."""

    def get_invalid_sources(self) -> List[str]:
        """Repository URLs that offer a version refused by the latest validate(), each once."""

    def get_refusals(self) -> List[Dict[str, Union[str, bool, List[str]]]]:
        """Why the latest validate() refused: one dict per refused version, with the keys
        check, rule, version, installed, message (str), sources (list of str: URLs),
        package_files (list of str: the same sources as "URL suite/component"),
        sources_known (bool: False when apt could not list the sources) and
        apt_error (str: apt's first error line for "versions-unknown")."""
