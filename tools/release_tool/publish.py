"""tools/release publish: uploads a release folder to the bucket.

    MORVANTIS_PUBLISH_KEY_ID=... MORVANTIS_PUBLISH_KEY_SECRET=... \\
        tools/release publish RELEASE --endpoint HOST[:PORT] [--bucket zqpublish]

Every file below RELEASE/9.5MOrvantisIE is PUT (signature version 1) under its key, the
packages first and summary.ini, release.sha256 and its signature last, so an installer
never reads a manifest that names a package not yet uploaded. Each answer's ETag (MD5)
and CRC-64 must match the local file. The write key comes from the environment only:
the installer's own key is built into the executable, which anyone can read, so it must
never be allowed to write.
"""
import argparse
import base64
import hashlib
import os
import sys

from . import _common as common
from oss_store import crc64

LAST = ("summary.ini", common.SIGNED_LIST, common.SIGNATURE)


def release_files(release):
    root = os.path.join(release, common.KEY_PREFIX)
    if not os.path.isdir(root):
        raise common.Failure("%s holds no %s folder: run tools/release build first" % (release, common.KEY_PREFIX))
    files = []
    for parent, subfolders, names in os.walk(root):
        subfolders.sort()
        for name in sorted(names):
            path = os.path.join(parent, name)
            key = common.KEY_PREFIX + "/" + os.path.relpath(path, root).replace(os.sep, "/")
            if not name.endswith(".new"):
                files.append((key, path))
    if not any(key == common.KEY_PREFIX + "/summary.ini" for key, _ in files):
        raise common.Failure("%s/%s/summary.ini is missing" % (release, common.KEY_PREFIX))
    last = {common.KEY_PREFIX + "/" + name: i for i, name in enumerate(LAST)}
    return sorted(files, key=lambda item: (last.get(item[0], -1), item[0]))


def upload(bucket, key, path):
    with open(path, "rb") as f:
        data = f.read()
    md5 = hashlib.md5(data)
    headers = {"Content-MD5": base64.b64encode(md5.digest()).decode(), "Content-Type": "application/octet-stream",
               "Content-Length": str(len(data))}
    status, answer, body = bucket.request("PUT", key, data, headers)
    if status != 200:
        raise common.Failure("PUT %s: HTTP %d %s" % (key, status, common.error_code(body)))
    etag = answer.get("etag", "").strip('"').upper()
    if etag and etag != md5.hexdigest().upper():
        raise common.Failure("PUT %s: the store's ETag %s is not the file's MD5" % (key, etag))
    crc = answer.get("x-oss-hash-crc64ecma")
    if crc and crc != str(crc64.update(0, data)):
        raise common.Failure("PUT %s: the store's CRC-64 %s is not the file's" % (key, crc))
    return len(data)


def main(argv):
    parser = argparse.ArgumentParser(prog="tools/release publish", description=__doc__.split("\n")[0],
                                     epilog=__doc__.split("\n\n", 2)[2], formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("release", help="release folder made by tools/release build")
    parser.add_argument("--endpoint", required=True, help="the bucket's endpoint: host[:port], http:// or https://")
    parser.add_argument("--bucket", default=common.BUCKET, help="bucket name (default %(default)s)")
    args = parser.parse_args(argv)
    key_id = os.environ.get("MORVANTIS_PUBLISH_KEY_ID", "")
    key_secret = os.environ.get("MORVANTIS_PUBLISH_KEY_SECRET", "")
    if not key_id or not key_secret:
        print("publish: set MORVANTIS_PUBLISH_KEY_ID and MORVANTIS_PUBLISH_KEY_SECRET to the bucket's write key",
              file=sys.stderr)
        return 2
    try:
        bucket = common.Bucket(args.endpoint, key_id, key_secret, args.bucket)
        files = release_files(args.release)
        total = 0
        for key, path in files:
            total += upload(bucket, key, path)
            print("publish: %s" % key)
    except common.Failure as error:
        print("publish: %s" % error, file=sys.stderr)
        return 1
    print("publish: %d objects, %d bytes to %s/%s" % (len(files), total, args.endpoint, args.bucket))
    return 0
