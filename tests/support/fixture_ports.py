"""Ports for the test servers."""

import random


def listen_below_32768(create):
    """The updater reads ports as 16-bit signed numbers, so the fixture listens on a free port
    below 32768 rather than on one the system picks."""
    for _ in range(500):
        try:
            return create(random.randint(20000, 32767))
        except OSError:
            continue
    raise SystemExit("no free port below 32768")
