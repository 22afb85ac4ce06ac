#!/usr/bin/python3
"""Builds the sample release of the terminal as a package-store folder.

    make_sample_release.py --standin DIR --out STOREROOT [--package-code 602731]
                           [--quant | --no-quant] [--stock | --no-stock]
                           [--edition current|previous] [--reference-mb N]
                           [--sign-key PRIVATE.pem [--sign-public PUBLIC.pem]]

DIR holds the stand-in programs terminal.exe and uninstall.exe. STOREROOT receives the
objects under the key prefix (STOREROOT/9.5MOrvantisIE/...), replaced as a whole, and
three descriptions of the result for tests:
  expected-tree.txt    every file of the installed tree (UTF-8, "/" separators, sorted),
                       except update.ini and the log folder, which the installer adds
  expected-sha256.txt  "sha256sum -c" lines for those files, except the two settings
                       files the installer edits (config/morvantis.Default.pub/.pri)
  release.json         package code, manifest values and what each package holds
--edition previous builds an earlier release: other versions and stamp, and a few files
the current one no longer has (for updates over an older installation).
--sign-key signs the release as `tools/release sign` does (release.sha256 and its
signature beside summary.ini), for builds with a release key; --sign-public refuses a
private key that is not the build's key's other half.
--reference-mb N adds generated files until the five packages hold about N MiB (a few
thousand files for a couple of hundred MiB), for benchmarks. The output is the same
byte for byte for the same inputs: fixed times, fixed seeds, sorted entries.
"""
import argparse
import calendar
import hashlib
import io
import json
import os
import random
import shutil
import struct
import sys
import zlib

from PIL import Image, ImageDraw

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from release_tool._zipwriter import ReleaseError, ZipWriter  # noqa: E402
from release_tool import _signing, sign  # noqa: E402

KEY_PREFIX = "9.5MOrvantisIE"
SOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample-release")
STOCK_TARGET = "Server/config/BaseData/"
# Files the installer writes settings into: their final content is not the package's.
EDITED_BY_INSTALLER = {"config/morvantis.Default.pub", "config/morvantis.Default.pri"}


class Edition:
    """What tells one release from another: its stamp, versions and a few files."""

    def __init__(self, stamp, fix, quant, stock, extra_files=None):
        self.entry_time = stamp  # local time stored in every entry
        self.cfg_time = calendar.timegm(stamp)
        self.fix, self.quant, self.stock = fix, quant, stock
        self.extra_files = extra_files or {}


# "previous" is an earlier release with files the current one no longer has, for updates.
EDITIONS = {
    "current": Edition((2026, 3, 2, 9, 30, 0), "9.5.26.0302", "quant-2026.03", "20260302"),
    "previous": Edition((2025, 12, 1, 9, 30, 0), "9.5.25.1201", "quant-2025.12", "20251201", {
        "base": {"bin/legacy.dll": 40 * 1024, "res/skin/classic/colors.xml": 0},
        "fix": {"bin/mvcompat.dll": 24 * 1024},
        "config": {"config/legacy.ini": 0},
        "quant": {"quant/strategies/grid.qs": 0},
        "stock": {"US/StockList.dat": 0},
    }),
}
# Lines for other builds: one manifest serves every distributor.
OTHER_BUILDS = {"600118": ("9.5.25.1120", "quant-2025.11", ""), "611502": ("9.5.26.0115", "", "20260115")}

# Unpacking order of the installer, later packages overwriting earlier ones.
PACKAGE_ORDER = ("base", "fix", "config", "quant", "stock")
# Share of a reference release's size per package.
REFERENCE_SHARES = {"base": 0.45, "fix": 0.30, "config": 0.02, "quant": 0.08, "stock": 0.15}
REFERENCE_FILES_PER_MIB = 15
# Weights of text tables, program libraries and binary data among the generated files.
REFERENCE_KINDS = {"base": (25, 45, 30), "fix": (10, 80, 10), "config": (90, 0, 10), "quant": (40, 40, 20),
                   "stock": (40, 0, 60)}


def make_icon():
    """The desktop shortcut's icon: a red tile with a rising price line."""
    size = 256
    image = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    draw = ImageDraw.Draw(image)
    for row in range(size):  # vertical red gradient, clipped to a rounded tile below
        shade = int(40 * row / size)
        draw.line([(0, row), (size, row)], fill=(214 - shade, 38 - shade // 2, 44 - shade // 2, 255))
    mask = Image.new("L", (size, size), 0)
    ImageDraw.Draw(mask).rounded_rectangle([8, 8, size - 9, size - 9], radius=48, fill=255)
    tile = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    tile.paste(image, (0, 0), mask)
    draw = ImageDraw.Draw(tile)
    for i, (low, high) in enumerate([(150, 196), (132, 184), (120, 170), (92, 150), (70, 128)]):
        x = 52 + i * 36
        draw.rectangle([x - 9, low, x + 9, high], fill=(255, 255, 255, 110))
    draw.line([(40, 200), (96, 160), (136, 172), (216, 64)], fill=(255, 255, 255, 255), width=16, joint="curve")
    return icon_file(tile, [16, 24, 32, 48, 64, 256])


def icon_file(image, sizes):
    """An .ico with 32-bit bitmaps below 256 pixels and a PNG at 256, the layout every
    version of the shell reads."""
    frames = []
    for size in sizes:
        frame = image.resize((size, size), resample=Image.Resampling.LANCZOS)
        if size >= 256:
            out = io.BytesIO()
            frame.save(out, format="PNG")
            frames.append((size, out.getvalue()))
            continue
        mask_row = ((size + 31) // 32) * 4
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, size * size * 4 + mask_row * size, 0, 0, 0, 0)
        r, g, b, a = frame.split()
        pixels = Image.merge("RGBA", (b, g, r, a)).transpose(Image.Transpose.FLIP_TOP_BOTTOM).tobytes()  # BGRA, bottom-up
        frames.append((size, header + pixels + bytes(mask_row * size)))
    directory = struct.pack("<HHH", 0, 1, len(frames))
    offset = 6 + 16 * len(frames)
    for size, data in frames:
        side = size if size < 256 else 0
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + b"".join(data for _, data in frames)


def pseudo_binary(seed, size):
    """Bytes that look like a program library: half code-like noise, half padding and tables."""
    rng = random.Random(seed)
    out = bytearray(b"MZ")
    while len(out) < size:
        out += rng.randbytes(512)
        out += bytes(256) + bytes(range(256))
    return bytes(out[:size])


def read_tree(root):
    """Files below root as {relative name with "/": bytes}, and every folder holding one."""
    files, folders = {}, set()
    for folder, subfolders, names in os.walk(root):
        subfolders.sort()
        for name in sorted(names):
            relative = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
            with open(os.path.join(folder, name), "rb") as handle:
                files[relative] = handle.read()
            parts = relative.split("/")[:-1]
            folders.update("/".join(parts[: i + 1]) for i in range(len(parts)))
    return files, folders


def sample_contents(standin, code, edition):
    """{package: (files, folders)} of the sample release."""
    contents = {name: read_tree(os.path.join(SOURCES, name)) for name in PACKAGE_ORDER}
    base_files, base_folders = contents["base"]
    for source, target in (("terminal.exe", "morvantis v9.5.exe"), ("uninstall.exe", "uninstall.exe")):
        with open(os.path.join(standin, source), "rb") as handle:
            base_files[target] = handle.read()
    base_files["Server/config/shortcut/shortcut%s.ico" % code] = make_icon()
    base_files["bin/mvlauncher.dll"] = pseudo_binary("mvlauncher", 48 * 1024)
    base_folders.update({"Server/config/shortcut", "bin"})
    fix_files, fix_folders = contents["fix"]
    fix_files["bin/runtime.ver"] = (edition.fix + "\r\n").encode()
    fix_files["bin/mvcore.dll"] = pseudo_binary("mvcore", 96 * 1024)
    fix_files["bin/mvquote.dll"] = pseudo_binary("mvquote", 64 * 1024)
    fix_folders.add("bin")
    for package, extra in edition.extra_files.items():
        files, folders = contents[package]
        for name, size in extra.items():
            # A library of the given size, or a line of text naming the file.
            files[name] = pseudo_binary(name, size) if size else ("; %s\r\n" % name).encode()
            parts = name.split("/")[:-1]
            folders.update("/".join(parts[: i + 1]) for i in range(len(parts)))
    return contents


FOLDER_NAMES = {
    "base": ["bin/plugins", "res/skin/classic", "res/images/toolbar", "Server/data/HK", "Server/data/SH",
             "Server/data/SZ/2025", "Server/data/SZ/2026", "help/en", "help/zh"],
    "fix": ["bin", "bin/runtime", "bin/runtime/codecs", "Server/lib"],
    "config": ["config/templates", "config/templates/pages"],
    "quant": ["quant/library", "quant/library/samples", "quant/data"],
    "stock": ["HK/daily", "SH/daily", "SZ/daily", "US/daily"],
}
TEXT_BLOCK_WORDS = ["open", "high", "low", "close", "volume", "amount", "bid", "ask", "turnover", "ma5",
                    "ma10", "ma20", "HK", "SH", "SZ", "CNY", "HKD", "USD", "board", "index"]


def text_blocks(rng, count=16, size=64 * 1024):
    """Blocks of record-like text; files join them so deflate sees realistic text."""
    blocks = []
    for _ in range(count):
        lines, length = [], 0
        while length < size:
            line = "%06d|%s|%d.%02d|%d\r\n" % (rng.randrange(1000000), rng.choice(TEXT_BLOCK_WORDS),
                                                 rng.randrange(1000), rng.randrange(100), rng.randrange(10 ** 7))
            lines.append(line)
            length += len(line)
        blocks.append("".join(lines).encode()[:size])
    return blocks


def add_reference_payload(contents, megabytes):
    """Generated files until each package reaches its share of about `megabytes` MiB once
    compressed; returns nothing, fills contents in place."""
    total_files = max(len(PACKAGE_ORDER) * 4, REFERENCE_FILES_PER_MIB * megabytes)
    for package in PACKAGE_ORDER:
        rng = random.Random("reference-%s-%d" % (package, megabytes))
        blocks = text_blocks(rng)
        files, folders = contents[package]
        # Compressing every file twice would double the run: estimate from one sample of each kind.
        ratio = {"text": len(zlib.compress(b"".join(blocks[:4]), 6)) / (4.0 * len(blocks[0])),
                 "library": len(zlib.compress(pseudo_binary("ratio", 256 * 1024), 6)) / (256.0 * 1024), "data": 1.0}
        budget = REFERENCE_SHARES[package] * megabytes * 1024 * 1024
        budget -= sum(min(len(data), len(zlib.compress(data, 6))) for data in files.values())
        count = max(4, int(total_files * REFERENCE_SHARES[package]))
        for index in range(count):
            remaining = count - index
            target = budget / remaining if remaining == 1 else budget / remaining * min(8.0, rng.lognormvariate(-0.5, 1.0))
            target = max(256, int(target))
            kind = rng.choices(["text", "library", "data"], weights=REFERENCE_KINDS[package])[0]
            folder = rng.choice(FOLDER_NAMES[package])
            if kind == "text":
                length = int(target / ratio["text"])
                data = b"".join(rng.choice(blocks) for _ in range(length // len(blocks[0]) + 1))[:length]
                name = "%s/table%04d.%s" % (folder, index, rng.choice(["csv", "txt", "ini", "xml"]))
            elif kind == "library":
                data = pseudo_binary("%s-%d" % (package, index), int(target / ratio["library"]))
                name = "%s/module%04d.dll" % (folder, index)
            else:
                data = rng.randbytes(target)
                name = "%s/block%04d.dat" % (folder, index)
            files[name] = data
            parts = name.split("/")[:-1]
            folders.update("/".join(parts[: i + 1]) for i in range(len(parts)))
            budget -= len(data) * ratio[kind]
            if budget <= 0:
                break


def write_package(path, files, folders, entry_time, with_folders, backslashes):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    writer = ZipWriter(path, entry_time, backslashes)
    entries = []
    for name in sorted(set(files) | (folders if with_folders else set()), key=lambda n: n.encode("gbk")):
        if name in files:
            data = files[name]
            # Pictures and icons are compressed already.
            writer.add_file(name, data, compress=not name.endswith((".ico", ".png", ".bmp")))
        else:
            writer.add_folder(name)
        entries.append(name)
    size = writer.close()
    return size, entries


def manifest_text(code, edition, quant, stock):
    builds = dict(OTHER_BUILDS)
    builds[code] = (edition.fix, edition.quant if quant else "", edition.stock if stock else "")
    lines = ["[cfgstamp]", "time=%d" % edition.cfg_time, "", "[fixstamp]"]
    lines += ["%s=%s" % (c, builds[c][0]) for c in sorted(builds)]
    for section, column in (("quant", 1), ("stock", 2)):
        lines += ["", "[%s]" % section]
        lines += ["%s=%s" % (c, builds[c][column]) for c in sorted(builds) if builds[c][column]]
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


def build_release(standin, out, code, edition, quant, stock, reference_mb):
    for name in ("terminal.exe", "uninstall.exe"):
        path = os.path.join(standin, name)
        if not os.path.isfile(path):
            raise ReleaseError("%s is missing: build the stand-ins first (cmake --build <build>)" % path)
        with open(path, "rb") as handle:
            if handle.read(2) != b"MZ":
                raise ReleaseError("%s is not a Windows program" % path)
    contents = sample_contents(standin, code, edition)
    if reference_mb:
        add_reference_payload(contents, reference_mb)
    packages = {
        "base": ("base.zip", ""),
        "config": ("config.zip", ""),
        "fix": ("fix/%s.zip" % edition.fix, ""),
        "quant": ("quant/%s.zip" % edition.quant, ""),
        "stock": ("CspAccessApi.StockInfo.pub.zip", STOCK_TARGET),
    }
    selected = [p for p in PACKAGE_ORDER if (p != "quant" or quant) and (p != "stock" or stock)]

    os.makedirs(out, exist_ok=True)
    staging = os.path.join(out, "." + KEY_PREFIX + ".new")
    shutil.rmtree(staging, ignore_errors=True)
    os.makedirs(staging)
    tree, described = {}, []
    for package in selected:
        key, target = packages[package]
        files, folders = contents[package]
        size, entries = write_package(os.path.join(staging, key), files, folders, edition.entry_time,
                                      with_folders=package in ("base", "config"), backslashes=package == "quant")
        for name, data in files.items():
            tree[(target + name).lower()] = (target + name, data)
        described.append({"package": package, "key": KEY_PREFIX + "/" + key, "size": size,
                          "unpackTo": target.rstrip("/"), "entries": entries})
    with open(os.path.join(staging, "summary.ini"), "wb") as handle:
        handle.write(manifest_text(code, edition, quant, stock))

    # Replace the release as a whole, so no object of an earlier one stays behind.
    final = os.path.join(out, KEY_PREFIX)
    shutil.rmtree(final, ignore_errors=True)
    os.rename(staging, final)

    names = sorted(name for name, _ in tree.values())
    with open(os.path.join(out, "expected-tree.txt"), "w", encoding="utf-8", newline="\n") as handle:
        handle.writelines(name + "\n" for name in names)
    with open(os.path.join(out, "expected-sha256.txt"), "w", encoding="utf-8", newline="\n") as handle:
        for key in sorted(tree, key=lambda k: tree[k][0]):
            name, data = tree[key]
            if name not in EDITED_BY_INSTALLER:
                handle.write("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name))
    release = {
        "keyPrefix": KEY_PREFIX, "packageCode": code, "cfgTime": edition.cfg_time, "fixVersion": edition.fix,
        "quantName": edition.quant if quant else "", "stockName": edition.stock if stock else "",
        "files": len(names), "bytes": sum(len(data) for _, data in tree.values()),
        "packageBytes": sum(p["size"] for p in described), "packages": described,
    }
    with open(os.path.join(out, "release.json"), "w", encoding="utf-8", newline="\n") as handle:
        json.dump(release, handle, ensure_ascii=False, indent=1, sort_keys=True)
        handle.write("\n")
    return release


def main(argv):
    parser = argparse.ArgumentParser(description="Builds the sample release as a package-store folder.")
    parser.add_argument("--standin", required=True, help="folder holding terminal.exe and uninstall.exe")
    parser.add_argument("--out", required=True, help="store root folder (the bucket's files)")
    parser.add_argument("--package-code", default="602731", help="six-digit package code of the build")
    parser.add_argument("--quant", action=argparse.BooleanOptionalAction, default=True, help="include the quant package")
    parser.add_argument("--stock", action=argparse.BooleanOptionalAction, default=True,
                        help="include the securities-information package")
    parser.add_argument("--edition", choices=sorted(EDITIONS), default="current",
                        help="previous: an earlier release (other versions, files the current one lacks)")
    parser.add_argument("--reference-mb", type=int, default=0, metavar="N",
                        help="add generated files up to about N MiB of packages (benchmarks)")
    parser.add_argument("--sign-key", metavar="PEM", help="sign the release with this ECDSA P-256 private key")
    parser.add_argument("--sign-public", metavar="PEM", help="the build's release key the private key must match")
    args = parser.parse_args(argv)
    if not (len(args.package_code) == 6 and args.package_code.isascii() and args.package_code.isdigit()):
        parser.error("--package-code must be six decimal digits, not %r" % args.package_code)
    if not 0 <= args.reference_mb <= 2048:
        parser.error("--reference-mb must be between 0 (none) and 2048")
    try:
        release = build_release(args.standin, args.out, args.package_code, EDITIONS[args.edition], args.quant,
                                args.stock, args.reference_mb)
        if args.sign_key:
            sign.sign_release(args.out, KEY_PREFIX, args.sign_key, args.sign_public)
    except (ReleaseError, OSError, _signing.SigningError) as error:
        print("make_sample_release: %s" % error, file=sys.stderr)
        return 1
    print("release for package %s in %s: %d packages, %d bytes; installed tree %d files, %d bytes" % (
        args.package_code, os.path.join(args.out, KEY_PREFIX), len(release["packages"]), release["packageBytes"],
        release["files"], release["bytes"]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
