# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""Python bindings for liborvelupdatechecks"""

# Arguments are positional only (no keyword names), written the Python 3.7 way.

from typing import Dict, List, Sequence, Union


class UpdateValidatorAptArgs:
    """Decides whether a pending apt operation may update this Orvel system."""

    def __init__(self, __args: Sequence[Union[str, bytes]]) -> None:
        """Takes the apt command-line arguments of the pending operation (a list of str or bytes)
        and learns the installed and the offered versions."""

    def validate(self) -> bool:
        """True when the update is linear and every offered hotfix is allowed."""

    def initLogger(self, __path: Union[str, bytes], __level: int) -> None:
        """Logs from now on to the file at the given path, at and above the level
        (0 debug, 10 info, 20 warning, 30 error)."""

    def get_invalid_sources(self) -> List[str]:
        """Repository URLs that offer a version refused by the latest validate(), each once."""

    def get_refusals(self) -> List[Dict[str, Union[str, bool, List[str]]]]:
        """Why the latest validate() refused: one dict per refused version, with the keys
        check, rule, version, installed, message (str), sources (list of str) and
        sources_known (bool: False when apt could not list the sources)."""
