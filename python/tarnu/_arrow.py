"""`tarnu batch` through pyarrow: each chunk read by pyarrow's CSV reader,
its numbers parsed and formatted by Arrow compute, its lines written as they
came with the answers appended, all in C++ but the ufunc call.

It writes what the csv module's engine (tarnu._batch.write_rows) writes, byte
for byte. It takes a chunk only where that engine would read plain lines split
at the delimiter: no quote and no carriage return in it, no line longer than
the csv module's field limit. There the csv module writes each row as it was,
so the line itself is the row. Anything Arrow reads otherwise or refuses (a
row of other than the header's width, a value that is not a number, or one
Arrow reads and float() would not, such as "nan(1)") sends the chunk to the
csv module's engine, which then writes it or reports the first error exactly
as it always does. From the first chunk with a quote or carriage return on,
which may open a field that goes on into the next chunk, that engine takes
the rest of the input.
"""

from __future__ import annotations

import codecs
import csv
import itertools
from collections.abc import Callable, Iterator
from typing import IO, Any

import numpy as np
import pyarrow as pa  # type: ignore[import-untyped]
import pyarrow.compute as pc  # type: ignore[import-untyped]
import pyarrow.csv as pcsv  # type: ignore[import-untyped]
from numpy.typing import NDArray

from tarnu._batch import Chunk, Plan, write_rows


def write_arrow(plan: Plan, pieces: Iterator[Chunk], sink: IO[str], width: int,
                indices: list[int], progress: Callable[[int], None]) -> int:
    """Writes the rows of `pieces` with their answers, as write_rows does;
    returns their count."""
    names = [f"f{i}" for i in range(width)]
    read = pcsv.ReadOptions(column_names=names, block_size=1 << 20)
    parse = pcsv.ParseOptions(delimiter=plan.delimiter, quote_char=False, escape_char=False,
                              newlines_in_values=False, ignore_empty_lines=True)
    used = [names[i] for i in dict.fromkeys(indices)]  # a column may be two inputs
    convert = pcsv.ConvertOptions(include_columns=used, column_types=dict.fromkeys(used, pa.string()),
                                  strings_can_be_null=False, quoted_strings_can_be_null=False)
    missing = pa.array(sorted(plan.na), pa.string()) if plan.na is not None else None
    count = 0
    for chunk in pieces:
        progress(chunk.read)
        if '"' in chunk.text or "\r" in chunk.text:
            return count + write_rows(plan, itertools.chain([chunk], pieces), sink, width, indices,
                                      progress)
        lines = _rows(plan, chunk, [names[i] for i in indices], read, parse, convert, missing)
        if lines is None:
            count += write_rows(plan, iter([chunk]), sink, width, indices, progress)
        else:
            _write(sink, lines)
            count += len(lines)
    return count


def _rows(plan: Plan, chunk: Chunk, inputs: list[str], read: pcsv.ReadOptions,
          parse: pcsv.ParseOptions, convert: pcsv.ConvertOptions, missing: pa.Array | None
          ) -> pa.Array | None:
    """The chunk's rows with their answers, each after a line break: "\\nrow,answer".
    None where the csv module's engine must take the chunk."""
    data = b"\n" + chunk.text.encode()
    try:
        table = pcsv.read_csv(pa.BufferReader(data), read_options=read, parse_options=parse,
                              convert_options=convert)
    except pa.ArrowInvalid:  # a row of another width, for one
        return None
    # Each line with the break before it, as one string: the breaks are the offsets.
    breaks = np.flatnonzero(np.frombuffer(data, np.uint8) == ord("\n"))
    offsets = breaks if data.endswith(b"\n") else np.append(breaks, len(data))
    sizes = np.diff(offsets)
    lines = pa.Array.from_buffers(pa.string(), len(sizes),
                                  [None, pa.py_buffer(offsets.astype(np.int32)), pa.py_buffer(data)])
    if (sizes == 1).any():  # blank lines: no row
        lines = pc.filter(lines, pa.array(sizes > 1))
    if len(lines) != table.num_rows or not len(lines) or sizes.max() > csv.field_size_limit():
        return None
    arrays = []
    for name in inputs:
        texts = table[name]
        if missing is not None:  # float() ignores blanks around a number
            texts = pc.ascii_trim_whitespace(texts)
            texts = pc.if_else(pc.is_in(texts, value_set=missing), "nan", texts)
        if "(" in chunk.text and pc.any(pc.match_substring(texts, "(")).as_py():
            return None  # "nan(...)", which float() refuses
        try:
            arrays.append(_floats(texts))
        except pa.ArrowInvalid:
            return None
    answers = [shortest(values) if plan.precision is None else pa.array(plan.format(values))
               for values in plan.compute(arrays)]
    return pc.binary_join_element_wise(lines, *answers, plan.delimiter)


def _floats(texts: pa.ChunkedArray) -> NDArray[np.float64]:
    try:
        values = pc.cast(texts, pa.float64())
    except pa.ArrowInvalid:  # blanks around numbers, which float() ignores
        values = pc.cast(pc.ascii_trim_whitespace(texts), pa.float64())
    return np.asarray(values.to_numpy(), np.float64)


def shortest(values: NDArray[np.float64]) -> pa.Array:
    """repr() of each value: the shortest text that reads back as the same
    double. Arrow finds the same digits and lays them out as repr does where
    both write them without an exponent, but for the ".0" that repr gives a
    whole number; the values that either writes with an exponent are repr's."""
    texts = pc.cast(pa.array(values), pa.string())
    size = np.abs(values)
    with np.errstate(invalid="ignore"):  # signalling NaNs
        exponent = (size < 1e-4) & (size != 0) | (size >= 1e16) & np.isfinite(size)
        if (np.frombuffer(texts.buffers()[2], np.uint8) == ord("e")).any():
            exponent |= pc.match_substring(texts, "e").to_numpy(zero_copy_only=False)
        whole = (values == np.floor(values)) & np.isfinite(values) & ~exponent
    if whole.any():  # "2.0" where Arrow writes "2"
        texts = pc.if_else(pa.array(whole), pc.binary_join_element_wise(texts, ".0", ""), texts)
    if exponent.any():
        texts = pc.replace_with_mask(texts, pa.array(exponent),
                                     pa.array(list(map(float.__repr__, values[exponent].tolist()))))
    return texts


def _write(sink: Any, rows: pa.Array) -> None:
    """The rows, each "\\nrow,answer", as "row,answer\\n": straight to the binary
    stream under a UTF-8 sink, after what the sink holds."""
    offsets = np.frombuffer(rows.buffers()[1], np.int32)
    data = memoryview(rows.buffers()[2])[offsets[rows.offset] + 1:offsets[rows.offset + len(rows)]]
    buffer = getattr(sink, "buffer", None)
    if buffer is not None and codecs.lookup(sink.encoding).name == "utf-8" and \
            sink.errors == "strict":
        sink.flush()
        buffer.write(data)
        buffer.write(b"\n")
    else:
        sink.write(bytes(data).decode() + "\n")
