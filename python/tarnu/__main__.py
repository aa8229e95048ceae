"""``python -m tarnu``: the ``tarnu`` command (a demonstration when run without
arguments; ``--help`` lists the commands)."""

from tarnu.cli import main

if __name__ == "__main__":
    raise SystemExit(main())
