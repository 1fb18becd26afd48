"""Ports for the test servers."""

import random


def listen_on_free_port(create):
    """Listens on a free port in the upper half of the range, so that every test also shows that
    ports above 32767 work."""
    for _ in range(500):
        try:
            return create(random.randint(32768, 65535))
        except OSError:
            continue
    raise SystemExit("no free port above 32767")
