# SPDX-FileCopyrightText: 2026 Orvel maintainers <maintainers@orvel.example>
# SPDX-License-Identifier: LGPL-2.1-or-later

"""Python bindings for liborvelupdatechecks"""

from typing import List, Sequence, Union

from typing_extensions import TypedDict


class Refusal(TypedDict):
    """Why validate() refused one offered version; the keys in the order the
    library gives them, the same as those of orvel-update-check --json."""
    check: str
    rule: str
    version: str
    installed: str
    sources: List[str]
    """Repository URLs that offer the version."""
    package_files: List[str]
    """The same sources as "URL suite/component"."""
    message: str
    sources_known: bool
    """False when apt could not list the sources."""
    apt_error: str
    """apt's first error line for "versions-unknown", else ""."""


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

    def get_refusals(self) -> List[Refusal]:
        """Why the latest validate() refused: one dict (Refusal) per refused version."""
