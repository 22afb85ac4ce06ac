"""Release signing shared by the release verbs and the build: the P-256 public key as
the installer embeds it, the list of objects and their SHA-256, the openssl call."""
import base64
import hashlib
import os
import re
import subprocess

LIST_NAME = "release.sha256"
SIGNATURE_NAME = "release.sha256.sig"
DEFAULT_PREFIX = "9.5MOrvantisIE"

# SubjectPublicKeyInfo of an uncompressed P-256 point, as `openssl ec -pubout` writes it,
# up to the point itself: id-ecPublicKey, prime256v1, a BIT STRING of 66 bytes.
_P256_SPKI_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200")
_P = 0xFFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF
_B = 0x5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B


class SigningError(Exception):
    pass


def public_point(pem_text):
    """The 64 bytes X || Y of an ECDSA P-256 public key in PEM (SubjectPublicKeyInfo)."""
    match = re.search(r"-----BEGIN PUBLIC KEY-----\s*([A-Za-z0-9+/=\s]+?)-----END PUBLIC KEY-----", pem_text)
    if not match:
        if "PRIVATE KEY" in pem_text:
            raise SigningError("it holds a private key; give the public key (openssl ec -in private.pem -pubout)")
        raise SigningError("no \"-----BEGIN PUBLIC KEY-----\" block")
    try:
        der = base64.b64decode("".join(match.group(1).split()), validate=True)
    except ValueError:
        raise SigningError("the PUBLIC KEY block is not base64")
    if len(der) != len(_P256_SPKI_PREFIX) + 65 or not der.startswith(_P256_SPKI_PREFIX) or der[len(_P256_SPKI_PREFIX)] != 4:
        raise SigningError("not an uncompressed ECDSA P-256 (prime256v1) public key")
    point = der[len(_P256_SPKI_PREFIX) + 1:]
    x, y = int.from_bytes(point[:32], "big"), int.from_bytes(point[32:], "big")
    if x >= _P or y >= _P or (y * y - (x * x * x - 3 * x + _B)) % _P != 0:
        raise SigningError("the point is not on the P-256 curve")
    return point


def read_public_point(path):
    try:
        with open(path, "r", encoding="ascii", errors="replace") as handle:
            return public_point(handle.read())
    except OSError as error:
        raise SigningError("cannot be read: %s" % error.strerror)


def openssl(*args, data=None):
    try:
        return subprocess.run(["openssl"] + list(args), input=data, capture_output=True, check=True).stdout
    except FileNotFoundError:
        raise SigningError("openssl is not installed (tools/install-deps installs it)")
    except subprocess.CalledProcessError as error:
        message = error.stderr.decode(errors="replace").strip().splitlines()
        raise SigningError("openssl %s failed: %s" % (args[0], message[0] if message else "exit code %d" % error.returncode))


def private_key_point(path):
    """The public point of a P-256 private key file: checks that it is one."""
    return public_point(openssl("pkey", "-in", path, "-pubout").decode("ascii"))


def release_keys(root, prefix):
    """Every object below root/prefix but the list and its signature: (key, path), sorted."""
    objects = []
    for folder, subfolders, names in os.walk(os.path.join(root, prefix)):
        subfolders.sort()
        for name in names:
            path = os.path.join(folder, name)
            key = os.path.relpath(path, root).replace(os.sep, "/")
            if key in (prefix + "/" + LIST_NAME, prefix + "/" + SIGNATURE_NAME):
                continue
            if any(c in key for c in "\\\r\n"):
                raise SigningError("object key %r cannot be written in a sha256sum line" % key)
            objects.append((key, path))
    return sorted(objects, key=lambda item: item[0].encode("utf-8"))


def file_sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as handle:
        for block in iter(lambda: handle.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def list_text(root, prefix):
    return "".join("%s  %s\n" % (file_sha256(path), key) for key, path in release_keys(root, prefix)).encode("utf-8")
