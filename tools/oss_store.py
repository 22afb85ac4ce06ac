#!/usr/bin/env python3
"""Local OSS-compatible store: serves a folder as the bucket "zqpublish" on 127.0.0.1.

Object key K is the file <root>/K. Requests are answered as the real service answers
them: GET (one byte range at most), HEAD and HEAD ?objectMeta, signed with signature
version 1 (Authorization: OSS <id>:<signature>) and a Date within 15 minutes; errors
as 403 AccessDenied / InvalidAccessKeyId / RequestTimeTooSkewed / SignatureDoesNotMatch
or 404 NoSuchKey, with the error XML (no body for HEAD). Answers carry ETag,
Content-Length, Last-Modified, x-oss-request-id and x-oss-hash-crc64ecma; connections
are kept alive. Both path-style (/zqpublish/K) and virtual-hosted (Host: zqpublish.<host>)
requests are served, also in the absolute form a proxy receives.

PUT (--write-key-id / --write-key-secret): the write key may upload objects (the body
replaces the object whole; Content-MD5 is checked); the read key gets 403 AccessDenied.

Faults (--faults FILE, JSON, re-read on every request), per key or "*" for every key:
  {"9.5MOrvantisIE/base.zip": [
     {"action": "fail", "status": 503, "code": "ServiceUnavailable", "count": 2},
     {"action": "cut", "after": 65536, "count": 1},      close after K body bytes
     {"action": "stall", "after": 0, "seconds": 30},      send K bytes, then go silent
     {"action": "drip", "after": 0, "interval": 8},       send K bytes, then one byte per interval
     {"action": "chunked_oversize", "bytes": 209715200},  chunked GET body of that many bytes
                                                          (the object, then zeros), no length
     {"action": "throttle", "bytes_per_sec": 1000000},
     {"action": "bad_crc"},                               wrong x-oss-hash-crc64ecma
     {"action": "bad_length", "delta": 100},              Content-Length off by delta
     {"action": "ignore_range"},                          answer 200 to a Range request
     {"action": "etag", "value": "0123-4"}]}              send this entity tag
  "count" limits a fault to that many requests (the file is rewritten as they are used);
  "method": "GET" or "HEAD" limits it to one kind of request; "sub": "objectMeta" (or
  "" for none) to requests with (or without) that sub-resource.

Access log (--access-log FILE): one JSON object per request with method, host, path,
key, sub (signed sub-resources), auth ("signed" or "none"), range, status, code, bytes
(of the body), fault, request_id.

--public-read: requests without an Authorization header are answered as a public-read
bucket answers them; a request that carries one is still checked.

Stopping: SIGTERM or SIGINT, the --stop-file appearing, or --idle-exit seconds without
a request.
"""
import argparse
import os
import signal
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from oss_store.server import Server  # noqa: E402

DEMO_KEY_ID = "DemoAccessKeyIdMorvant01"
DEMO_KEY_SECRET = "DemoSecretForTheLocalStore2026"


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n")[0],
        epilog="Example (the demo build's endpoint): python3 tools/oss_store.py --root out/sample-release --port 18093",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True, help="folder served as the bucket: key K is the file ROOT/K")
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=18093, help="port; 0 picks a free one (default 18093)")
    parser.add_argument("--port-file", help="write the port listened on to this file once ready")
    parser.add_argument("--faults", help="JSON file of faults per key, re-read on every request")
    parser.add_argument("--access-log", help="append one JSON line per request to this file")
    parser.add_argument("--key-id", default=DEMO_KEY_ID, help="access-key id accepted (default: the demo build's)")
    parser.add_argument("--key-secret", default=DEMO_KEY_SECRET, help="access-key secret (default: the demo build's)")
    parser.add_argument("--write-key-id", help="access-key id that may also PUT objects (default: none may)")
    parser.add_argument("--write-key-secret", help="secret of --write-key-id")
    parser.add_argument("--public-read", action="store_true",
                        help="accept unsigned requests, as a public-read bucket does (signed ones are still checked)")
    parser.add_argument("--https-cert", help="PEM certificate: serve HTTPS instead of HTTP")
    parser.add_argument("--https-key", help="PEM private key of --https-cert")
    parser.add_argument("--throttle", type=int, default=0, help="bytes per second of every body (0: unlimited)")
    parser.add_argument("--stop-file", help="stop once this file exists")
    parser.add_argument("--idle-exit", type=float, default=0, help="stop after this many seconds without a request")
    args = parser.parse_args(argv)
    if bool(args.https_cert) != bool(args.https_key):
        parser.error("--https-cert and --https-key go together")
    if bool(args.write_key_id) != bool(args.write_key_secret):
        parser.error("--write-key-id and --write-key-secret go together")
    if not os.path.isdir(args.root):
        parser.error("--root %s is not a folder" % args.root)
    args.root = os.path.abspath(args.root)
    return args


def main(argv=None):
    config = parse_arguments(argv)
    server = Server(config)
    server.checksums.warm(config.root)  # large objects: before the first request waits on them
    port = server.server_address[1]
    if config.port_file:
        temp = config.port_file + ".tmp"
        with open(temp, "w") as f:
            f.write("%d\n" % port)
        os.replace(temp, config.port_file)
    scheme = "https" if config.https_cert else "http"
    print("oss_store: serving %s as bucket zqpublish on %s://%s:%d" % (config.root, scheme, config.host, port), flush=True)

    def watch():
        while True:
            time.sleep(0.2)
            if config.stop_file and os.path.exists(config.stop_file):
                break
            if config.idle_exit and time.monotonic() - server.last_request > config.idle_exit:
                break
        server.shutdown()

    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: threading.Thread(target=server.shutdown, daemon=True).start())
    threading.Thread(target=watch, daemon=True).start()
    server.serve_forever(poll_interval=0.2)
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
