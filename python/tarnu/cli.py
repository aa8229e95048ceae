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
import codecs
import contextlib
import csv
import errno
import io
import os
import signal
import sys
import time
from collections.abc import Callable, Iterator, Mapping, Sequence
from typing import IO, TYPE_CHECKING, Any

from tarnu import __version__, _info, distance, geodesic, units
from tarnu._batch import (DEFAULT_ENCODING, OPERATIONS, Chunk, InputError, Plan, chunks, number,
                          read_header, write_rows)
from tarnu._output import open_output, stopped_by_signals

if TYPE_CHECKING:
    from _typeshed import WriteableBuffer

PROGRESS_BYTES = 16 << 20  # inputs at least this large get a progress bar

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


def columns_option(text: str) -> dict[str, str]:
    """--columns: NAME=HEADER pairs, comma-separated."""
    pairs = [pair.partition("=") for pair in text.split(",")]
    if not all(equals and name.strip() and header.strip() for name, equals, header in pairs):
        raise argparse.ArgumentTypeError(f"expected NAME=HEADER pairs separated by commas, as in "
                                         f"lat1=LAT,lon1=LON, not {text!r}")
    return {name.strip(): header.strip() for name, _, header in pairs}


def delimiter_option(text: str) -> str:
    """--delimiter: one character that cannot be part of a number or a quoted field."""
    text = {"tab": "\t", "\\t": "\t"}.get(text, text)
    if len(text) != 1 or text.isalnum() or text in '.+-"\r\n':
        raise argparse.ArgumentTypeError(f"one character, not a letter, digit, sign, point, "
                                         f"quote or line break: {text!r}")
    return text


def encoding_option(text: str) -> str:
    """--encoding: a codec Python knows; UTF-8 reads a byte order mark too."""
    try:
        name = codecs.lookup(text).name
    except LookupError:
        raise argparse.ArgumentTypeError(f"unknown encoding: {text}") from None
    return DEFAULT_ENCODING if name in ("utf-8", "utf-8-sig") else text


def precision_option(text: str) -> int:
    text = text.strip()
    if not text.isdigit() or int(text) > 20:
        raise argparse.ArgumentTypeError(f"a whole number from 0 to 20: {text!r}")
    return int(text)


def batch_plan(args: argparse.Namespace) -> Plan:
    """What a `tarnu batch` command line asks for."""
    operation = OPERATIONS[args.operation]
    if args.sphere and operation.sphere is None:
        raise InputError(f"--sphere: the sphere has no {args.operation} problem "
                         "(only distance and destination)")
    mapping = args.columns or {}
    strange = [name for name in mapping if name not in operation.inputs]
    if strange:
        raise InputError(f"--columns: {', '.join(strange)}: not an input of {args.operation} "
                         f"({', '.join(operation.inputs)})")
    return Plan(path="<stdin>" if args.input == "-" else args.input, operation=operation,
                ufunc=operation.sphere if args.sphere and operation.sphere else operation.ellipsoid,
                columns=tuple(mapping.get(name, name) for name in operation.inputs),
                delimiter=args.delimiter,
                na=None if args.na is None else frozenset(v.strip() for v in args.na) | {""},
                unit=args.unit, precision=args.precision)


# `tarnu batch` engines: pyarrow where installed, else the csv module;
# TARNU_BATCH_ENGINE=python or arrow chooses.
Engine = Callable[[Plan, Iterator[Chunk], IO[str], int, list[int], Callable[[int], None]], int]


def batch_engine(plan: Plan) -> Engine:
    choice = os.environ.get("TARNU_BATCH_ENGINE", "")
    if choice not in ("", "arrow", "python"):
        raise InputError(f"TARNU_BATCH_ENGINE={choice}: expected arrow or python")
    if choice == "python" or len(plan.delimiter.encode()) != 1:
        return write_rows
    try:
        from tarnu._arrow import write_arrow
    except ImportError:
        if choice == "arrow":
            raise InputError("TARNU_BATCH_ENGINE=arrow: pyarrow is not installed") from None
        return write_rows
    return write_arrow


def cmd_batch(args: argparse.Namespace) -> None:
    plan = batch_plan(args)
    engine = batch_engine(plan)
    if args.input == "-" and sys.stdin is None:  # started with standard input closed
        raise InputError(f"{plan.path}: {os.strerror(errno.EBADF)}")
    try:
        raw: IO[bytes] = sys.stdin.buffer if args.input == "-" else open(plan.path, "rb")
    except OSError as error:
        raise InputError(f"{plan.path}: {error.strerror}") from None
    started = time.perf_counter()
    counter = _CountingReader(raw, plan.path)
    size = os.fstat(raw.fileno()).st_size if args.input != "-" else 0
    with raw, stopped_by_signals(), open_output(args.output) as sink:
        bar = None
        if size >= PROGRESS_BYTES and not args.quiet and _is_terminal(sys.stderr):
            from tqdm import tqdm
            bar = tqdm(total=size, unit="B", unit_scale=True, desc=os.path.basename(plan.path),
                       file=_Quiet(), leave=False)

        def progress(read: int) -> None:
            if bar is not None:
                bar.update(read - bar.n)

        try:
            pieces = chunks(io.BufferedReader(counter), plan.path, args.encoding,
                            lambda: counter.count)
            header, pieces = read_header(plan, pieces)
            indices = plan.indices(header)
            csv.writer(sink, delimiter=plan.delimiter, lineterminator="\n").writerow(
                [*header, *plan.outputs])
            rows = engine(plan, pieces, sink, len(header), indices, progress)
        finally:
            if bar is not None:
                bar.close()
    seconds = time.perf_counter() - started
    if not args.quiet:
        _say(f"{rows:,} rows in {seconds:.2f} s, {rows / max(seconds, 1e-9):,.0f} rows/s")


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
    sub.add_argument("-q", "--quiet", action="store_true",
                     help="no progress bar, and no count of rows at the end")
    sub.add_argument("--operation", choices=list(OPERATIONS), default="distance",
                     help="; ".join(f"{name}: {', '.join(op.inputs)} -> {', '.join(op.outputs)}"
                                    for name, op in OPERATIONS.items()))
    _shape_option(sub)
    sub.add_argument("--columns", metavar="NAME=HEADER,...", type=columns_option,
                     help="the header's names for the inputs, where they differ (lat1=LAT,lon1=LON)")
    sub.add_argument("--delimiter", metavar="CHAR", type=delimiter_option, default=",",
                     help="between fields, in and out (default ','; 'tab' for a tab)")
    sub.add_argument("--na", metavar="VALUE", nargs="*",
                     help="fields that mean no value (blanks around them ignored), and empty "
                          "fields: NaN answers rather than an error; put it after INPUT.csv")
    sub.add_argument("--unit", choices=lengths, default="m",
                     help="unit of the lengths appended (distance, s12, m12; default m); "
                          "distance_m is then named distance_UNIT. S12 stays in m^2")
    sub.add_argument("--precision", metavar="DIGITS", type=precision_option,
                     help="digits after the decimal point in the answers (default: the fewest "
                          "that read back as the same double)")
    sub.add_argument("--encoding", metavar="NAME", type=encoding_option, default=DEFAULT_ENCODING,
                     help="the input's text encoding (default UTF-8); the output is UTF-8")

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


def _say(message: str) -> None:
    if sys.stderr is not None:  # None when started with standard error closed
        with contextlib.suppress(OSError):
            print(f"tarnu: {message}", file=sys.stderr)


def _report(message: str) -> None:
    _say(f"error: {message}")


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
