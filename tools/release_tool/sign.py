"""tools/release sign: writes release.sha256 and release.sha256.sig beside a release's
summary.ini, so that a build with the matching release key installs it."""
import argparse
import os
import sys

from release_tool import _signing


def sign_release(root, prefix, private_key, expected_public=None):
    """Writes the list and its signature into root/prefix; returns the number of objects."""
    folder = os.path.join(root, prefix)
    if not os.path.isfile(os.path.join(folder, "summary.ini")):
        raise _signing.SigningError("%s holds no summary.ini: give the folder laid out as the bucket" % folder)
    point = _signing.private_key_point(private_key)
    if expected_public is not None and _signing.read_public_point(expected_public) != point:
        raise _signing.SigningError("%s is not the private half of %s" % (private_key, expected_public))
    text = _signing.list_text(root, prefix)
    signature = _signing.openssl("dgst", "-sha256", "-sign", private_key, data=text)
    # Written only once both are ready, the signature last: a list never stands beside a stale signature.
    list_path = os.path.join(folder, _signing.LIST_NAME)
    signature_path = os.path.join(folder, _signing.SIGNATURE_NAME)
    for path in (signature_path, list_path):
        if os.path.exists(path):
            os.remove(path)
    with open(list_path, "wb") as handle:
        handle.write(text)
    with open(signature_path, "wb") as handle:
        handle.write(signature)
    return text.count(b"\n")


def main(argv):
    parser = argparse.ArgumentParser(
        prog="tools/release sign",
        description="Lists every object of a release with its SHA-256 (release.sha256) and signs the list with an "
                    "ECDSA P-256 private key (release.sha256.sig, DER, as openssl dgst -sha256 -sign writes it).")
    parser.add_argument("folder", help="the release laid out as the bucket: FOLDER/PREFIX/summary.ini, packages...")
    parser.add_argument("--key", required=True, help="private key (PEM), e.g. from openssl ecparam -genkey -name prime256v1")
    parser.add_argument("--prefix", default=_signing.DEFAULT_PREFIX, help="key prefix of the release (default %(default)s)")
    parser.add_argument("--public", help="the build's MORVANTIS_RELEASE_KEY: refuse a private key that does not match it")
    args = parser.parse_args(argv)
    try:
        count = sign_release(args.folder, args.prefix, args.key, args.public)
    except (_signing.SigningError, OSError) as error:
        print("release sign: %s" % error, file=sys.stderr)
        return 1
    print("release sign: %d objects listed and signed in %s" % (count, os.path.join(args.folder, args.prefix)))
    return 0
