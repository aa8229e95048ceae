"""`tarnu batch`'s two engines, in this process: the csv module's and
pyarrow's write the same bytes and report the same errors, whatever the input
and wherever the input is cut into chunks."""

import math
import struct

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tarnu import _batch, cli

pa = pytest.importorskip("pyarrow")
pc = pytest.importorskip("pyarrow.compute")
_arrow = pytest.importorskip("tarnu._arrow")

HEADER = b"lat1,lon1,lat2,lon2"
ROWS = b"\n".join([b"1,2,3,4", b" 10 ,\t20 , 30,40", b"", b"0,0,0,0", b"0,0,1e-9,0", b"nan,1,2,inf",
                   b"-1E1,+1.5e-1,2.,.25E+1", b"0,0,0,180", b"89.9999,0,-89.9999,180"])
LONG = 140_000  # characters: a field over the csv module's limit (131072)

# Each case: its name, the input, the options. Rows with a quote, a carriage
# return or a bad value come after plain ones, so that the engines meet them
# in a later chunk.
CASES = [
    ("plain", HEADER + b"\n" + ROWS + b"\n", []),
    ("no final line break, other columns", b"name," + HEADER + b"\n" + b"\n".join(
        b"\xc3\xa9t\xc3\xa9 %d,%d,2,3,4" % (k, k) for k in range(40)), []),
    ("quoted fields later", HEADER + b",note\n" + b"1,2,3,4,x\n" * 20 +
     b'1,2,3,4,"a, ""b""\nc"\n5,6,7,8,y\n', []),
    ("quoted header", b'"lat1","lon1",lat2,"lon2"\n' + ROWS, []),
    ("CRLF, bad number later", (HEADER + b"\n" + ROWS + b"\n1,2,x,4").replace(b"\n", b"\r\n"), []),
    ("CR", (HEADER + b"\n" + ROWS).replace(b"\n", b"\r"), []),
    ("bad number later", HEADER + b"\n" + ROWS + b"\n" * 3 + b"1,2,x,4\n", []),
    ("nan(1), which float() refuses", HEADER + b"\n" + ROWS + b"\n1,2,nan(1),4\n", []),
    ("other blanks and digits", HEADER + b"\n1,2,3,\x1c4\n1,2,3,1_0\n", []),
    ("too many fields later", HEADER + b"\n" + ROWS + b"\n1,2,3,4,5\n", []),
    ("a field over the limit", HEADER + b",x\n1,2,3,4," + b"y" * LONG + b"\n", []),
    ("bad byte later", HEADER + b"\n" + ROWS + b"\n1,2,3,\xff\n", []),
    ("header only", HEADER + b"\n", []),
    ("missing values", HEADER + b"\n1,2,3,\n n/a ,2,3,4\n-,2,3,4\n\xe2\x80\x94,1,2,3\n",
     ["--na", "n/a", "\u2014", "-"]),
    ("digits, unit, delimiter", HEADER.replace(b",", b";") + b";note\n" +
     ROWS.replace(b",", b";").replace(b"\n", b";a,b\n") + b";c\n",
     ["--precision", "2", "--unit", "mi", "--delimiter", ";"]),
    ("direct, eight outputs", b"lat1,lon1,azi1,s12\n" + ROWS + b"\n", ["--operation", "direct"]),
    ("one column for two inputs", b"lat1,lon1,lon2\n1,2,3\n4,5,6\n", ["--columns", "lat2=lat1"]),
    ("latin-1", HEADER + b",name\n1,2,3,4,caf\xe9\n", ["--encoding", "latin-1"]),
]


def run(tmp_path, capsysbinary, monkeypatch, data, options, engine, chunk):
    monkeypatch.setenv("TARNU_BATCH_ENGINE", engine)
    monkeypatch.setattr(_batch, "CHUNK_BYTES", chunk)
    (tmp_path / "in.csv").write_bytes(data)
    status = cli.main(["batch", str(tmp_path / "in.csv"), "-q", *options])
    return status, *capsysbinary.readouterr()


@pytest.mark.parametrize("name, data, options", CASES, ids=[case[0] for case in CASES])
def test_engines_write_the_same_bytes(tmp_path, capsysbinary, monkeypatch, name, data, options):
    """Per chunk size, the engines agree on the output (rows written before an
    error included), the message and the status; across chunk sizes, the
    message and status are the same, and the output too where there is no error."""
    taken = []
    rows = _arrow._rows
    monkeypatch.setattr(_arrow, "_rows", lambda *args: taken.append(rows(*args)) or taken[-1])
    runs = {(engine, chunk): run(tmp_path, capsysbinary, monkeypatch, data, options, engine, chunk)
            for chunk in (7, 64, _batch.CHUNK_BYTES) for engine in ("python", "arrow")}
    for chunk in (7, 64, _batch.CHUNK_BYTES):
        assert runs["python", chunk] == runs["arrow", chunk], chunk
    status, out, err = runs["python", _batch.CHUNK_BYTES]
    assert {(s, e, o if s == 0 else b"") for s, o, e in runs.values()} == {
        (status, err, out if status == 0 else b"")}
    assert (status, err == b"") in [(0, True), (2, False)]
    assert name != "plain" or any(t is not None for t in taken)  # Arrow took its chunks


# Doubles of every magnitude and kind: random bits, integers, ends of ranges.
def doubles(n, seed=3):
    rng = np.random.default_rng(seed)
    bits = np.frombuffer(rng.integers(0, 2**64, n, dtype=np.uint64).tobytes(), np.float64)
    return np.concatenate([
        bits, 10.0 ** rng.uniform(-20, 22, n), np.round(rng.uniform(-1e6, 1e6, n)),
        np.array([0.0, -0.0, math.nan, math.inf, -math.inf, 1e-4, 9.999999999999999e-05, 1e15,
                  1e16, 9999999999999998.0, 5e-324, 1.7976931348623157e308])])


def test_shortest_is_repr():
    values = doubles(100_000)
    assert _arrow.shortest(values).to_pylist() == list(map(repr, values.tolist()))


# Arrow must read no number that the csv module's engine would refuse, nor
# read one as another double.
@settings(max_examples=3000, deadline=None)
@given(st.text(alphabet="0123456789.+-eEinfatyINFATY_ \t\x1c\u0661", max_size=10))
def test_arrow_reads_only_what_float_reads(text):
    try:
        got = pc.cast(pc.ascii_trim_whitespace(pa.array([text])), pa.float64())[0].as_py()
    except pa.ArrowInvalid:
        return
    want = _batch.number(text)
    assert struct.pack("<d", got) == struct.pack("<d", want) or math.isnan(got) and math.isnan(want)
