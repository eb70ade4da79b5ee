"""The printer's status, as `Printer.status()` returns it."""

from __future__ import annotations

from dataclasses import dataclass

from .enums import StatusBit


@dataclass(frozen=True)
class Status:
    """The answer to one status query.

    raw is the status byte as the library returns it: its error bits 0x04 to
    0x80 (the library drops bits 0x01 and 0x02, which carry no condition).
    """

    raw: int

    @property
    def bits(self) -> StatusBit:
        return StatusBit(self.raw & sum(StatusBit))

    @property
    def ok(self) -> bool:
        """No error condition reported."""
        return not self.bits

    @property
    def ribbon_end(self) -> bool:
        return StatusBit.RIBBON_END in self.bits

    @property
    def gap_error(self) -> bool:
        return StatusBit.GAP_ERROR in self.bits

    @property
    def head_overheat(self) -> bool:
        return StatusBit.HEAD_OVERHEAT in self.bits

    @property
    def cutter_jam(self) -> bool:
        return StatusBit.CUTTER_JAM in self.bits

    @property
    def cover_open(self) -> bool:
        return StatusBit.COVER_OPEN in self.bits

    @property
    def paper_empty(self) -> bool:
        return StatusBit.PAPER_EMPTY in self.bits

    @property
    def errors(self) -> list[str]:
        """The conditions reported, in words ("paper empty", ...)."""
        return [bit.name.lower().replace("_", " ") for bit in StatusBit if bit in self.bits]

    def __str__(self) -> str:
        return ", ".join(self.errors) or "ready"
