"""`tarnu batch`: one geodesic problem for every row of a CSV file.

The input is decoded and cut into chunks of whole lines (`chunks`, about
CHUNK_BYTES of input each); the rows of a chunk are parsed, computed and
written before the next chunk is read, so a file larger than memory works and
a stream gets the rows as they come. Two engines do this and write the same
bytes: Python's csv module (`write_rows`, here) and pyarrow's CSV reader with
Arrow compute (tarnu._arrow), used where pyarrow is installed. Arrow takes a
chunk only where the csv module would read it as plain lines split at the
delimiter; any other chunk, and any chunk Arrow fails on, is read here, so
that messages and line numbers are always this engine's.
"""

from __future__ import annotations

import codecs
import csv
import io
import itertools
import math
from collections import deque
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass
from typing import IO, Any, NamedTuple, NoReturn

import numpy as np
from numpy.typing import NDArray

from tarnu import ufunc

CHUNK_BYTES = 4 << 20  # input read, computed and written at a time
LAT_LON = ("lat1", "lon1", "lat2", "lon2")
HEADING = ("lat1", "lon1", "azi1", "s12")
LENGTHS = ("m12", "M12", "M21", "S12")
DEFAULT_ENCODING = "utf-8-sig"  # UTF-8, with or without a byte order mark



class InputError(Exception):
    """Bad input data: reported on one line, exit status 2."""


# --- numbers ----------------------------------------------------------------------
#
# float() reads plain ASCII decimals, scientific notation, nan, inf and infinity
# (any case, optional sign, surrounding blanks); beyond those it also takes digit
# groups ("1_000") and any script's digits and blanks ("١"). The extras are what a
# data file or a command line should not carry unnoticed, so they are refused.

def _plain(text: str) -> bool:
    return text.isascii() and "_" not in text


def number(text: str) -> float:
    """One number, as every command reads it (argparse names the type "number")."""
    if not _plain(text):
        raise ValueError(text)
    return float(text)


def numbers(texts: list[str]) -> NDArray[np.float64]:
    """A column of numbers read as number() reads each; ValueError if any is not one."""
    if not _plain("".join(texts)):
        raise ValueError(texts)
    return np.fromiter(map(float, texts), np.float64, len(texts))


# --- what is computed -----------------------------------------------------------------

class Operation(NamedTuple):
    """What `tarnu batch` computes: the CSV columns it reads, in argument
    order, the columns it appends, and its ufunc on each shape (one array per
    appended column: a single array, or a tuple of them); None where the
    sphere has no such problem."""
    inputs: tuple[str, ...]
    outputs: tuple[str, ...]
    ellipsoid: Callable[..., NDArray[np.float64] | tuple[NDArray[np.float64], ...]]
    sphere: Callable[..., NDArray[np.float64] | tuple[NDArray[np.float64], ...]] | None


OPERATIONS = {
    "distance": Operation(LAT_LON, ("distance_m",), ufunc.geodesic_distance,
                          ufunc.great_circle_distance),
    "destination": Operation(HEADING, ("lat2", "lon2"), ufunc.geodesic_destination,
                             ufunc.great_circle_destination),
    "inverse": Operation(LAT_LON, ("s12", "azi1", "azi2", "a12", *LENGTHS),
                         ufunc.geodesic_inverse_full, None),
    "direct": Operation(HEADING, ("lat2", "lon2", "azi2", "a12", *LENGTHS),
                        ufunc.geodesic_direct, None),
}
# Outputs that are lengths, given in the unit asked for; the ufuncs that take
# metres there (the composition the one-pair conversions use).
LENGTH_OUTPUTS = ("distance_m", "s12", "m12")
FROM_METRES: dict[str, tuple[np.ufunc, ...]] = {
    "m": (), "km": (ufunc.m_to_km,), "mi": (ufunc.m_to_km, ufunc.km_to_mi),
    "nm": (ufunc.m_to_km, ufunc.km_to_nm), "ft": (ufunc.m_to_ft,),
}


@dataclass(frozen=True)
class Plan:
    """One run of `tarnu batch`: the input's name in messages, the operation
    and its ufunc, the header names of its inputs (argument order), the
    delimiter, the texts that mean "no value" (None: none do; else they and
    the empty text, compared without surrounding blanks), the unit of length
    outputs and the digits after the decimal point (None: the shortest text
    that reads back as the same double, as repr gives)."""
    path: str
    operation: Operation
    ufunc: Callable[..., NDArray[np.float64] | tuple[NDArray[np.float64], ...]]
    columns: tuple[str, ...]
    delimiter: str = ","
    na: frozenset[str] | None = None
    unit: str = "m"
    precision: int | None = None

    @property
    def outputs(self) -> tuple[str, ...]:
        return tuple(f"distance_{self.unit}" if name == "distance_m" else name
                     for name in self.operation.outputs)

    def indices(self, header: list[str]) -> list[int]:
        """Where the inputs are in the header (whose names may have blanks around)."""
        names = [name.strip() for name in header]
        missing = [name for name in self.columns if name not in names]
        if missing:
            raise InputError(f"{self.path}, line 1: missing column(s) {', '.join(missing)} "
                             f"(the header must name {', '.join(self.columns)})")
        return [names.index(name) for name in self.columns]

    def value(self, text: str) -> float:
        """One field; ValueError if it is neither a number nor a missing value."""
        if self.na is not None and text.strip() in self.na:
            return math.nan
        return number(text)

    def column(self, texts: list[str]) -> NDArray[np.float64]:
        if self.na is not None:
            texts = ["nan" if text.strip() in self.na else text for text in texts]
        return numbers(texts)

    def bad_value(self, rows: list[list[str]], lines: list[int], indices: list[int]) -> NoReturn:
        """Find the first bad value of a block that failed to parse, and report it."""
        for row, line in zip(rows, lines):
            for name, col in zip(self.columns, indices):
                try:
                    self.value(row[col])
                except ValueError:
                    raise InputError(f"{self.path}, line {line}, column {col + 1} ({name}): "
                                     f"not a number: {row[col]!r}") from None
        raise AssertionError("a block failed to parse, but each of its values parses")

    def compute(self, arrays: Sequence[NDArray[np.float64]]) -> list[NDArray[np.float64]]:
        """The appended columns, lengths in the unit asked for."""
        answer = self.ufunc(*arrays)
        results = list(answer) if isinstance(answer, tuple) else [answer]
        for k, name in enumerate(self.operation.outputs):
            if name in LENGTH_OUTPUTS:
                for convert in FROM_METRES[self.unit]:
                    results[k] = convert(results[k])
        return results

    def format(self, values: NDArray[np.float64]) -> list[str]:
        if self.precision is None:
            return list(map(float.__repr__, values.tolist()))
        return list(map(f"{{:.{self.precision}f}}".format, values.tolist()))


# --- the input, in chunks of whole lines ------------------------------------------------

class Chunk(NamedTuple):
    """Whole lines of the input (the last one ends in a line break, unless
    the input ends there), the number of the first, how many there are, and
    how many bytes of input had been read when it was cut."""
    text: str
    first_line: int
    lines: int
    read: int


def line_breaks(text: str) -> int:
    """Lines ended in `text`, as the csv module counts them: at \\n, \\r\\n or \\r."""
    if "\r" not in text:
        return text.count("\n")
    return text.count("\n") + text.count("\r") - text.count("\r\n")


def _cut(text: str, final: bool) -> int:
    """Where the whole lines of `text` end: after its last line break (a \\r only
    where the next character shows it is not the start of \\r\\n)."""
    if final:
        return len(text)
    r = text.rfind("\r")
    return max(text.rfind("\n"), r if r + 1 < len(text) else -1) + 1


def chunks(raw: IO[bytes], path: str, encoding: str, read: Callable[[], int]
           ) -> Iterator[Chunk]:
    """The input in chunks of whole lines, about CHUNK_BYTES of input each;
    `read()` says how many bytes have been read. A decoding error names its
    line."""
    factory = codecs.getincrementaldecoder(encoding)
    decoder = factory()
    carry, line = "", 1  # decoded text after the last line break; its first line
    while True:
        data = raw.read(CHUNK_BYTES)
        state = decoder.getstate()
        try:
            text = carry + decoder.decode(data, final=not data)
        except UnicodeDecodeError as error:
            good = _decoded_before(factory, state, error)
            name = "UTF-8" if encoding == DEFAULT_ENCODING else encoding
            raise InputError(f"{path}, line {line + line_breaks(carry + good)}: not {name} text "
                             f"({error.reason})") from None
        cut = _cut(text, final=not data)
        carry = text[cut:]
        if cut:
            lines = line_breaks(text[:cut]) + (not data and not text.endswith(("\n", "\r")))
            yield Chunk(text[:cut], line, lines, read())
            line += lines
        if not data:
            return


def _decoded_before(factory: Callable[[], codecs.IncrementalDecoder], state: tuple[bytes, int],
                    error: UnicodeDecodeError) -> str:
    """The text a failed decode call decoded before its bad bytes."""
    probe = factory()
    try:  # the bytes the codec saw begin with those the decoder had kept back
        probe.setstate((b"", state[1]))
        return probe.decode(error.object[:error.start])
    except (UnicodeDecodeError, TypeError, ValueError):
        return ""


def read_header(plan: Plan, pieces: Iterator[Chunk]) -> tuple[list[str], Iterator[Chunk]]:
    """The header row, and the chunks that follow it (the first one cut after it)."""
    first = next(pieces, None)
    while True:
        if first is None:
            raise InputError(f"{plan.path}: empty file, expected a header naming "
                             f"{', '.join(plan.columns)}")
        lines = io.StringIO(first.text, newline="").readlines()
        reader = csv.reader(lines, delimiter=plan.delimiter, strict=True)
        try:
            header = next(reader)
            break
        except csv.Error as error:
            # A header that goes on past the chunk (a quoted field with line
            # breaks in it) takes the next chunk too.
            following = next(pieces, None) if reader.line_num == len(lines) else None
            if following is None:
                raise InputError(f"{plan.path}, line {reader.line_num}: {error}") from None
            first = Chunk(first.text + following.text, first.first_line,
                          first.lines + following.lines, following.read)
    used = reader.line_num
    rest = Chunk("".join(lines[used:]), first.first_line + used, first.lines - used, first.read)
    return header, itertools.chain([rest] if rest.text else [], pieces)


# --- the csv module's engine ------------------------------------------------------------

def write_rows(plan: Plan, pieces: Iterator[Chunk], sink: IO[str], width: int,
               indices: list[int], progress: Callable[[int], None]) -> int:
    """Reads the rows of `pieces` with one csv.reader and writes them with their
    answers, the rows that begin in one chunk at a time; returns their count.
    A row of other than `width` fields is an error."""
    ends: deque[int] = deque()  # the last line of each chunk not yet written

    def lines_of(chunk: Chunk) -> list[str]:
        ends.append(chunk.first_line + chunk.lines - 1)
        progress(chunk.read)
        return io.StringIO(chunk.text, newline="").readlines()

    first = next(pieces, None)
    if first is None:
        return 0
    offset = first.first_line - 1  # reader.line_num counts from the first chunk
    reader = csv.reader(itertools.chain.from_iterable(map(lines_of, itertools.chain([first], pieces))),
                        delimiter=plan.delimiter, strict=True)
    writer = csv.writer(sink, delimiter=plan.delimiter, lineterminator="\n")
    rows: list[list[str]] = []
    lines: list[int] = []
    count = 0
    try:
        for row in reader:
            line = offset + reader.line_num
            if row:
                if len(row) != width:
                    raise InputError(f"{plan.path}, line {line}: {len(row)} field(s), "
                                     f"but the header has {width}")
                rows.append(row)
                lines.append(line)
            if line >= ends[0]:  # the chunk this block began in has been read
                count += _write_block(plan, writer, rows, lines, indices)
                rows, lines = [], []
                while ends and ends[0] <= line:
                    ends.popleft()
    except csv.Error as error:
        raise InputError(f"{plan.path}, line {offset + reader.line_num}: {error}") from None
    return count + _write_block(plan, writer, rows, lines, indices)


def _write_block(plan: Plan, writer: Any, rows: list[list[str]], lines: list[int],
                 indices: list[int]) -> int:
    if not rows:
        return 0
    try:
        arrays = [plan.column([row[col] for row in rows]) for col in indices]
    except ValueError:
        plan.bad_value(rows, lines, indices)
    appended = [plan.format(values) for values in plan.compute(arrays)]
    for row, *texts in zip(rows, *appended):
        row.extend(texts)
    writer.writerows(rows)
    return len(rows)
