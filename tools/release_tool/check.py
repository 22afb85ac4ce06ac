"""tools/release check: verifies a published (or ready) release for one package code
without installing it.

    tools/release check [--endpoint HOST[:PORT] | --folder RELEASE] [--code CODE]
        [--build BUILD] [--folder-prefix PREFIX] [--public-key PEM]

Does what the installer of that build will do, short of installing: reads summary.ini,
fetches every package it names, compares each answer's Content-Length and CRC-64 header
with the body, unpacks every package with the installer's own zip reader (zip_check.exe
of BUILD under Wine) into a scratch folder, checks that every unpacked path fits in 259
bytes below the staging folder of a user with a 20-character name, that the manifest's
values are valid names, and with --public-key that release.sha256.sig verifies and
release.sha256 lists every fetched object with its digest. One line per finding; exit
code 0 only when there is none.

BUILD (default ./build) gives the endpoint, the read key, the package code and the
folder prefix unless given; MORVANTIS_STORE_KEY_ID / MORVANTIS_STORE_KEY_SECRET in the
environment override the key.
"""
import argparse
import hashlib
import io
import os
import subprocess
import sys
import tempfile
import zipfile

from . import _common as common
from oss_store import crc64

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The default folder of a user with a 20-character name (the longest a Windows account
# name may be): C:\Users\<name>\AppData\Local\<product folder> and the staging folder
# beside it, "temp" appended.
USER_BASE = "C:\\Users\\" + "u" * 20 + "\\AppData\\Local\\"
PATH_LIMIT = 259  # MAX_PATH with its terminating NUL


class Source:
    """Objects of the release: (data or None, finding or None) per key."""

    def __init__(self, endpoint=None, key_id="", key_secret="", folder=None):
        self.folder = folder
        self.bucket = None if folder else common.Bucket(endpoint, key_id, key_secret)

    def fetch(self, key):
        if self.folder:
            path = os.path.join(self.folder, *key.split("/"))
            if not os.path.isfile(path):
                return None, "missing object: %s" % key
            with open(path, "rb") as f:
                return f.read(), None
        status, head, _ = self.bucket.request("HEAD", key)
        if status == 404:
            return None, "missing object: %s" % key
        if status != 200:
            return None, "unreadable object: %s: HEAD answered HTTP %d" % (key, status)
        status, headers, data = self.bucket.request("GET", key)
        if status != 200:
            return None, "unreadable object: %s: GET answered HTTP %d %s" % (key, status, common.error_code(data))
        announced = head.get("content-length")
        if announced is not None and int(announced) != len(data):
            return data, "size mismatch: %s: HEAD says %s bytes, the body has %d" % (key, announced, len(data))
        if int(headers.get("content-length", len(data))) != len(data):
            return data, "size mismatch: %s: GET says %s bytes, the body has %d" % (
                key, headers["content-length"], len(data))
        crc = headers.get("x-oss-hash-crc64ecma")
        if crc is not None and crc != str(crc64.update(0, data)):
            return data, "CRC-64 mismatch: %s: the store says %s, the body has %d" % (key, crc, crc64.update(0, data))
        return data, None


def entry_names(data):
    """Entry names as the reader sees them (GBK bytes unless flagged UTF-8), backslashes."""
    names = []
    with zipfile.ZipFile(io.BytesIO(data)) as archive:
        for info in archive.infolist():
            # zipfile decodes names without the UTF-8 flag as code page 437: back to the bytes.
            raw = info.filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
            names.append(raw.replace(b"/", b"\\"))
    return names


def long_paths(key, data, staging, target):
    findings = []
    try:
        names = entry_names(data)
    except (zipfile.BadZipFile, UnicodeError, ValueError):
        return []  # the installer's reader says what is wrong with it
    base = (staging + "\\" + (target + "\\" if target else "")).encode("gbk")
    for name in names:
        length = len(base) + len(name.rstrip(b"\\"))
        if length > PATH_LIMIT:
            findings.append("path too long: %s: %s is %d bytes below the staging folder %s (at most %d)" % (
                key, name.decode("gbk", "replace"), length, staging, PATH_LIMIT))
    return findings


def reader_verdict(helper, key, data, scratch):
    """A finding when the installer's reader refuses the package, else None."""
    archive = os.path.join(scratch, "package.zip")
    target = os.path.join(scratch, "unpacked")
    with open(archive, "wb") as f:
        f.write(data)
    result = subprocess.run([os.path.join(TOOLS, "wine-run"), helper, "Z:" + archive.replace("/", "\\"),
                             "Z:" + target.replace("/", "\\")], capture_output=True)
    output = result.stdout.decode("gbk", "replace").splitlines()
    if result.returncode == 0 and "accepted" in output:
        return None
    details = [line for line in output if line.startswith(("log:", "box:"))]
    if result.returncode not in (0, 1):
        details.append("zip_check exit code %d: %s" % (result.returncode, result.stderr.decode("utf-8", "replace").strip()))
    return "unsafe archive: %s: the installer's zip reader refuses it%s" % (
        key, (" (" + "; ".join(details) + ")") if details else "")


def signature_findings(source, public_key, fetched, scratch):
    listing, problem = source.fetch(common.KEY_PREFIX + "/" + common.SIGNED_LIST)
    signature, problem2 = source.fetch(common.KEY_PREFIX + "/" + common.SIGNATURE)
    if listing is None or signature is None:
        return ["bad signature: " + (problem or problem2)]
    listing_path = os.path.join(scratch, common.SIGNED_LIST)
    signature_path = listing_path + ".sig"
    with open(listing_path, "wb") as f:
        f.write(listing)
    with open(signature_path, "wb") as f:
        f.write(signature)
    result = subprocess.run(["openssl", "dgst", "-sha256", "-verify", public_key, "-signature", signature_path,
                             listing_path], capture_output=True)
    if result.returncode != 0:
        return ["bad signature: %s/%s does not verify with %s" % (common.KEY_PREFIX, common.SIGNATURE, public_key)]
    listed = {}
    for line in listing.decode("utf-8", "replace").splitlines():
        digest, _, name = line.partition("  ")
        if name:
            listed[name.lstrip("*")] = digest.lower()
    findings = []
    for key, data in fetched.items():
        if key not in listed:
            findings.append("bad signature: %s is not listed in %s" % (key, common.SIGNED_LIST))
        elif listed[key] != hashlib.sha256(data).hexdigest():
            findings.append("bad signature: %s does not match its digest in %s" % (key, common.SIGNED_LIST))
    return findings


def run(args, findings):
    settings = {}
    build = args.build or ("build" if os.path.isfile("build/CMakeCache.txt") else None)
    if build:
        settings = common.build_settings(build)
    code = args.code or settings.get("MORVANTIS_PACKAGE_CODE", "")
    if not common.is_code(code):
        raise common.Failure("give --code (six digits) or a configured --build")
    prefix = args.folder_prefix if args.folder_prefix is not None else settings.get("MORVANTIS_FOLDER_PREFIX", "")
    helper = os.path.join(build or "build", "test-programs", "zip_check.exe")
    if not os.path.isfile(helper):
        raise common.Failure("%s is missing: build it (cmake --build BUILD --target zip_check)" % helper)
    if build and not os.environ.get("WINEPREFIX"):
        os.environ["WINEPREFIX"] = os.path.join(os.path.abspath(build), "wineprefix")
    if args.folder:
        source = Source(folder=args.folder)
    else:
        endpoint = args.endpoint or settings.get("MORVANTIS_STORE_ENDPOINT")
        key_id = os.environ.get("MORVANTIS_STORE_KEY_ID") or settings.get("MORVANTIS_STORE_KEY_ID", "")
        key_secret = os.environ.get("MORVANTIS_STORE_KEY_SECRET") or settings.get("MORVANTIS_STORE_KEY_SECRET", "")
        if not endpoint or not key_id or not key_secret:
            raise common.Failure("give --endpoint and the read key (a configured --build, or the environment)")
        source = Source(endpoint, key_id, key_secret)
    staging = USER_BASE + (prefix or "MOrvantis") + code + "v9.5temp"

    manifest_key = common.KEY_PREFIX + "/summary.ini"
    manifest, problem = source.fetch(manifest_key)
    if manifest is None:
        findings.append(problem)
        return
    if problem:
        findings.append(problem)
    fetched = {manifest_key: manifest}
    fix, quant, stock = common.manifest_values(manifest, code)
    for section, value, required in (("fixstamp", fix, True), ("quant", quant, False)):
        reason = common.value_problem(value) if (value or required) else None
        if reason:
            findings.append("bad manifest value: [%s] %s=%s: %s" % (section, code, value, reason))
    with tempfile.TemporaryDirectory(prefix="release-check-") as scratch:
        for index, (key, target) in enumerate(common.package_keys(fix, quant, stock)):
            data, problem = source.fetch(key)
            if problem:
                findings.append(problem)
            if data is None:
                continue
            fetched[key] = data
            findings.extend(long_paths(key, data, staging, target))
            package_scratch = os.path.join(scratch, str(index))
            os.makedirs(package_scratch)
            verdict = reader_verdict(helper, key, data, package_scratch)
            if verdict:
                findings.append(verdict)
        if args.public_key:
            findings.extend(signature_findings(source, args.public_key, fetched, scratch))
    print("check: package %s: %d objects read, %s" % (
        code, len(fetched), ", ".join(k[len(common.KEY_PREFIX) + 1:] for k in fetched)), file=sys.stderr)


def main(argv):
    parser = argparse.ArgumentParser(prog="tools/release check", description=__doc__.split("\n")[0],
                                     epilog=__doc__.split("\n\n", 2)[2], formatter_class=argparse.RawDescriptionHelpFormatter)
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--endpoint", help="the bucket's endpoint (default: the build's)")
    where.add_argument("--folder", help="a release folder instead of a bucket (no CRC-64 headers to compare)")
    parser.add_argument("--code", help="package code (default: the build's)")
    parser.add_argument("--build", help="configured build folder (default ./build)")
    parser.add_argument("--folder-prefix", help="folder-name prefix of the build (default: the build's)")
    parser.add_argument("--public-key", help="PEM public key: verify release.sha256.sig and the digests")
    args = parser.parse_args(argv)
    findings = []
    try:
        run(args, findings)
    except common.Failure as error:
        print("check: %s" % error, file=sys.stderr)
        return 2
    for finding in findings:
        print(finding)
    print("check: %s" % ("%d finding(s)" % len(findings) if findings else "the release holds"), file=sys.stderr)
    return 1 if findings else 0
