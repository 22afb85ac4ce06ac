"""What the release verbs share: the store's layout, the manifest as the installer reads
it, the name rule of manifest values, a build folder's settings, and signed requests to
an OSS bucket (signature version 1)."""
import base64
import email.utils
import hashlib
import hmac
import http.client
import os
import re
import urllib.parse

KEY_PREFIX = "9.5MOrvantisIE"
BUCKET = "zqpublish"
STOCK_KEY = "CspAccessApi.StockInfo.pub.zip"
STOCK_TARGET = "Server\\config\\BaseData"
MANIFEST_VALUE_BYTES = 20  # the installer's 21-byte buffers
SIGNED_LIST = "release.sha256"
SIGNATURE = "release.sha256.sig"

_DEVICE = re.compile(r"^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])(\..*)?$", re.IGNORECASE)
_NAME = re.compile(r"^[A-Za-z0-9._-]+$")


class Failure(Exception):
    """A problem that stops a verb: printed as one line, exit code 1."""


def is_code(code):
    return len(code) == 6 and code.isascii() and code.isdigit()


def value_problem(value):
    """Why a manifest value (fixVersion, quantName) is not a valid file name, or None.
    The installer cuts it to 20 bytes first, so that is what is judged."""
    cut = value.encode("gbk", "replace")[:MANIFEST_VALUE_BYTES].decode("gbk", "replace")
    if not cut:
        return "empty"
    if cut != value:
        return "longer than %d bytes (the installer would use %r)" % (MANIFEST_VALUE_BYTES, cut)
    if not _NAME.match(cut):
        return "only A-Z a-z 0-9 . _ - are allowed"
    if cut in (".", ".."):
        return "not a file name"
    if _DEVICE.match(cut):
        return "a device name"
    return None


def read_ini(data):
    """{section: {key: value}} with lower-case names, as GetPrivateProfileString finds
    them: the first section and key of a name win, values are trimmed."""
    sections, current = {}, None
    for raw in data.decode("gbk", "replace").splitlines():
        line = raw.strip()
        if line.startswith("[") and "]" in line:
            current = sections.setdefault(line[1:line.index("]")].strip().lower(), {})
        elif current is not None and "=" in line and not line.startswith(";"):
            key, _, value = line.partition("=")
            value = value.strip()
            if len(value) >= 2 and value[0] == value[-1] and value[0] in "\"'":
                value = value[1:-1]
            current.setdefault(key.strip().lower(), value)
    return sections


def manifest_values(data, code):
    """(fixVersion, quantName, stockName) for a package code, uncut."""
    sections = read_ini(data)
    return tuple(sections.get(s, {}).get(code, "") for s in ("fixstamp", "quant", "stock"))


def cut(value):
    return value.encode("gbk", "replace")[:MANIFEST_VALUE_BYTES].decode("gbk", "replace")


def package_keys(fix, quant, stock):
    """[(object key, folder it is unpacked to, relative to the installation folder)] in the
    installer's order, for the manifest values of one package code."""
    keys = [(KEY_PREFIX + "/base.zip", ""), (KEY_PREFIX + "/config.zip", ""),
            (KEY_PREFIX + "/fix/%s.zip" % cut(fix), "")]
    if quant:
        keys.append((KEY_PREFIX + "/quant/%s.zip" % cut(quant), ""))
    if stock:
        keys.append((KEY_PREFIX + "/" + STOCK_KEY, STOCK_TARGET))
    return keys


def build_settings(build):
    """The branded settings of a configured build folder, from its CMake cache."""
    cache = os.path.join(build, "CMakeCache.txt")
    if not os.path.isfile(cache):
        raise Failure("%s is not a configured build folder (no CMakeCache.txt)" % build)
    settings = {}
    with open(cache, encoding="utf-8", errors="replace") as f:
        for line in f:
            match = re.match(r"^(MORVANTIS_[A-Z_]+):[A-Z]+=(.*)$", line.rstrip("\n"))
            if match:
                settings[match.group(1)] = match.group(2)
    return settings


def endpoint_parts(endpoint):
    """(scheme, host, port) of "host[:port]" with an optional http:// or https://."""
    if "://" not in endpoint:
        endpoint = "http://" + endpoint
    parts = urllib.parse.urlsplit(endpoint)
    if parts.scheme not in ("http", "https") or not parts.hostname:
        raise Failure("endpoint %r is not host[:port], optionally with http:// or https://" % endpoint)
    return parts.scheme, parts.hostname, parts.port or (443 if parts.scheme == "https" else 80)


class Bucket:
    """Signed requests to the bucket at an endpoint (path-style addressing)."""

    def __init__(self, endpoint, key_id, key_secret, bucket=BUCKET):
        self.scheme, self.host, self.port = endpoint_parts(endpoint)
        self.key_id, self.key_secret, self.bucket = key_id, key_secret, bucket

    def request(self, method, key, body=None, headers=None):
        """(status, headers as a lower-case dict, body bytes)."""
        headers = dict(headers or {})
        date = email.utils.formatdate(usegmt=True)
        content_md5 = headers.get("Content-MD5", "")
        content_type = headers.get("Content-Type", "")
        text = "\n".join([method, content_md5, content_type, date, "/%s/%s" % (self.bucket, key)])
        signature = base64.b64encode(hmac.new(self.key_secret.encode(), text.encode("utf-8"), hashlib.sha1).digest())
        headers.update({"Date": date, "Authorization": "OSS %s:%s" % (self.key_id, signature.decode())})
        connection_type = http.client.HTTPSConnection if self.scheme == "https" else http.client.HTTPConnection
        connection = connection_type(self.host, self.port, timeout=60)
        try:
            path = "/%s/%s" % (self.bucket, urllib.parse.quote(key, safe="/"))
            connection.request(method, path, body=body, headers=headers)
            answer = connection.getresponse()
            data = answer.read()
            return answer.status, {k.lower(): v for k, v in answer.getheaders()}, data
        except OSError as error:
            raise Failure("%s %s at %s:%d: %s" % (method, key, self.host, self.port, error))
        finally:
            connection.close()


def error_code(body):
    match = re.search(rb"<Code>([^<]*)</Code>", body or b"")
    return match.group(1).decode("utf-8", "replace") if match else ""
