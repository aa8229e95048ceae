"""The tarnu command: distances, destinations, geodesic problems, unit
conversions and batch distances over CSV files from the shell.

Run without arguments for a short demonstration; 'tarnu COMMAND --help'
describes each command. Latitude comes before longitude, angles are in
degrees, azimuths clockwise from north. Numbers are plain ASCII decimals or
scientific notation (-1.5e3), or nan, inf, infinity in any case; negative
ones need no quoting: tarnu distance -33.87 151.21 35.68 139.65
"""

from __future__ import annotations

import argparse
import contextlib
import csv
import errno
import io
import itertools
import os
import signal
import sys
from collections.abc import Callable, Iterator, Mapping, Sequence
from typing import IO, TYPE_CHECKING, Any, NamedTuple, NoReturn

import numpy as np
from numpy.typing import NDArray

from tarnu import __version__, _info, distance, geodesic, ufunc, units
from tarnu._output import open_output, stopped_by_signals

if TYPE_CHECKING:
    from _typeshed import WriteableBuffer

BLOCK_ROWS = 65536  # rows read, computed and written per batch block
PROGRESS_BYTES = 16 << 20  # inputs at least this large get a progress bar
LAT_LON = ("lat1", "lon1", "lat2", "lon2")
HEADING = ("lat1", "lon1", "azi1", "s12")
LENGTHS = ("m12", "M12", "M21", "S12")

# Lengths: each unit's conversion to and from metres.
TO_METRES: dict[str, Callable[[float], float]] = {
    "m": lambda x: x,
    "km": lambda x: units.km_to_m(x),
    "mi": lambda x: units.km_to_m(units.mi_to_km(x)),
    "nm": lambda x: units.km_to_m(units.nm_to_km(x)),
    "ft": lambda x: units.ft_to_m(x),
}
FROM_METRES: dict[str, Callable[[float], float]] = {
    "m": lambda x: x,
    "km": lambda x: units.m_to_km(x),
    "mi": lambda x: units.km_to_mi(units.m_to_km(x)),
    "nm": lambda x: units.km_to_nm(units.m_to_km(x)),
    "ft": lambda x: units.m_to_ft(x),
}
# Pairs that one library function converts exactly, without going via metres.
DIRECT: dict[tuple[str, str], Callable[[float], float]] = {
    ("km", "mi"): lambda x: units.km_to_mi(x),
    ("mi", "km"): lambda x: units.mi_to_km(x),
    ("km", "nm"): lambda x: units.km_to_nm(x),
    ("nm", "km"): lambda x: units.nm_to_km(x),
    ("deg", "rad"): lambda x: units.deg_to_rad(x),
    ("rad", "deg"): lambda x: units.rad_to_deg(x),
}
DECIMALS = {"m": 3, "ft": 3, "km": 6, "mi": 6, "nm": 6}  # about a millimetre
ANGLES = ("deg", "rad", "dms")

INVERSE_UNITS = {"lat1": "deg", "lon1": "deg", "lat2": "deg", "lon2": "deg",
                 "s12": "m", "azi1": "deg", "azi2": "deg", "a12": "deg",
                 "m12": "m", "M12": "(scale)", "M21": "(scale)", "S12": "m^2"}


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


# --- one-shot commands --------------------------------------------------------

def cmd_distance(args: argparse.Namespace) -> None:
    measure = distance.great_circle_distance if args.sphere else distance.geodesic_distance
    metres = measure(args.lat1, args.lon1, args.lat2, args.lon2)
    print(f"{FROM_METRES[args.unit](metres):.{DECIMALS[args.unit]}f} {args.unit}")


def cmd_destination(args: argparse.Namespace) -> None:
    move = distance.great_circle_destination if args.sphere else distance.geodesic_destination
    lat2, lon2 = move(args.lat, args.lon, args.azimuth, TO_METRES[args.unit](args.distance))
    print(f"{lat2:.9f} {lon2:.9f}")


def print_quantities(result: Mapping[str, object]) -> None:
    for key, value in result.items():
        print(f"{key:<4} {value!r} {INVERSE_UNITS[key]}")


def cmd_inverse(args: argparse.Namespace) -> None:
    print_quantities(geodesic.inverse(args.lat1, args.lon1, args.lat2, args.lon2))


def cmd_direct(args: argparse.Namespace) -> None:
    print_quantities(geodesic.direct(args.lat1, args.lon1, args.azi1, args.s12))


def convert(values: Sequence[float], source: str, target: str) -> tuple[float, ...]:
    """Convert one value (three for a "dms" source) from one unit to another."""
    if (source in ANGLES) != (target in ANGLES):
        raise InputError(f"cannot convert {source} to {target}: one is a length, one an angle")
    if len(values) != (3 if source == "dms" else 1):
        wanted = "DEGREES MINUTES SECONDS" if source == "dms" else "one VALUE"
        raise InputError(f"{source} takes {wanted}, got {len(values)} value(s)")
    if source == "dms":
        deg = units.dms_to_deg(*values)
        return (deg,) if target == "deg" else convert([deg], "deg", target)
    (value,) = values
    if source == target:
        return (value,)
    if target == "dms":
        return units.deg_to_dms(value if source == "deg" else units.rad_to_deg(value))
    if (source, target) in DIRECT:
        return (DIRECT[source, target](value),)
    return (FROM_METRES[target](TO_METRES[source](value)),)


def cmd_convert(args: argparse.Namespace) -> None:
    print(" ".join(repr(x) for x in convert(args.values, args.source, args.target)))


# --- batch ----------------------------------------------------------------------

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


class _CountingReader(io.RawIOBase):
    """A binary stream that counts the bytes read through it (for progress).
    A read error names the input, so that an error without a name is the
    output's."""

    def __init__(self, raw: IO[bytes], path: str) -> None:
        self.raw, self.path, self.count = raw, path, 0

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: WriteableBuffer) -> int:
        try:
            n = self.raw.readinto(buffer) or 0  # type: ignore[attr-defined]
        except OSError as error:
            raise OSError(error.errno, error.strerror, self.path) from None
        self.count += n
        return n


class _Quiet:
    """Standard error for the progress bar: once it cannot be written (closed,
    or a pipe whose reader has gone), the bar goes silent and the work goes on."""

    def __init__(self) -> None:
        self.stream: IO[str] | None = sys.stderr

    def write(self, text: str) -> None:
        self._call(lambda stream: stream.write(text))

    def flush(self) -> None:
        self._call(lambda stream: stream.flush())

    def _call(self, use: Callable[[IO[str]], object]) -> None:
        if self.stream is not None:
            try:
                use(self.stream)
            except (OSError, ValueError):
                self.stream = None


def _is_terminal(stream: IO[str] | None) -> bool:
    """Whether `stream` is a terminal, where a progress bar is drawn; a file or
    pipe gets none (redrawn bars would be written into it)."""
    try:
        return stream is not None and stream.isatty()
    except (OSError, ValueError):  # closed
        return False


def _column_indices(header: list[str], wanted: Sequence[str], path: str) -> list[int]:
    names = [name.strip() for name in header]
    missing = [name for name in wanted if name not in names]
    if missing:
        raise InputError(f"{path}, line 1: missing column(s) {', '.join(missing)} "
                         f"(the header must name {', '.join(wanted)})")
    return [names.index(name) for name in wanted]


def _locate_error(path: str, rows: list[list[str]], lines: list[int],
                  columns: list[int], names: Sequence[str]) -> NoReturn:
    """Find the first bad value of a block that failed to parse, and report it."""
    for row, line in zip(rows, lines):
        for name, col in zip(names, columns):
            try:
                number(row[col])
            except ValueError:
                raise InputError(f"{path}, line {line}, column {col + 1} ({name}): "
                                 f"not a number: {row[col]!r}") from None
    raise AssertionError("a block failed to parse, but each of its values parses")


def _blocks(reader: Iterator[list[str]], line_of: Callable[[], int], width: int, path: str
            ) -> Iterator[tuple[list[list[str]], list[int]]]:
    """Rows of the CSV in blocks of BLOCK_ROWS, skipping blank lines, with
    each row's (last) line number; a row of other than `width` fields is an error."""
    while True:
        rows: list[list[str]] = []
        lines: list[int] = []
        for row in itertools.islice(reader, BLOCK_ROWS):
            if row:
                if len(row) != width:
                    raise InputError(f"{path}, line {line_of()}: {len(row)} field(s), "
                                     f"but the header has {width}")
                rows.append(row)
                lines.append(line_of())
        if not rows:
            return
        yield rows, lines


def _write_rows(source: IO[str], sink: IO[str], path: str, operation: Operation,
                sphere: bool, on_block: Callable[[], None]) -> None:
    reader = csv.reader(source, strict=True)
    writer = csv.writer(sink, lineterminator="\n")
    try:
        header = next(reader)
    except StopIteration:
        raise InputError(f"{path}: empty file, expected a header naming "
                         f"{', '.join(operation.inputs)}") from None
    columns = _column_indices(header, operation.inputs, path)
    compute = operation.sphere if sphere and operation.sphere else operation.ellipsoid
    writer.writerow([*header, *operation.outputs])
    blocks = _blocks(reader, lambda: reader.line_num, len(header), path)
    while True:
        try:
            block = next(blocks, None)
        except csv.Error as error:
            raise InputError(f"{path}, line {reader.line_num}: {error}") from None
        if block is None:
            return
        rows, lines = block
        try:
            arrays = [numbers([row[col] for row in rows]) for col in columns]
        except ValueError:
            _locate_error(path, rows, lines, columns, operation.inputs)
        results = compute(*arrays)
        appended = [r.tolist() for r in (results if isinstance(results, tuple) else (results,))]
        for row, *values in zip(rows, *appended):
            row.extend(map(repr, values))
        writer.writerows(rows)
        on_block()


def cmd_batch(args: argparse.Namespace) -> None:
    operation = OPERATIONS[args.operation]
    if args.sphere and operation.sphere is None:
        raise InputError(f"--sphere: the sphere has no {args.operation} problem "
                         "(only distance and destination)")
    path = "<stdin>" if args.input == "-" else args.input
    if args.input == "-" and sys.stdin is None:  # started with standard input closed
        raise InputError(f"{path}: {os.strerror(errno.EBADF)}")
    try:
        raw: IO[bytes] = sys.stdin.buffer if args.input == "-" else open(path, "rb")
    except OSError as error:
        raise InputError(f"{path}: {error.strerror}") from None
    counter = _CountingReader(raw, path)
    size = os.fstat(raw.fileno()).st_size if args.input != "-" else 0
    with raw, stopped_by_signals(), open_output(args.output) as sink, \
            io.TextIOWrapper(io.BufferedReader(counter), encoding="utf-8-sig",
                             newline="") as source:
        bar = None
        if size >= PROGRESS_BYTES and not args.quiet and _is_terminal(sys.stderr):
            from tqdm import tqdm
            bar = tqdm(total=size, unit="B", unit_scale=True, desc=os.path.basename(path),
                       file=_Quiet(), leave=False)

        def progress() -> None:
            if bar is not None:
                bar.update(counter.count - bar.n)

        try:
            _write_rows(source, sink, path, operation, args.sphere, progress)
        except UnicodeDecodeError as error:
            raise InputError(f"{path}: not UTF-8 text ({error.reason})") from None
        finally:
            if bar is not None:
                bar.close()


# --- the demo -------------------------------------------------------------------

CITY_PAIRS = [
    ("London", 51.5074, -0.1278, "Paris", 48.8566, 2.3522),
    ("New York", 40.7128, -74.0060, "Los Angeles", 34.0522, -118.2437),
    ("Sydney", -33.8688, 151.2093, "Tokyo", 35.6762, 139.6503),
    ("Quito", -0.1807, -78.4678, "Singapore", 1.3521, 103.8198),
]


def demo() -> None:
    print(f"tarnu {__version__}: distances between cities, in km\n")
    print(f"  {'from':>9}    {'to':<12} {'sphere':>12} {'WGS84':>12} {'difference':>11}")
    for name1, lat1, lon1, name2, lat2, lon2 in CITY_PAIRS:
        sphere = units.m_to_km(distance.great_circle_distance(lat1, lon1, lat2, lon2))
        ellipsoid = units.m_to_km(distance.geodesic_distance(lat1, lon1, lat2, lon2))
        print(f"  {name1:>9} -> {name2:<12} {sphere:12.3f} {ellipsoid:12.3f} "
              f"{ellipsoid - sphere:+11.3f}")
    print("\n  1000 km from London at azimuth 90 (due east at the start):")
    for label, move in (("sphere", distance.great_circle_destination),
                        ("WGS84", distance.geodesic_destination)):
        lat, lon = move(51.5074, -0.1278, 90.0, units.km_to_m(1000.0))
        print(f"    {label:>6}: lat {lat:10.6f}, lon {lon:10.6f}")
    print(f"\n  Marathon: 42.195 km = {units.km_to_mi(42.195):.4f} mi"
          f" = {units.km_to_nm(42.195):.4f} nm")
    print("\nMore: tarnu --help")


# --- the parser -----------------------------------------------------------------

def output_path(text: str) -> str:
    """An -o argument: a path, or "-" for standard output; never empty."""
    if not text:
        raise argparse.ArgumentTypeError("an empty path names no file ('-' is standard output)")
    return text


class _CommandParser(argparse.ArgumentParser):
    """A command's parser. Arguments it does not know are its own error, so the
    message comes with the command's usage rather than the top level's."""

    def parse_known_args(self, *args: Any, **kwargs: Any) -> Any:
        namespace, extra = super().parse_known_args(*args, **kwargs)
        if extra:
            self.error(f"unrecognized arguments: {' '.join(extra)}")
        return namespace, extra


def _shape_option(parser: argparse.ArgumentParser) -> None:
    shape = parser.add_mutually_exclusive_group()
    shape.add_argument("--sphere", action="store_true",
                       help="great circle on a sphere of radius 6371008.8 m")
    shape.add_argument("--ellipsoid", action="store_false", dest="sphere",
                       help="geodesic on the WGS84 ellipsoid (the default)")


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="tarnu", description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action="version", version=f"tarnu {__version__}")
    commands = parser.add_subparsers(title="commands", metavar="COMMAND",
                                     parser_class=_CommandParser)

    def command(name: str, run: Callable[[argparse.Namespace], None], text: str
                ) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, help=text, description=text)
        sub.set_defaults(run=run)
        return sub

    def number_arguments(sub: argparse.ArgumentParser, *names: str) -> None:
        for name in names:
            sub.add_argument(name.lower(), metavar=name, type=number)

    lengths = list(DECIMALS)
    sub = command("distance", cmd_distance,
                  "Distance between two points (default: WGS84, in km).")
    number_arguments(sub, "LAT1", "LON1", "LAT2", "LON2")
    _shape_option(sub)
    sub.add_argument("--unit", choices=lengths, default="km", help="unit of the result (km)")

    sub = command("destination", cmd_destination,
                  "Point reached from LAT LON along AZIMUTH (degrees clockwise from north) "
                  "after DISTANCE (default: WGS84, DISTANCE in km); prints LAT2 LON2.")
    number_arguments(sub, "LAT", "LON", "AZIMUTH", "DISTANCE")
    _shape_option(sub)
    sub.add_argument("--unit", choices=lengths, default="km", help="unit of DISTANCE (km)")

    sub = command("inverse", cmd_inverse,
                  "The full WGS84 inverse problem: every quantity between two points.")
    number_arguments(sub, "LAT1", "LON1", "LAT2", "LON2")
    sub = command("direct", cmd_direct,
                  "The full WGS84 direct problem: from LAT1 LON1 along AZI1 for S12 metres.")
    number_arguments(sub, "LAT1", "LON1", "AZI1", "S12")

    sub = command("convert", cmd_convert,
                  "Convert VALUE from one unit to another: lengths m km mi nm ft, angles deg "
                  "rad dms. A dms value is three numbers, DEGREES MINUTES SECONDS, each "
                  "keeping its own sign (10 30 0 is 10.5 deg; -10.5 deg is -10 -30 0); dms "
                  "output carries the sign on the degrees alone (-10.5 deg gives -10.0 30.0 "
                  "0.0).")
    sub.add_argument("values", metavar="VALUE", type=number, nargs="+")
    units_ = [*lengths, *ANGLES]
    sub.add_argument("source", metavar="FROM", choices=units_, help=" ".join(units_))
    sub.add_argument("target", metavar="TO", choices=units_, help=" ".join(units_))

    sub = command("batch", cmd_batch,
                  "One problem for every row of a CSV file. Writes the rows, other columns "
                  "unchanged, with the answer's columns appended: by default the distance "
                  "(columns lat1, lon1, lat2, lon2 in, distance_m out). Angles are in degrees "
                  "and lengths in metres, s12 included (unlike the DISTANCE of 'tarnu "
                  "destination', in km by default); S12 is in square metres, M12 and M21 have "
                  "no unit. Streams in blocks, so files larger than memory work.")
    sub.add_argument("input", metavar="INPUT.csv", help="the CSV file ('-' for stdin)")
    sub.add_argument("-o", "--output", metavar="OUTPUT.csv", type=output_path,
                     help="where to write (default stdout): a file is replaced only when every "
                          "row is good; a pipe or device gets the rows as they come")
    sub.add_argument("-q", "--quiet", action="store_true", help="no progress bar")
    sub.add_argument("--operation", choices=list(OPERATIONS), default="distance",
                     help="; ".join(f"{name}: {', '.join(op.inputs)} -> {', '.join(op.outputs)}"
                                    for name, op in OPERATIONS.items()))
    _shape_option(sub)

    command("info", lambda args: print(_info.report()),
            "What runs here: the version, each vectorised kernel's instruction set and "
            "vector width, the worker pool's threads and the native libraries loaded.")

    from tarnu import _measure
    _measure.add_command(command)
    return parser


def parse_args(argv: Sequence[str]) -> argparse.Namespace:
    """The command line, where every negative number is an argument, not an
    option. argparse itself sees one only in "-5" and "-0.5", and reads "-1e3",
    "-inf" or "-5." as unknown options; with a leading blank, which number()
    ignores, each is a plain argument, and a string argument gets its text back."""
    negative = {f" {arg}" for arg in argv if arg.startswith("-") and _is_number(arg)}
    args = build_parser().parse_args([f" {arg}" if f" {arg}" in negative else arg
                                      for arg in argv])
    for key, value in vars(args).items():
        if isinstance(value, str) and value in negative:
            setattr(args, key, value[1:])
    return args


def _is_number(text: str) -> bool:
    try:
        number(text)
    except ValueError:
        return False
    return True


def _report(message: str) -> None:
    if sys.stderr is not None:  # None when started with standard error closed
        with contextlib.suppress(OSError):
            print(f"tarnu: error: {message}", file=sys.stderr)


def main(argv: Sequence[str] | None = None) -> int:
    args = parse_args(sys.argv[1:] if argv is None else argv)
    try:
        if sys.stdout is None and getattr(args, "output", None) in (None, "-"):
            raise OSError(errno.EBADF, os.strerror(errno.EBADF), "<stdout>")  # closed
        if not hasattr(args, "run"):
            demo()
        else:
            args.run(args)
        if sys.stdout is not None:
            sys.stdout.flush()
    except InputError as error:
        _report(str(error))
        return 2
    except BrokenPipeError:  # e.g. `tarnu batch big.csv | head -1`: as if killed by SIGPIPE
        if sys.stdout is not None:  # its flush at exit would fail again
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 128 + signal.SIGPIPE
    except OSError as error:  # e.g. the output's directory does not exist
        _report(f"{error.filename}: {error.strerror}" if error.filename else str(error))
        return 1
    except KeyboardInterrupt:
        return 130
    return 0
