"""Where a command's output goes, so that nothing is replaced that should not
be and nothing is left behind: `open_output` for the file an -o option names,
`stopped_by_signals` so that SIGTERM and SIGHUP unwind like Ctrl-C."""

from __future__ import annotations

import contextlib
import errno
import os
import signal
import stat
import sys
import tempfile
from collections.abc import Iterator
from typing import IO, NoReturn


@contextlib.contextmanager
def open_output(target: str | None) -> Iterator[IO[str]]:
    """The sink for -o TARGET (standard output for none or "-"). A regular
    file, or a path where nothing is yet, is written through a temporary file
    that replaces it only when every row is good; through a symbolic link, the
    file it points to is replaced. A device, FIFO, socket or open descriptor
    (/dev/stdout, /dev/fd/N) is appended to as a stream. A directory is refused
    before any input is read. Errors name TARGET."""
    if target in (None, "-"):
        yield sys.stdout
        return
    try:
        with _sink(target) as sink:
            yield sink
    except OSError as error:
        if error.filename is not None:  # already names the output, or the input
            raise
        raise OSError(error.errno, error.strerror, target) from None


def _sink(target: str) -> contextlib.AbstractContextManager[IO[str]]:
    try:
        mode: int | None = os.stat(target).st_mode
    except FileNotFoundError:
        mode = None
    if mode is not None and stat.S_ISDIR(mode):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), target)
    if (mode is None or stat.S_ISREG(mode)) and not _names_descriptor(target):
        return _Replacement(target)
    # Appending, because a descriptor's file may have been opened to append
    # (`>> log`); to a pipe or a device it makes no difference.
    return open(target, "a", encoding="utf-8", newline="")


def _names_descriptor(path: str) -> bool:
    """Whether `path` leads through /proc/PID/fd (as /dev/stdout and /dev/fd/N
    do) to a descriptor already open, whose redirection a rename would defeat."""
    for _ in range(40):  # the kernel's own limit on links followed
        parent = os.path.realpath(os.path.dirname(os.path.abspath(path)))
        if parent.startswith("/proc/") and parent.endswith("/fd"):
            return True
        if not os.path.islink(path):
            return False
        path = os.path.join(os.path.dirname(path), os.readlink(path))
    return False


class _Replacement:
    """A temporary file beside the file `target` names, which replaces that
    file when the block ends normally, keeping its permission bits (and owner,
    where allowed), and is removed otherwise. Errors name `target`, never the
    temporary file."""

    def __init__(self, target: str) -> None:
        self.target = target
        self.final = os.path.realpath(target)

    def __enter__(self) -> IO[str]:
        # A file the user may not write stays protected, as it would from open().
        if os.path.exists(self.final) and not os.access(self.final, os.W_OK):
            raise PermissionError(errno.EACCES, os.strerror(errno.EACCES), self.target)
        try:
            self.file = tempfile.NamedTemporaryFile(
                "w", dir=os.path.dirname(self.final),
                prefix=f".{os.path.basename(self.final)}.", suffix=".tmp",
                delete=False, encoding="utf-8", newline="")
        except OSError as error:
            raise OSError(error.errno, error.strerror, self.target) from None
        return self.file

    def __exit__(self, kind: object, *rest: object) -> None:
        replaced = False
        try:
            if kind is None:
                self.file.flush()
                self._take_mode(self.file.fileno())
                os.fsync(self.file.fileno())  # the rows are on disk before the name moves
                os.replace(self.file.name, self.final)
                replaced = True
        except OSError as error:
            raise OSError(error.errno, error.strerror, self.target) from None
        finally:
            if not replaced:
                with contextlib.suppress(FileNotFoundError):
                    os.unlink(self.file.name)
            with contextlib.suppress(OSError):  # nothing is left to flush
                self.file.close()

    def _take_mode(self, fd: int) -> None:
        try:
            old = os.stat(self.final)
        except FileNotFoundError:
            umask = os.umask(0)
            os.umask(umask)
            os.fchmod(fd, 0o666 & ~umask)  # as open() would have made it
            return
        with contextlib.suppress(OSError):
            os.fchown(fd, old.st_uid, old.st_gid)
        os.fchmod(fd, stat.S_IMODE(old.st_mode))  # after fchown, which clears set-id bits


@contextlib.contextmanager
def stopped_by_signals() -> Iterator[None]:
    """SIGTERM and SIGHUP end the run the way Ctrl-C does: as an exception,
    so that a temporary output file is removed on the way out. A signal the
    parent ignores (nohup) stays ignored."""
    stop_signals = [s for s in (signal.SIGTERM, signal.SIGHUP)
                    if signal.getsignal(s) == signal.SIG_DFL]

    def stop(signum: int, frame: object) -> NoReturn:
        raise SystemExit(128 + signum)

    for s in stop_signals:
        signal.signal(s, stop)
    try:
        yield
    finally:
        for s in stop_signals:
            signal.signal(s, signal.SIG_DFL)
