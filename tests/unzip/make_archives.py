#!/usr/bin/env python3
"""Makes the zip archives the extraction tests read, with real tools (Info-ZIP zip,
7z, bsdtar, Python's zipfile), into the folder given as the only argument.

The folder also gets tree/, the files the tool-made archives were built from, so
that the tests can compare what comes out. Runs once per version of this script:
later calls (from every test process) find the stamp and return at once.
"""
import fcntl
import hashlib
import os
import random
import shutil
import subprocess
import sys
import zipfile
import zlib

DOS_STAMP = (2005, 6, 7, 12, 34, 56)


def run(args, cwd, **kwargs):
    env = dict(os.environ, LC_ALL="C", LANG="C", TZ="UTC")
    subprocess.run(args, cwd=cwd, check=True, env=env, stdout=subprocess.DEVNULL, **kwargs)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_tree(root):
    rng = random.Random(20050607)
    write(os.path.join(root, "readme.txt"), b"morvantis package\r\n" * 40)
    write(os.path.join(root, "data", "blob.bin"), bytes(rng.getrandbits(8) for _ in range(100_000)))
    lines = b"".join(b"%06d,%d,%d\n" % (i, rng.randrange(1000), rng.randrange(10**6)) for i in range(20_000))
    write(os.path.join(root, "data", "quotes.csv"), lines)
    write(os.path.join(root, "sub", "deep", "empty.txt"), b"")
    write(os.path.join(root, "sub", "deep", "note.txt"), b"deep\n")


def python_zip(path, entries, compression=zipfile.ZIP_DEFLATED, comment=None):
    """entries: (name or ZipInfo, bytes) pairs, written in order."""
    with zipfile.ZipFile(path, "w", compression) as z:
        for name, data in entries:
            z.writestr(name, data)
        if comment is not None:
            z.comment = comment


def info(name, date_time=(2020, 1, 2, 3, 4, 6), external_attr=0o100644 << 16, compress=zipfile.ZIP_DEFLATED):
    zi = zipfile.ZipInfo(name, date_time)
    zi.external_attr = external_attr
    zi.compress_type = compress
    return zi


def central_header_offsets(path):
    with zipfile.ZipFile(path) as z:
        start = z.start_dir
    data = open(path, "rb").read()
    offsets, at = [], start
    while data[at:at + 4] == b"PK\x01\x02":
        offsets.append(at)
        n, m, k = (int.from_bytes(data[at + o:at + o + 2], "little") for o in (28, 30, 32))
        at += 46 + n + m + k
    return data, offsets


def local_header(name, method, crc, compressed, uncompressed, extra=b"", flags=0):
    return (b"PK\x03\x04" + (20).to_bytes(2, "little") + flags.to_bytes(2, "little") + method.to_bytes(2, "little") +
            b"\0\0\x21\x00" + crc.to_bytes(4, "little") + compressed.to_bytes(4, "little") +
            uncompressed.to_bytes(4, "little") + len(name).to_bytes(2, "little") + len(extra).to_bytes(2, "little") +
            name + extra)


def central_header(name, method, crc, compressed, uncompressed, offset, extra=b"", external=0o100644 << 16, flags=0):
    return (b"PK\x01\x02" + (0x031E).to_bytes(2, "little") + (20).to_bytes(2, "little") + flags.to_bytes(2, "little") +
            method.to_bytes(2, "little") + b"\0\0\x21\x00" + crc.to_bytes(4, "little") +
            compressed.to_bytes(4, "little") + uncompressed.to_bytes(4, "little") + len(name).to_bytes(2, "little") +
            len(extra).to_bytes(2, "little") + b"\0\0\0\0\0\0" + external.to_bytes(4, "little") +
            offset.to_bytes(4, "little") + name + extra)


def end_record(count, central_size, central_offset):
    return (b"PK\x05\x06\0\0\0\0" + count.to_bytes(2, "little") + count.to_bytes(2, "little") +
            central_size.to_bytes(4, "little") + central_offset.to_bytes(4, "little") + b"\0\0")


def deflate(data):
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


def make_hostile_archives(out):
    """Archives that would make the extraction read a byte twice, write more than they
    declare, or drop or replace data."""
    # Ten central entries on one deflated stream: 1 MiB each from a few kilobytes.
    data = bytes(1024 * 1024)
    packed, crc = deflate(data), zlib.crc32(data)
    blob = local_header(b"copy0.bin", 8, crc, len(packed), len(data)) + packed
    central = b"".join(central_header(b"copy%d.bin" % i, 8, crc, len(packed), len(data), 0) for i in range(10))
    write(os.path.join(out, "overlap_same_stream.zip"), blob + central + end_record(10, len(central), len(blob)))

    # The second entry, whole and consistent, lies inside the stored data of the first.
    inner_data = b"inner entry\n"
    inner = local_header(b"inner.txt", 0, zlib.crc32(inner_data), len(inner_data), len(inner_data)) + inner_data
    outer_data = b"outer head " + inner + b" outer tail\n"
    outer = local_header(b"outer.txt", 0, zlib.crc32(outer_data), len(outer_data), len(outer_data))
    inner_at = len(outer) + len(b"outer head ")
    blob = outer + outer_data
    central = (central_header(b"outer.txt", 0, zlib.crc32(outer_data), len(outer_data), len(outer_data), 0) +
               central_header(b"inner.txt", 0, zlib.crc32(inner_data), len(inner_data), len(inner_data), inner_at))
    write(os.path.join(out, "overlap_nested.zip"), blob + central + end_record(2, len(central), len(blob)))

    # The central entry names another file than its local header.
    data = b"renamed\n"
    blob = local_header(b"local.txt", 0, zlib.crc32(data), len(data), len(data)) + data
    central = central_header(b"other.txt", 0, zlib.crc32(data), len(data), len(data), 0)
    write(os.path.join(out, "name_mismatch.zip"), blob + central + end_record(1, len(central), len(blob)))

    # Declares the first 500 of its 1000 bytes (with their CRC); the stream goes on.
    data = bytes(range(250)) * 4
    packed, crc = deflate(data), zlib.crc32(data[:500])
    first = b"ok.txt", b"ok\n"
    blob = local_header(first[0], 0, zlib.crc32(first[1]), 3, 3) + first[1]
    second_at = len(blob)
    blob += local_header(b"longer.bin", 8, crc, len(packed), 500) + packed
    central = (central_header(first[0], 0, zlib.crc32(first[1]), 3, 3, 0) +
               central_header(b"longer.bin", 8, crc, len(packed), 500, second_at))
    write(os.path.join(out, "inflates_past_size.zip"), blob + central + end_record(2, len(central), len(blob)))

    # Entries that look like folders but carry data: by attribute, by final slash.
    for key, entry in (("attribute", info("data-dir", external_attr=0x10)), ("slash", info("data-dir/"))):
        python_zip(os.path.join(out, "folder_with_data_%s.zip" % key),
                   [("ok.txt", b"ok\n"), (entry, b"dropped data\n"), ("late.txt", b"late\n")])

    # One name twice, in other letter case (and once more with a dot Windows drops).
    python_zip(os.path.join(out, "case_duplicates.zip"), [("Readme.txt", b"first\n"), ("other.txt", b"other\n"),
                                                          ("README.TXT", b"second\n"), ("late.txt", b"late\n")])
    python_zip(os.path.join(out, "dot_duplicates.zip"), [("sub/Note.txt", b"first\n"), ("SUB/./note.txt. ", b"second\n")])

    # Code-page names whose last character ends in the byte 0x5C (乗 81 5C, 運 DF 5C):
    # Python writes them as placeholders of the same length, then the bytes are put in.
    path = os.path.join(out, "gbk_5c_names.zip")
    python_zip(path, [("AAAA", b"not a folder\n"), ("BB/CCCC", b"nested\n")])
    data = open(path, "rb").read()
    data = data.replace(b"AAAA", "行乗".encode("gbk")).replace(b"BB/CCCC", "運/数乗".encode("gbk"))
    write(path, data)

    # A name flagged as UTF-8 whose bytes are not UTF-8 (the é is replaced by FF FE).
    path = os.path.join(out, "utf8_invalid.zip")
    python_zip(path, [("ok.txt", b"ok\n"), ("bad-\u00e9.txt", b"bad\n"), ("late.txt", b"late\n")])
    data = open(path, "rb").read()
    write(path, data.replace("bad-\u00e9.txt".encode("utf-8"), b"bad-\xff\xfe.txt"))

    # A sparse archive: one entry of 4 GiB of stored data that declares 1,032 times that.
    path = os.path.join(out, "declares_4tib.zip")
    compressed, declared = 4 << 30, (4 << 30) * 1032
    zip64 = (1).to_bytes(2, "little") + (16).to_bytes(2, "little") + declared.to_bytes(8, "little") + compressed.to_bytes(8, "little")
    with open(path, "wb") as f:
        f.write(local_header(b"huge.bin", 8, 0, 0xFFFFFFFF, 0xFFFFFFFF, zip64))
        f.seek(compressed, 1)
        central_at = f.tell()
        central = central_header(b"huge.bin", 8, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0, zip64)
        f.write(central)
        zip64_end_at = f.tell()
        f.write(b"PK\x06\x06" + (44).to_bytes(8, "little") + (45).to_bytes(2, "little") + (45).to_bytes(2, "little") +
                bytes(8) + (1).to_bytes(8, "little") + (1).to_bytes(8, "little") + len(central).to_bytes(8, "little") +
                central_at.to_bytes(8, "little"))
        f.write(b"PK\x06\x07" + bytes(4) + zip64_end_at.to_bytes(8, "little") + (1).to_bytes(4, "little"))
        f.write(end_record(1, 0xFFFFFFFF, 0xFFFFFFFF)[:12] + b"\xff\xff\xff\xff\xff\xff\xff\xff\0\0")


def make_archives(out):
    tree = os.path.join(out, "tree")
    make_tree(tree)

    # Tool-made archives of the same tree: folder entries with the 0x10 bit (zip, 7z),
    # without it and with data descriptors (bsdtar), stored (.bin) and deflated data.
    run(["zip", "-q", "-r", "-n", ".bin", os.path.join(out, "tree_infozip.zip"), "."], tree)
    run(["7z", "a", "-tzip", "-bd", os.path.join(out, "tree_7z.zip"), "."], tree)
    run(["bsdtar", "--format", "zip", "-cf", os.path.join(out, "tree_bsdtar.zip"), "."], tree)
    # Files only, no folder entries at all.
    with zipfile.ZipFile(os.path.join(out, "tree_python.zip"), "w") as z:
        for folder, _, files in sorted(os.walk(tree)):
            for name in sorted(files):
                full = os.path.join(folder, name)
                rel = os.path.relpath(full, tree)
                z.write(full, rel, zipfile.ZIP_STORED if name.endswith(".bin") else zipfile.ZIP_DEFLATED)
    # Written to a pipe: every entry has a data descriptor.
    with open(os.path.join(out, "pipe_infozip.zip"), "wb") as f:
        subprocess.run(["zip", "-q", "-r", "-", "."], cwd=tree, check=True, stdout=f, env=dict(os.environ, LC_ALL="C"))
    # Zip64 records and extra fields on a small archive.
    run(["zip", "-q", "-r", "-fz", os.path.join(out, "zip64_infozip.zip"), "."], tree)
    run(["bsdtar", "--format", "zip", "--options", "zip:zip64", "-cf", os.path.join(out, "zip64_bsdtar.zip"), "."], tree)
    # Zip64 extra fields in every central header (Python writes them once a size or
    # offset passes its limit; the limits are lowered so that a small archive has them).
    saved = zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT
    zipfile.ZIP64_LIMIT = zipfile.ZIP_FILECOUNT_LIMIT = 0
    try:
        python_zip(os.path.join(out, "zip64_python.zip"), [("readme.txt", open(os.path.join(tree, "readme.txt"), "rb").read()),
                                                           (info("sub/deep/note.txt", compress=zipfile.ZIP_STORED), b"deep\n")])
    finally:
        zipfile.ZIP64_LIMIT, zipfile.ZIP_FILECOUNT_LIMIT = saved
    # A stub in front of the archive, offsets not adjusted.
    with open(os.path.join(out, "tree_infozip.zip"), "rb") as f:
        write(os.path.join(out, "prefixed.zip"), b"MZ" + b"\0" * 4094 + f.read())

    python_zip(os.path.join(out, "empty.zip"), [])
    with open(os.path.join(out, "tree_infozip.zip"), "rb") as f:
        whole = f.read()
    write(os.path.join(out, "truncated.zip"), whole[: len(whole) // 2])
    write(os.path.join(out, "not_a_zip.zip"), b"this is not an archive\n" * 10)

    # The second entry's stored data has one byte changed after the tool wrote it.
    path = os.path.join(out, "bad_crc.zip")
    python_zip(path, [("good.txt", b"good data\n"), ("bad.txt", b"this file gets one byte changed\n"),
                      ("after.txt", b"never reached\n")], zipfile.ZIP_STORED)
    data = bytearray(open(path, "rb").read())
    at = data.find(b"this file gets")
    data[at] ^= 0x20
    write(path, bytes(data))

    # The third central header is damaged: the first two entries are reachable.
    path = os.path.join(out, "damaged_cd.zip")
    python_zip(path, [("one.txt", b"1\n"), ("two.txt", b"2\n"), ("three.txt", b"3\n"), ("four.txt", b"4\n")])
    data, offsets = central_header_offsets(path)
    data = bytearray(data)
    data[offsets[2]:offsets[2] + 4] = b"XX\x01\x02"
    write(path, bytes(data))

    # A plain entry, then one encrypted by Info-ZIP.
    enc = os.path.join(out, "enc-src")
    write(os.path.join(enc, "plain.txt"), b"plain\n")
    write(os.path.join(enc, "secret.txt"), b"secret\n")
    run(["zip", "-q", os.path.join(out, "encrypted.zip"), "plain.txt"], enc)
    run(["zip", "-q", "-P", "pass", os.path.join(out, "encrypted.zip"), "secret.txt"], enc)
    shutil.rmtree(enc)

    # Names that would land outside the target folder, each between two good entries.
    slips = {
        "parent": "../evil.txt",
        "nested_parent": "a/../../evil.txt",
        "backslash_parent": "a\\..\\..\\evil.txt",
        "drive": "C:/evil.txt",
        "drive_relative": "C:evil.txt",
        "leading_slash": "/evil.txt",
        "leading_backslash": "\\evil.txt",
        "dots_and_spaces": "a/.. /evil.txt",
        "folder": "../evil/",
        "device": "sub/nul.txt",
        # Superscript port numbers (UTF-8 flagged: code page 936 cannot spell them) and
        # the console's own devices.
        "device_com_superscript": "COM\u00b9.txt",
        "device_lpt_superscript": "sub/lpt\u00b3",
        "device_com2_superscript": "COM\u00b2",
        "device_conin": "CONIN$",
        "device_conout": "a/conout$.log",
    }
    for key, name in slips.items():
        python_zip(os.path.join(out, "slip_%s.zip" % key),
                   [("ok.txt", b"ok\n"), (name, b"evil\n"), ("late.txt", b"late\n")])

    # Folder entries: a final slash without the 0x10 bit, and with it; nested files
    # without folder entries above them.
    python_zip(os.path.join(out, "folders.zip"), [
        (info("plain-dir/", external_attr=0o40755 << 16), b""),
        (info("attr-dir/a/b/", external_attr=(0o40755 << 16) | 0x10), b""),
        (info("a/b/file.txt"), b"nested\n"),
        (info("attr-only", external_attr=0x10), b""),
    ])

    # Names: UTF-8 flagged (Python sets bit 11 for any non-ASCII name) and GBK bytes
    # stored unflagged by Info-ZIP in the C locale.
    python_zip(os.path.join(out, "utf8_names.zip"), [
        ("中文目录/行情数据.txt", "utf8 中文\n".encode("utf-8")),
        ("ไทย.txt", b"thai\n"),
        ("emoji-\U0001F600.txt", b"emoji\n"),
    ])
    gbk = os.path.join(out.encode(), b"gbk-src")
    write(os.path.join(gbk, "行情".encode("gbk"), "数据.txt".encode("gbk")), b"gbk\n")
    subprocess.run([b"zip", b"-q", b"-r", os.path.join(out.encode(), b"gbk_names.zip"), b"."], cwd=gbk, check=True,
                   env=dict(os.environ, LC_ALL="C", LANG="C"), stdout=subprocess.DEVNULL)
    shutil.rmtree(gbk)

    python_zip(os.path.join(out, "dated.zip"), [(info("dated.txt", date_time=DOS_STAMP), b"dated\n")])
    python_zip(os.path.join(out, "in_use.zip"), [("first.txt", b"new first\n"), ("held.txt", b"new held\n"),
                                                 ("last.txt", b"new last\n")])

    # The archive comment at its largest, with an end-record signature inside it.
    comment = (b"PK\x05\x06" + b"c" * 1000) * 66
    comment = comment[:65535]
    python_zip(os.path.join(out, "long_comment.zip"), [("inside.txt", b"behind a long comment\n")], comment=comment)

    python_zip(os.path.join(out, "long_name.zip"), [("short.txt", b"short\n"), ("n" * 296 + ".txt", b"long\n")])
    make_hostile_archives(out)
    python_zip(os.path.join(out, "bzip2.zip"), [("first.txt", b"first\n")])
    with zipfile.ZipFile(os.path.join(out, "bzip2.zip"), "a", zipfile.ZIP_BZIP2) as z:
        z.writestr("packed.txt", b"bzip2 data\n" * 10)


def main():
    out = os.path.abspath(sys.argv[1])
    stamp = hashlib.sha256(open(__file__, "rb").read()).hexdigest()
    os.makedirs(os.path.dirname(out), exist_ok=True)
    with open(out + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        stamp_path = os.path.join(out, "stamp")
        if os.path.exists(stamp_path) and open(stamp_path).read() == stamp:
            return 0
        work = out + ".tmp"
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        make_archives(work)
        write(os.path.join(work, "stamp"), stamp.encode())
        shutil.rmtree(out, ignore_errors=True)
        os.rename(work, out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
