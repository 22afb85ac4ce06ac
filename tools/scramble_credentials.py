#!/usr/bin/env python3
"""Scrambles the store's key id and secret into the 57-character credential
store and the 64-bit selection mask that the installer unscrambles at run time
(install/credentials.cpp). Run by CMake at configure time; prints a C++ header.

Unscrambling: drop characters 1, 2 and 3 of the store; of the 54 left, position p
goes to the secret when p <= 40 and bit p of the mask is set, or when p >= 49;
every other position goes to the key id.
"""
import random
import sys

STORE_LEN = 57
KEPT = 54
MASKED = 41          # positions 0..40 are chosen by the mask
ID_TAIL = range(41, 49)
SECRET_TAIL = range(49, 54)


def check(key_id: str, secret: str) -> str:
    """Returns an error text, or '' when the pair can be expressed."""
    for name, value in (("key id", key_id), ("key secret", secret)):
        if not value.isascii() or not value.isprintable():
            return f"the store {name} must be printable ASCII"
    if len(key_id) + len(secret) != KEPT:
        return (f"the store key id and secret must hold 54 characters together; "
                f"they hold {len(key_id)} + {len(secret)} = {len(key_id) + len(secret)}")
    # The tails are fixed: an id of only 8 or a secret of only 5 characters would sit in
    # the store in one piece, readable in the executable.
    if len(key_id) < len(ID_TAIL) + 1:
        return f"the store key id must have at least {len(ID_TAIL) + 1} characters"
    if len(secret) < len(SECRET_TAIL) + 1:
        return f"the store key secret must have at least {len(SECRET_TAIL) + 1} characters"
    return ""


def unscramble(store: str, mask: int):
    kept = store[0] + store[4:]
    key_id, secret = [], []
    for p, ch in enumerate(kept):
        if (p <= 40 and (mask >> p) & 1) or p >= 49:
            secret.append(ch)
        else:
            key_id.append(ch)
    return "".join(key_id), "".join(secret)


def scramble(key_id: str, secret: str, seed: int):
    rng = random.Random(seed)
    secret_in_mask = len(secret) - len(SECRET_TAIL)
    for _ in range(1000):
        chosen = set(rng.sample(range(MASKED), secret_in_mask))
        mask = sum(1 << p for p in chosen)
        # Bits above 40 are never consulted; fill them so the mask reveals nothing.
        mask |= rng.getrandbits(23) << MASKED
        ids, secs = iter(key_id), iter(secret)
        kept = []
        for p in range(KEPT):
            kept.append(next(secs) if (p <= 40 and p in chosen) or p >= 49 else next(ids))
        fill = "".join(rng.choice("ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789") for _ in range(3))
        store = kept[0] + fill + "".join(kept[1:])
        # The clear texts must not show up anywhere in the store.
        if key_id in store or secret in store:
            continue
        assert unscramble(store, mask) == (key_id, secret)
        return store, mask
    raise SystemExit("could not scramble the credentials")


def c_escape(text: str) -> str:
    return "".join("\\\\" if c == "\\" else '\\"' if c == '"' else c for c in text)


def main(argv):
    if len(argv) not in (3, 4):
        print("usage: scramble_credentials.py KEY_ID KEY_SECRET [SEED]", file=sys.stderr)
        return 2
    key_id, secret = argv[1], argv[2]
    if not key_id and not secret:
        # A build without a key, for a public-read bucket: nothing to hide.
        print("// Generated at configure time by tools/scramble_credentials.py. Do not edit.")
        print("#pragma once")
        print('#define MORVANTIS_CREDENTIAL_STORE ""')
        print("#define MORVANTIS_CREDENTIAL_MASK 0x0000000000000000ULL")
        return 0
    error = check(key_id, secret)
    if error:
        print(error, file=sys.stderr)
        return 1
    seed = int(argv[3]) if len(argv) == 4 else random.SystemRandom().getrandbits(32)
    store, mask = scramble(key_id, secret, seed)
    print("// Generated at configure time by tools/scramble_credentials.py. Do not edit.")
    print("#pragma once")
    print(f'#define MORVANTIS_CREDENTIAL_STORE "{c_escape(store)}"')
    print(f"#define MORVANTIS_CREDENTIAL_MASK 0x{mask:016X}ULL")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
