#!/usr/bin/python3
"""Prints the 64 bytes X || Y of an ECDSA P-256 public key file (PEM, as `openssl ec
-pubout` writes it) as hex, for the build; a clear message and exit code 1 otherwise."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from release_tool import _signing  # noqa: E402

if __name__ == "__main__":
    try:
        print(_signing.read_public_point(sys.argv[1]).hex(), end="")
    except _signing.SigningError as error:
        print("%s: %s" % (sys.argv[1], error), file=sys.stderr)
        sys.exit(1)
