"""Everything one run measured, keyed by row id (contenders.py), as JSON.

Children return the same record, partly filled; `merge` adds their samples to
this process's. The report and the targets read only this.
"""

from __future__ import annotations

import json
from dataclasses import asdict, dataclass, field


@dataclass
class Results:
    settings: str
    machine: dict[str, str] = field(default_factory=dict)
    load: list[tuple[str, float]] = field(default_factory=list)     # (moment, 1-minute load average)
    elapsed_s: float = 0.0
    pool_threads: int = 0                                           # this process's worker pool
    calls: dict[str, list[float]] = field(default_factory=dict)     # row -> ns per call, per repeat
    diffs: dict[str, float] = field(default_factory=dict)           # row -> max diff vs tarnu
    arrays: dict[str, dict[int, list[float]]] = field(default_factory=dict)  # row -> n -> ns/element
    small: dict[str, list[float]] = field(default_factory=dict)     # row -> µs per small call
    memory: dict[str, dict] = field(default_factory=dict)           # row -> memory.measure()
    errors: dict[str, dict] = field(default_factory=dict)           # row -> accuracy.distance_errors()
    missing: dict[str, str] = field(default_factory=dict)           # row -> why it was not timed
    absent: list[str] = field(default_factory=list)                 # rows left out on this machine
    files: dict[str, list[float]] = field(default_factory=dict)     # row -> seconds per run
    file_rows: int = 0                                              # rows of the file they read
    # row -> the row whose samples it shares: a variant whose environment is
    # what this process has already (two threads on a two-CPU machine)
    aliases: dict[str, str] = field(default_factory=dict)
    geometry: dict[str, float] = field(default_factory=dict)        # geometry.py's figures

    def merge(self, other: Results) -> None:
        for row, sizes in other.arrays.items():
            for n, samples in sizes.items():
                self.arrays.setdefault(row, {}).setdefault(n, []).extend(samples)
        for row, samples in other.small.items():
            self.small.setdefault(row, []).extend(samples)
        self.missing.update(other.missing)
        self.absent += [r for r in other.absent if r not in self.absent]

    def to_json(self) -> str:
        return json.dumps(asdict(self))

    @classmethod
    def from_json(cls, text: str) -> Results:
        d = json.loads(text)
        d["arrays"] = {row: {int(n): s for n, s in sizes.items()} for row, sizes in d["arrays"].items()}
        d["load"] = [tuple(x) for x in d["load"]]
        return cls(**d)

    def best_call(self, row: str) -> float | None:
        s = self.calls.get(row)
        return min(s) if s else None

    def array_samples(self, row: str) -> dict[int, list[float]]:
        return self.arrays.get(self.aliases.get(row, row), {})

    def best_array(self, row: str, n: int) -> float | None:
        s = self.array_samples(row).get(n)
        return min(s) if s else None

    def best_file(self, row: str) -> float | None:
        s = self.files.get(row)
        return min(s) if s else None

    def best_small(self, row: str) -> float | None:
        s = self.small.get(self.aliases.get(row, row))
        return min(s) if s else None
