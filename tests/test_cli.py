"""The `tarnu` console script, run as a user runs it (in a subprocess), and as
a hostile user runs it: odd numbers, odd output paths, signals, no stderr."""

import contextlib
import importlib.util
import os
import pty
import re
import shlex
import signal
import stat
import subprocess
import sys
import sysconfig
import threading
import time
from pathlib import Path

import numpy as np
import pytest

from tarnu import __version__, distance, ufunc

SCRIPT = Path(sysconfig.get_path("scripts")) / "tarnu"
HEADER = "lat1,lon1,lat2,lon2\n"
GOOD = HEADER + "1,2,3,4\n\n-33.8688,151.2093,-30,2.5\n"
ODD = HEADER + " -1E1 ,+1.5e-1,2.,.25E+1\nNaN,-inf,Infinity,1e400\n"


def batch_output(text, measure=ufunc.geodesic_distance):
    """What `tarnu batch` writes for a CSV of the four columns alone."""
    lines = [line for line in text.splitlines() if line]
    return "".join([lines[0] + ",distance_m\n"] + [
        f"{line},{float(measure(*map(float, line.split(','))))!r}\n" for line in lines[1:]])


OUT = batch_output(GOOD)
OTHER_COLUMNS = 'name,lat1,lon1,lat2,lon2,note\n"London, UK",51.5074,-0.1278,48.8566,2.3522,x\n'
OTHER_OUT = OTHER_COLUMNS.replace("note\n", "note,distance_m\n").replace("x\n", "x,{!r}\n".format(
    distance.great_circle_distance(51.5074, -0.1278, 48.8566, 2.3522)))
LONG = HEADER + "1,2,3,4\n" * 70_000  # a second block starts at line 65538

# Each case: the arguments, split at blanks (run in a fresh directory; "<&-"
# and ">&-" close standard input and output, as in the shell); the
# files there before ("-": standard input; "d/": a directory; "-> t": a link to
# t; "<null>": a device like /dev/null, made here so that a fault cannot replace
# the system's; (text, mode): a file with those permission bits); the exit
# status; text in the last line of standard error; the files after ("-":
# standard output; compared word by word, numbers to 12 digits; a final "..."
# ends the check). Nothing else may be left in the directory: no temporary file.
CASES = [
    ("", {}, 0, "", {"-": f"tarnu {__version__}: distances between cities, in km from to "
                          "sphere WGS84 difference London -> Paris 343.557 343.923 ..."}),
    *[(f"{command} --help", {}, 0, "", {"-": f"usage: tarnu {command} ..."})
      for command in ["", "distance", "destination", "inverse", "direct", "convert", "batch"]],
    # Numbers printed by each command.
    ("distance 0 0 0 1", {}, 0, "", {"-": "111.319491 km"}),
    ("distance 0 0 0 1 --unit m", {}, 0, "", {"-": "111319.491 m"}),
    ("distance 0 0 0 1 --sphere --unit nm", {}, 0, "", {"-": "60.040540 nm"}),
    ("distance 51.5074 -0.1278 48.8566 2.3522 --unit ft", {}, 0, "", {"-": "1128356.693 ft"}),
    ("destination --unit mi --sphere -- -33.8688 151.2093 -30 2.5", {}, 0, "",
     {"-": "-33.837462777 151.187519360"}),
    ("destination -33.8688 151.2093 -30 2.5 --unit mi", {}, 0, "",
     {"-": "-33.837384990 151.187566314"}),
    *[(f"convert {args}", {}, 0, "", {"-": out}) for args, out in [
        ("-- -10.5 deg dms", "-10.0 30.0 0.0"),
        ("-0.5 deg dms", "-0.0 30.0 0.0"),
        ("-10 30 0 dms deg", "-9.5"),  # each part keeps its sign
        ("3.141592653589793 rad dms", "180.0 0.0 0.0"),
        ("180 deg rad", "3.141592653589793"),
        ("0 90 0 dms rad", "0.026179938779914945"),
        ("7 km mi", "4.349598345661337"),  # one true division
        ("11 km nm", "5.939524838012959"),
        ("1 mi ft", "5280.0"),
        ("3 m ft", "9.84251968503937"),
        ("9 m km", "0.009"),
        ("1 nm m", "1852.0"),
        ("2.5 km km", "2.5"),
        # Every number form, negative ones included, in every position.
        ("-1e3 m km", "-1.0"),
        ("-inf km m", "-inf"),
        ("-NaN m km", "nan"),
        ("+1E1 -3e1 -.0e0 dms deg", "9.5"),
        ("-5. -Infinity 0 dms deg", "-inf"),
    ]],
    ("distance 0 0 0 -5.", {}, 0, "", {"-": "556.597454 km"}),
    ("batch -1e3 -o -5.", {"-1e3": GOOD}, 0, "", {"-5.": OUT}),
    # Every operation, with the columns it reads and writes.
    ("batch in --operation destination --sphere", {"in": "azi1,s12,lat1,lon1\n90,0,0,0\n"}, 0,
     "", {"-": "azi1,s12,lat1,lon1,lat2,lon2 90,0,0,0,0.0,0.0"}),
    ("batch in --operation inverse", {"in": HEADER + "0,0,0,0\n"}, 0, "",
     {"-": "lat1,lon1,lat2,lon2,s12,azi1,azi2,a12,m12,M12,M21,S12 0,0,0,0,0.0,180.0,180.0,0.0,"
           "0.0,1.0,1.0,0.0"}),
    ("batch in --operation direct --sphere", {"in": HEADER}, 2, "the sphere has no direct", {}),
    ("batch in --operation direct", {"in": HEADER}, 2, "missing column(s) azi1, s12", {}),
    # Refused: by the parser, by the commands, in the CSV; one line each.
    *[(args, {}, 2, message, {}) for args, message in [
        ("distance 1 2 3", "tarnu distance: error: the following arguments are required: LON2"),
        ("distance 1 2 3 4 5", "tarnu distance: error: unrecognized arguments: 5"),
        ("batch in.csv -o ''", "tarnu batch: error: argument -o/--output: an empty path names no"),
        ("distance 1 2 3 east", "error: argument LON2: invalid number value: 'east'"),
        ("distance 1_0 2 3 4", "error: argument LAT1: invalid number value: '1_0'"),
        ("convert \u0661 m km", "error: argument VALUE: invalid number value: '\u0661'"),
        ("distance 0 0 0 1 --sphere --ellipsoid", "error: argument --ellipsoid: not allowed"),
        ("distance 0 0 0 1 --unit furlong", "error: argument --unit: invalid choice: 'furlong'"),
        ("nonsense", "tarnu: error: argument COMMAND: invalid choice: 'nonsense'"),
        ("convert 1 km deg", "tarnu: error: cannot convert km to deg"),
        ("convert 1 2 km mi", "tarnu: error: km takes one VALUE, got 2"),
        ("convert 10 30 dms deg", "tarnu: error: dms takes DEGREES MINUTES SECONDS, got 2"),
        ("batch none.csv", "tarnu: error: none.csv: No such file or directory"),
        ("batch - <&-", "tarnu: error: <stdin>: Bad file descriptor"),
    ]],
    *[("batch in.csv -o out.csv", {"in.csv": text, "out.csv": "old"}, 2,
       f"tarnu: error: in.csv{message}", {"out.csv": "old"}) for text, message in [
        (HEADER + "1,2,3,4\n1,2,x,4\n", ", line 3, column 3 (lat2): not a number: 'x'"),
        ("lat2,lat1,lon2,lon1\n1,2,3,4\n\n1,2,3,\n", ", line 4, column 4 (lon1): not a number: ''"),
        (HEADER + "1_0,2,3,4\n", ", line 2, column 1 (lat1): not a number: '1_0'"),
        (HEADER + "1,\u0662,3,4\n", ", line 2, column 2 (lon1): not a number: '\u0662'"),
        (HEADER + "1,2,3,4\n1,2,3,4,5,6\n", ", line 3: 6 field(s), but the header has 4"),
        (HEADER + "1,2,3,4\n1,2,3", ", line 3: 3 field(s), but the header has 4"),
        (LONG + "1.5,2.5,x,4\n", ", line 70002, column 3 (lat2): not a number: 'x'"),
        (LONG + "1.5,2.5,", ", line 70002: 3 field(s), but the header has 4"),
        (HEADER + '1,2,3,"4\n', ", line 2: unexpected end of data"),
        ("lat1,lon1,lat2\n1,2,3\n", ", line 1: missing column(s) lon2"),
        ("", ": empty file"),
    ]],
    # The options for real files: other names, delimiters, missing values,
    # units, digits and encodings.
    ("batch in.csv -q --columns lat1=A,lon1=B,lat2=C,lon2=D", {"in.csv": "D,C,B,A\n4,3,2,1\n"}, 0,
     "", {"-": OUT.replace(HEADER.strip(), "D,C,B,A").splitlines()[0] + " 4,3,2,1,313705.4454693029"}),
    ("batch in.csv -q --delimiter ; --unit km --precision 3 --na n/a -",
     {"in.csv": "lat1;lon1;lat2;lon2\n0;0;0;1\n0; n/a ;0;1\n0;;0;-\n"}, 0, "",
     {"-": "lat1;lon1;lat2;lon2;distance_km 0;0;0;1;111.319 0; n/a ;0;1;nan 0;;0;-;nan"}),
    ("batch in.csv -q --delimiter tab --operation inverse --unit ft",
     {"in.csv": "lat1\tlon1\tlat2\tlon2\n0\t0\t0\t1\n"}, 0, "",
     {"-": "lat1\tlon1\tlat2\tlon2\ts12\tazi1\tazi2\ta12\tm12\tM12\tM21\tS12 0\t0\t0\t1\t"
           "365221.426487118\t90.0\t90.0\t1.0033640898209764\t365202.7596739269\t"
           "0.999846668724626\t0.999846668724626\t0.0"}),
    ("batch in.csv -q --encoding latin-1", {"in.csv": b"lat1,lon1,lat2,lon2,name\n0,0,0,1,caf\xe9\n"},
     0, "", {"-": "lat1,lon1,lat2,lon2,name,distance_m 0,0,0,1,caf\u00e9,111319.49079327357"}),
    *[("batch in.csv -o out.csv" + args, {"in.csv": text}, 2, f"tarnu: error: {message}", {})
      for args, text, message in [
        ("", b"lat1,lon1,lat2,lon2\n0,0,0,1\n0,0,0,\xe9\n",
         "in.csv, line 3: not UTF-8 text (invalid continuation byte)"),
        (" --encoding utf-16", b"\xff\xfel\x00a\x00t\x00\n\x00\x00\xd8\n\x00",
         "in.csv, line 2: not utf-16 text (illegal UTF-16 surrogate)"),
        (" --na n/a", HEADER + "0,0,0,1\n0,0,0,na\n", "in.csv, line 3, column 4 (lon2): not a number: 'na'"),
        (" --columns lat1=A", HEADER, "in.csv, line 1: missing column(s) A (the header must name A, "),
        (" --columns azi1=A", HEADER, "--columns: azi1: not an input of distance (lat1, lon1, "),
      ]],
    *[(f"batch in.csv {args}", {}, 2, f"tarnu batch: error: argument {message}", {})
      for args, message in [
        ("--delimiter .", "--delimiter: one character, not a letter, digit, sign, point"),
        ("--columns lat1", "--columns: expected NAME=HEADER pairs separated by commas"),
        ("--encoding klingon", "--encoding: unknown encoding: klingon"),
        ("--precision -1", "--precision: a whole number from 0 to 20: '-1'"),
      ]],
    # Where the rows go.
    ("batch - --sphere", {"-": OTHER_COLUMNS}, 0, "", {"-": OTHER_OUT}),
    ("batch -", {"-": ODD}, 0, "", {"-": batch_output(ODD)}),
    ("batch in.csv -o out.csv", {"in.csv": GOOD, "out.csv": ("old", 0o600)}, 0, "",
     {"out.csv": (OUT, 0o600)}),
    ("batch in.csv -o link", {"in.csv": GOOD, "f": ("old", 0o640), "link": "-> f"}, 0, "",
     {"link": "-> f", "f": (OUT, 0o640)}),
    ("batch in.csv -o link", {"in.csv": GOOD, "link": "-> new"}, 0, "",
     {"link": "-> new", "new": OUT}),
    ("batch in.csv -o null", {"in.csv": GOOD, "null": "<null>"}, 0, "", {"null": "<null>"}),
    ("batch - -o d", {"-": "not read", "d/": ""}, 1, "tarnu: error: d: Is a directory", {}),
    ("batch in.csv -o no/out.csv", {"in.csv": GOOD}, 1,
     "tarnu: error: no/out.csv: No such file or directory", {}),
    ("distance 0 0 0 1 >&-", {}, 1, "tarnu: error: <stdout>: Bad file descriptor", {}),
    ("batch in.csv >&-", {"in.csv": GOOD}, 1, "tarnu: error: <stdout>: Bad file descriptor", {}),
    ("batch in.csv -o out.csv >&-", {"in.csv": GOOD}, 0, "", {"out.csv": OUT}),
]


def make(path, name, entry):
    text, mode = entry if isinstance(entry, tuple) else (entry, None)
    path = path / name
    if isinstance(text, bytes):
        path.write_bytes(text)
    elif text.startswith("-> "):
        path.symlink_to(text[3:])
    elif text == "<null>":
        try:
            os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
        except PermissionError:
            pytest.skip("making a device needs privileges")
    elif name.endswith("/"):
        path.mkdir()
    else:
        path.write_text(text)
        if mode:
            path.chmod(mode)


def same(got, expected):
    """Word by word, split at blanks and commas; numbers to 12 digits, as
    GeographicLib builds may differ in the last bits."""
    got, expected = re.split(r"[\s,]+", got.strip()), re.split(r"[\s,]+", expected.strip())
    if expected[-1] == "...":
        expected, got = expected[:-1], got[:len(expected) - 1]
    assert len(got) == len(expected), (got, expected)
    for word, wanted in zip(got, expected):
        try:
            value, wanted_value = float(word), float(wanted)
        except ValueError:
            assert word == wanted
        else:
            assert value == pytest.approx(wanted_value, rel=1e-12, nan_ok=True), word


HAS_ARROW = importlib.util.find_spec("pyarrow") is not None
# `tarnu batch`'s engines (TARNU_BATCH_ENGINE): pyarrow's where it is installed,
# and Python's csv module.
ENGINES = ["python", pytest.param("arrow", marks=pytest.mark.skipif(
    not HAS_ARROW, reason="pyarrow is not installed"))]


@pytest.fixture(params=ENGINES)
def engine(request, monkeypatch):
    monkeypatch.setenv("TARNU_BATCH_ENGINE", request.param)
    return request.param


SUMMARY = re.compile(r"tarnu: [\d,]+ rows in [\d.]+ s, [\d,]+ rows/s")


@pytest.mark.parametrize("argv, before, status, stderr, after, engine", [
    pytest.param(*case, engine, id=f"{case[0]} [{engine}]" if engine else case[0],
                 marks=[pytest.mark.skipif(engine == "arrow" and not HAS_ARROW, reason="no pyarrow")])
    for case in CASES
    for engine in (["python", "arrow"] if re.match(r"batch (?!--help)", case[0]) else [""])])
def test_command(tmp_path, monkeypatch, argv, before, status, stderr, after, engine):
    monkeypatch.setenv("TARNU_BATCH_ENGINE", engine)
    for name, entry in before.items():
        if name != "-":
            make(tmp_path, name, entry)
    closed = [fd for fd, word in enumerate(["<&-", ">&-"]) if word in argv.split()]
    result = subprocess.run([SCRIPT, *shlex.split(argv.replace("<&-", "").replace(">&-", ""))],
                            cwd=tmp_path, input=before.get("-"), text=True, capture_output=True,
                            preexec_fn=lambda: [os.close(fd) for fd in closed], timeout=300)
    lines = result.stderr.splitlines()
    assert result.returncode == status, result.stderr
    if engine and status == 0 and "-q" not in argv.split():  # the count of rows, at the end
        assert SUMMARY.fullmatch(lines.pop()), result.stderr
    assert stderr in lines[-1] if stderr else lines == []
    assert len(lines) <= 1 or lines[0].startswith("usage: tarnu"), result.stderr
    assert "``" not in result.stdout  # markup of the docstrings the help is made of
    for name, entry in after.items():
        text, mode = entry if isinstance(entry, tuple) else (entry, None)
        if name == "-":
            same(result.stdout, text)
        elif text.startswith("-> "):
            assert os.readlink(tmp_path / name) == text[3:]
        elif text == "<null>":
            assert stat.S_ISCHR((tmp_path / name).lstat().st_mode)
        else:
            same((tmp_path / name).read_text(), text)
            assert mode is None or stat.S_IMODE((tmp_path / name).stat().st_mode) == mode
    names = {name.rstrip("/") for name in [*before, *after] if name != "-"}
    assert sorted(os.listdir(tmp_path)) == sorted(names)


def test_module_entry():
    result = subprocess.run([sys.executable, "-m", "tarnu", "--version"], capture_output=True,
                            text=True, check=True)
    assert result.stdout == f"tarnu {__version__}\n"


@pytest.mark.parametrize("kind", ["fifo", "pipe", "descriptor of a file opened to append"])
def test_batch_to_a_stream(tmp_path, kind, engine):
    """A FIFO, a pipe (`-o >(cat)`) or a redirection (`-o /dev/stdout >> log`)
    is written to, never replaced."""
    (tmp_path / "in.csv").write_text(GOOD)
    names, keep, stdout, old = ["in.csv", "out"], (), None, ""
    if kind == "fifo":
        os.mkfifo(tmp_path / "out")
        read, target = os.open(tmp_path / "out", os.O_RDONLY | os.O_NONBLOCK), "out"
    elif kind == "pipe":
        (read, write), names = os.pipe(), ["in.csv"]
        target, keep = f"/dev/fd/{write}", (write,)
    else:  # through a link of our own: a fault would replace it, not /dev/stdout
        (tmp_path / "out").write_text(old := "old\n")
        (tmp_path / "stdout").symlink_to("/dev/fd/1")
        read, target, names = os.open(tmp_path / "out", os.O_RDONLY), "stdout", [*names, "stdout"]
        stdout = os.open(tmp_path / "out", os.O_WRONLY | os.O_APPEND)
        keep = (stdout,)
    result = subprocess.run([SCRIPT, "batch", "in.csv", "-o", target], cwd=tmp_path,
                            pass_fds=keep, stdout=stdout, stderr=subprocess.PIPE, timeout=60)
    for fd in keep:
        os.close(fd)
    assert result.returncode == 0, result.stderr
    assert os.read(read, 1 << 16).decode() == old + OUT
    os.close(read)
    assert sorted(os.listdir(tmp_path)) == names


def test_batch_into_a_pipe_closed_early(big, engine):
    """`tarnu batch big.csv | head -1`: the header, no message, and the status
    of a process killed by SIGPIPE."""
    result = subprocess.run(f"'{SCRIPT}' batch '{big[0]}' | head -1; echo ${{PIPESTATUS[0]}}",
                            shell=True, executable="/bin/bash", capture_output=True, text=True,
                            timeout=300)
    assert result.stdout == f"{HEADER.strip()},distance_m\n{128 + signal.SIGPIPE}\n"
    assert result.stderr == ""


@pytest.fixture(scope="module")
def big(tmp_path_factory):
    """A CSV large enough for a progress bar (16 MiB), and its columns."""
    columns = np.random.default_rng(1).uniform([-90, -180, -90, -180], [90, 180, 90, 180],
                                               (250_000, 4))
    path = tmp_path_factory.mktemp("big") / "in.csv"
    np.savetxt(path, columns, fmt="%.17g", delimiter=",", header=HEADER.strip(), comments="")
    assert path.stat().st_size >= 16 << 20
    return path, np.ascontiguousarray(columns.T)


def drain(fd, into):
    """Reads a terminal's master side until its last slave closes."""
    with contextlib.suppress(OSError):  # EIO: no slave left
        while data := os.read(fd, 1 << 16):
            into.append(data)


# Where standard error goes, and whether the bar is drawn there.
STDERR = {"terminal": True, "file": False, "closed": False, "pipe closed by its reader": False}


@pytest.mark.parametrize("stderr", STDERR)
def test_batch_progress_bar(tmp_path, big, stderr, engine):
    """The bar is drawn on a terminal only, never into a file (which gets the
    count of rows alone); where it cannot be drawn, the work goes on."""
    path, columns = big
    master, target, drawn = None, subprocess.PIPE, []
    if stderr == "terminal":
        master, target = pty.openpty()
    elif stderr == "file":
        target = open(tmp_path / "err", "w")
    process = subprocess.Popen(
        [SCRIPT, "batch", path, "-o", tmp_path / "out.csv"], stderr=target,
        preexec_fn=(lambda: os.close(2)) if stderr == "closed" else None)
    reader = threading.Thread(target=drain, args=(master, drawn))
    if master is not None:
        os.close(target)
        reader.start()
    elif stderr == "file":
        target.close()
    else:
        process.stderr.close()
    assert process.wait(timeout=300) == 0
    if master is not None:
        reader.join()
        os.close(master)
    assert (b"in.csv" in b"".join(drawn)) == STDERR[stderr]
    data = np.loadtxt(tmp_path / "out.csv", delimiter=",", skiprows=1)
    assert np.array_equal(data[:, :4].T, columns)
    assert np.array_equal(data[:, 4], ufunc.geodesic_distance(*columns))
    assert sorted(os.listdir(tmp_path)) == ["err", "out.csv"][stderr != "file":]
    assert stderr != "file" or SUMMARY.fullmatch((tmp_path / "err").read_text().rstrip("\n"))


@pytest.mark.parametrize("signum", [signal.SIGINT, signal.SIGTERM, signal.SIGHUP])
def test_batch_stopped_by_a_signal(tmp_path, big, signum, engine):
    """Stopped mid-run: the old output stays, no temporary file is left."""
    (tmp_path / "out.csv").write_text("old")
    process = subprocess.Popen(  # as from a terminal: not ignored, as under nohup or `&`
        [SCRIPT, "batch", big[0], "-o", "out.csv", "-q"], cwd=tmp_path,
        preexec_fn=lambda: signal.signal(signum, signal.SIG_DFL))
    deadline = time.monotonic() + 120
    while not any(name.startswith(".out.csv") and (tmp_path / name).stat().st_size
                  for name in os.listdir(tmp_path)):  # rows being written
        assert process.poll() is None and time.monotonic() < deadline
        time.sleep(0.01)
    process.send_signal(signum)
    assert process.wait(timeout=60) == 128 + signum
    assert os.listdir(tmp_path) == ["out.csv"]
    assert (tmp_path / "out.csv").read_text() == "old"
