"""A small OSS-compatible object store for tests and the demo: one bucket served from a folder."""
import base64
import datetime
import email.utils
import hashlib
import hmac
import http.server
import json
import os
import secrets
import select
import socket
import ssl
import threading
import time
import urllib.parse

from . import crc64

BUCKET = "zqpublish"
MAX_SKEW_SECONDS = 15 * 60
# Sub-resources that are part of the signed resource.
SIGNED_SUBRESOURCES = ("acl", "objectMeta", "symlink", "tagging", "versionId")
CHUNK = 256 * 1024


class Checksums:
    """ETag (MD5) and CRC-64 of each file, computed once per file version."""

    def __init__(self):
        self._lock = threading.Lock()
        self._cache = {}

    def get(self, path):
        stat = os.stat(path)
        version = (stat.st_size, stat.st_mtime_ns)
        with self._lock:
            known = self._cache.get(path)
        if known and known[0] == version:
            return known[1], known[2]
        md5 = hashlib.md5()
        crc = 0
        with open(path, "rb") as f:
            while True:
                block = f.read(1 << 20)
                if not block:
                    break
                md5.update(block)
                crc = crc64.update(crc, block)
        result = ('"%s"' % md5.hexdigest().upper(), str(crc))
        with self._lock:
            self._cache[path] = (version, result[0], result[1])
        return result

    def warm(self, root):
        for folder, _, files in os.walk(root):
            for name in files:
                self.get(os.path.join(folder, name))


class Faults:
    """Per-key faults from a JSON file, re-read on every request.

    {"<key>" or "*": [{"action": ..., "count": N, "method": "GET"|"HEAD"}, ...]}
    A fault with "count" applies to that many matching requests, then is used up (the
    file is rewritten with the count lowered); without "count" it applies always.
    """

    def __init__(self, path):
        self.path = path
        self._lock = threading.Lock()

    def take(self, key, method, sub):
        """The faults that apply to this request, consuming their counts."""
        if not self.path:
            return []
        with self._lock:
            try:
                with open(self.path, "r", encoding="utf-8") as f:
                    table = json.load(f)
            except (OSError, ValueError):
                return []
            chosen, changed = [], False
            for name in (key, "*"):
                for fault in table.get(name, []):
                    if fault.get("method") and fault["method"].upper() != method:
                        continue
                    if "sub" in fault and fault["sub"] != sub:
                        continue
                    count = fault.get("count")
                    if count is not None:
                        if count <= 0:
                            continue
                        fault["count"] = count - 1
                        changed = True
                    chosen.append(dict(fault))
            if changed:
                temp = self.path + ".tmp"
                with open(temp, "w", encoding="utf-8") as f:
                    json.dump(table, f, indent=1)
                os.replace(temp, self.path)
            return chosen


class AccessLog:
    def __init__(self, path):
        self.path = path
        self._lock = threading.Lock()

    def write(self, entry):
        if not self.path:
            return
        with self._lock, open(self.path, "a", encoding="utf-8") as f:
            f.write(json.dumps(entry, ensure_ascii=False) + "\n")


class StoreError(Exception):
    def __init__(self, status, code, message):
        super().__init__(message)
        self.status, self.code, self.message = status, code, message


def find_fault(faults, action):
    for fault in faults:
        if fault.get("action") == action:
            return fault
    return None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keep-alive
    server_version = "LocalOssStore/1.0"
    sys_version = ""

    def log_message(self, format, *args):  # the access log replaces the console log
        pass

    def do_GET(self):
        self.serve("GET")

    def do_HEAD(self):
        self.serve("HEAD")

    def do_PUT(self):
        self.serve("PUT")

    # -- request parsing -------------------------------------------------------
    def target(self):
        """(host, path, query) of the request, from the Host header or an absolute URI."""
        raw = self.path
        host = self.headers.get("Host", "")
        if raw.startswith("http://") or raw.startswith("https://"):
            parts = urllib.parse.urlsplit(raw)
            host, path, query = parts.netloc, parts.path, parts.query
        else:
            path, _, query = raw.partition("?")
        return host.rsplit(":", 1)[0] if host.count(":") == 1 else host, path or "/", query

    def bucket_and_key(self, host, path):
        raw_key = urllib.parse.unquote(path, encoding="utf-8", errors="strict")
        if host.startswith(BUCKET + ".") and not host.replace(".", "").isdigit():
            return BUCKET, raw_key[1:]
        bucket, _, key = raw_key[1:].partition("/")
        return bucket, key

    def check_signature(self, method, resource):
        config = self.server.config
        auth = self.headers.get("Authorization", "")
        if not auth and config.public_read:
            return  # a public-read bucket answers anonymous reads; signed ones are still checked
        if not auth.startswith("OSS ") or ":" not in auth:
            raise StoreError(403, "AccessDenied", "AccessDenied: no valid Authorization header.")
        key_id, _, signature = auth[4:].rpartition(":")
        secret = write_secret(config, key_id)
        if secret is None and key_id == config.key_id:
            if method == "PUT":  # the installers' key is readable by anyone: it only reads
                raise StoreError(403, "AccessDenied", "You have no right to access this object because of bucket acl.")
            secret = config.key_secret
        if secret is None:
            raise StoreError(403, "InvalidAccessKeyId", "The OSS Access Key Id you provided does not exist in our records.")
        date = self.headers.get("Date", "")
        try:
            sent = email.utils.parsedate_to_datetime(date)
            skew = abs((datetime.datetime.now(datetime.timezone.utc) - sent).total_seconds())
        except (TypeError, ValueError):
            skew = None
        if skew is None or skew > MAX_SKEW_SECONDS:
            raise StoreError(403, "RequestTimeTooSkewed", "The difference between the request time and the current time is too large.")
        oss_headers = sorted((k.lower(), v.strip()) for k, v in self.headers.items() if k.lower().startswith("x-oss-"))
        text = "\n".join([method, self.headers.get("Content-MD5", ""), self.headers.get("Content-Type", ""), date, ""])
        text += "".join("%s:%s\n" % pair for pair in oss_headers) + resource
        expected = base64.b64encode(hmac.new(secret.encode(), text.encode("utf-8"), hashlib.sha1).digest()).decode()
        if not hmac.compare_digest(expected, signature):
            raise StoreError(403, "SignatureDoesNotMatch", "The request signature we calculated does not match the signature you provided.")

    def object_path(self, key):
        root = self.server.config.root
        parts = key.split("/")
        if not valid_key(key):
            raise StoreError(404, "NoSuchKey", "The specified key does not exist.")
        path = os.path.join(root, *parts)
        if not os.path.isfile(path):
            raise StoreError(404, "NoSuchKey", "The specified key does not exist.")
        return path

    # -- answering -------------------------------------------------------------
    def send_error_answer(self, method, error, request_id, log):
        self.send_response(error.status)
        self.send_header("x-oss-request-id", request_id)
        self.send_header("Date", email.utils.formatdate(usegmt=True))
        if method == "HEAD":
            self.send_header("Content-Length", "0")
            self.end_headers()
        else:
            body = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error>\n  <Code>%s</Code>\n  <Message>%s</Message>\n"
                    "  <RequestId>%s</RequestId>\n  <HostId>%s</HostId>\n</Error>\n" % (
                        error.code, error.message, request_id, self.headers.get("Host", ""))).encode()
            self.send_header("Content-Type", "application/xml")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
        log.update(status=error.status, code=error.code)

    def serve(self, method):
        request_id = secrets.token_hex(12).upper()
        host, path, query = self.target()
        log = {"time": time.time(), "method": method, "host": host, "path": self.path,
               "range": self.headers.get("Range"), "request_id": request_id, "bytes": 0}
        try:
            try:
                bucket, key = self.bucket_and_key(host, path)
            except UnicodeDecodeError:
                raise StoreError(400, "InvalidObjectName", "The key is not valid UTF-8.")
            log["key"] = key
            subresources = [q for q in query.split("&") if q.split("=")[0] in SIGNED_SUBRESOURCES]
            resource = "/%s/%s" % (bucket, key) + ("?" + "&".join(sorted(subresources)) if subresources else "")
            log["sub"] = "&".join(subresources)
            log["auth"] = "signed" if "Authorization" in self.headers else "none"
            self.check_signature(method, resource)
            if bucket != BUCKET:
                raise StoreError(404, "NoSuchBucket", "The specified bucket does not exist.")
            faults = self.server.faults.take(key, method, log["sub"])
            fail = find_fault(faults, "fail")
            if fail:
                log["fault"] = "fail"
                raise StoreError(int(fail.get("status", 503)), fail.get("code", "ServiceUnavailable"),
                                 fail.get("message", "Please reduce your request rate."))
            if method == "PUT":
                self.receive_object(key, request_id, log)
                return
            file_path = self.object_path(key)
            self.send_object(method, file_path, "objectMeta" in log["sub"], faults, request_id, log)
        except StoreError as error:
            self.send_error_answer(method, error, request_id, log)
        except (ConnectionError, socket.timeout, ssl.SSLError):
            self.close_connection = True
            log.setdefault("status", 0)
            log["aborted"] = True
        finally:
            self.server.access_log.write(log)

    def receive_object(self, key, request_id, log):
        """PUT: the body becomes the object, replacing it whole once it has fully arrived."""
        parts = key.split("/")
        if not valid_key(key):
            raise StoreError(400, "InvalidObjectName", "The specified object name is not valid.")
        try:
            length = int(self.headers.get("Content-Length", ""))
        except ValueError:
            raise StoreError(411, "MissingContentLength", "You must provide the Content-Length HTTP header.")
        body = self.rfile.read(length) if length > 0 else b""
        if len(body) != length:
            self.close_connection = True
            raise StoreError(400, "IncompleteBody", "The body ended before Content-Length bytes.")
        sent_md5 = self.headers.get("Content-MD5")
        if sent_md5 and sent_md5 != base64.b64encode(hashlib.md5(body).digest()).decode():
            raise StoreError(400, "InvalidDigest", "The Content-MD5 you specified did not match what was received.")
        path = os.path.join(self.server.config.root, *parts)
        folder = os.path.dirname(path)
        if os.path.isfile(folder) or os.path.isdir(path):
            raise StoreError(409, "ObjectNameConflict", "A file or folder of the store is in the way of this key.")
        os.makedirs(folder, exist_ok=True)
        temp = "%s.put-%s" % (path, request_id)
        with open(temp, "wb") as f:
            f.write(body)
        os.replace(temp, path)
        etag, crc = self.server.checksums.get(path)
        self.send_response(200)
        self.send_header("x-oss-request-id", request_id)
        self.send_header("Date", email.utils.formatdate(usegmt=True))
        self.send_header("ETag", etag)
        self.send_header("x-oss-hash-crc64ecma", crc)
        self.send_header("Content-Length", "0")
        self.end_headers()
        log.update(status=200, bytes=length)

    def send_object(self, method, path, meta_only, faults, request_id, log):
        etag, crc = self.server.checksums.get(path)
        size = os.path.getsize(path)
        first, last, status = 0, size - 1, 200
        requested = self.headers.get("Range")
        if requested and method == "GET" and not meta_only and not find_fault(faults, "ignore_range"):
            span = parse_range(requested, size)
            if span == "invalid":
                raise StoreError(416, "InvalidRange", "The requested range is not satisfiable.")
            if span:
                first, last = span
                status = 206
        length = max(last - first + 1, 0)
        oversize = find_fault(faults, "chunked_oversize") if method == "GET" and not meta_only else None
        wrong = find_fault(faults, "bad_length")
        announced = length + int(wrong.get("delta", 1)) if wrong and method == "GET" else length
        self.send_response(status)
        self.send_header("x-oss-request-id", request_id)
        self.send_header("Date", email.utils.formatdate(usegmt=True))
        forced = find_fault(faults, "etag")
        self.send_header("ETag", '"%s"' % forced["value"] if forced else etag)
        self.send_header("Last-Modified", email.utils.formatdate(os.path.getmtime(path), usegmt=True))
        if oversize:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(max(announced, 0)))
        if not meta_only:
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Accept-Ranges", "bytes")
            self.send_header("x-oss-object-type", "Normal")
            bad = find_fault(faults, "bad_crc")
            self.send_header("x-oss-hash-crc64ecma", str(int(crc) ^ 1) if bad else crc)
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, size))
        if wrong:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        log["status"] = status
        if method == "HEAD":
            return
        if oversize:
            self.send_chunked(path, first, int(oversize.get("bytes", 2 * length + 1)), log)
            return
        if wrong:
            log["fault"] = "bad_length"
            length = min(length, max(announced, 0))
        self.send_body(path, first, length, faults, log)

    def send_chunked(self, path, offset, total, log):
        """A chunked body of total bytes: the object from offset, then zeros."""
        log["fault"] = "chunked_oversize"
        sent = 0
        with open(path, "rb") as f:
            f.seek(offset)
            while sent < total:
                block = f.read(min(CHUNK, total - sent)) or bytes(min(CHUNK, total - sent))
                self.wfile.write(b"%x\r\n" % len(block) + block + b"\r\n")
                sent += len(block)
                log["bytes"] = sent
        self.wfile.write(b"0\r\n\r\n")
        self.wfile.flush()

    def drip(self, f, sent, length, interval, log):
        """One byte every interval seconds until the body is sent or the client leaves."""
        log["fault"] = "drip"
        while sent < length:
            readable, _, _ = select.select([self.connection], [], [], interval)
            if readable and not self.connection.recv(1, socket.MSG_PEEK):
                break  # the client closed the connection
            block = f.read(1)
            if not block:
                break
            self.connection.sendall(block)
            sent += 1
            log["bytes"] = sent
        return sent

    def send_body(self, path, offset, length, faults, log):
        drip = find_fault(faults, "drip")
        cut = find_fault(faults, "cut")
        stall = find_fault(faults, "stall")
        throttle = find_fault(faults, "throttle")
        rate = int(throttle["bytes_per_sec"]) if throttle else self.server.config.throttle
        stop_at = length
        if drip:
            stop_at = min(stop_at, int(drip.get("after", 0)))
        if cut:
            stop_at = min(stop_at, int(cut.get("after", 0)))
            log["fault"] = "cut"
        if stall:
            stop_at = min(stop_at, int(stall.get("after", 0)))
            log["fault"] = "stall"
        self.wfile.flush()
        sent = 0
        with open(path, "rb") as f:
            f.seek(offset)
            if not rate and stop_at == length:
                sent = self.connection.sendfile(f, offset, length) if length else 0
            else:
                started = time.monotonic()
                while sent < stop_at:
                    block = f.read(min(CHUNK if not rate else max(rate // 50, 1024), stop_at - sent))
                    if not block:
                        break
                    self.connection.sendall(block)
                    sent += len(block)
                    if rate:
                        ahead = sent / rate - (time.monotonic() - started)
                        if ahead > 0:
                            time.sleep(ahead)
        log["bytes"] = sent
        if drip and sent < length:
            with open(path, "rb") as f:
                f.seek(offset + sent)
                sent = self.drip(f, sent, length, float(drip.get("interval", 8)), log)
        if sent < length:
            if stall:
                time.sleep(float(stall.get("seconds", 30)))
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def valid_key(key):
    """A key that names a file below the root: no empty, "." or ".." component."""
    return bool(key) and "\\" not in key and "\0" not in key and all(p not in ("", ".", "..") for p in key.split("/"))


def write_secret(config, key_id):
    """The secret of the store's write key when key_id is it, else None."""
    if getattr(config, "write_key_id", None) and key_id == config.write_key_id:
        return config.write_key_secret
    return None


def parse_range(header, size):
    """(first, last) of a single "bytes=" range; None to send the whole object; "invalid"."""
    if not header.startswith("bytes=") or "," in header:
        return None
    first_text, dash, last_text = header[6:].strip().partition("-")
    if not dash:
        return None
    try:
        if first_text == "":
            count = int(last_text)
            if count <= 0:
                return "invalid"
            return max(size - count, 0), size - 1
        first = int(first_text)
        last = int(last_text) if last_text else size - 1
    except ValueError:
        return None
    if first >= size or last < first:
        return "invalid"
    return first, min(last, size - 1)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, config):
        self.config = config
        self.checksums = Checksums()
        self.faults = Faults(config.faults)
        self.access_log = AccessLog(config.access_log)
        self.last_request = time.monotonic()
        super().__init__((config.host, config.port), Handler)
        if config.https_cert:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(config.https_cert, config.https_key)
            self.socket = context.wrap_socket(self.socket, server_side=True)

    def process_request(self, request, client_address):
        self.last_request = time.monotonic()
        super().process_request(request, client_address)
