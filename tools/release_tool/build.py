"""tools/release build: folders -> the release's packages, and the manifest lines of one
or more package codes.

    tools/release build RELEASE --code 602731 [--code 611502 ...]
        [--base DIR] [--config DIR] --fix VERSION[=DIR] [--quant NAME[=DIR]] [--stock STAMP[=DIR]]
        [--cfg-time SECONDS] [--time YYYY-MM-DDTHH:MM:SS]

RELEASE is the folder that `publish` uploads: RELEASE/9.5MOrvantisIE/<object key>. Each
DIR becomes one zip package as zip tools on Chinese Windows write them (GBK names,
folder entries, MS-DOS times and attributes); a value without =DIR names a package that
RELEASE already holds. summary.ini is created or updated: the [fixstamp], [quant] and
[stock] lines of the given codes are set (no --quant / --stock removes that code's
line), the lines of every other code are kept, [cfgstamp] time is set. A signature of an
earlier state is removed: sign again after building.
"""
import argparse
import os
import sys
import time

from . import _common as common
from ._zipwriter import ReleaseError, ZipWriter

ALREADY_COMPRESSED = (".ico", ".png", ".bmp", ".jpg", ".gif", ".zip", ".7z", ".rar", ".cab")


def local_stamp(seconds):
    year, month, day, hour, minute, second = time.localtime(seconds)[:6]
    return (1980, 1, 1, 0, 0, 0) if year < 1980 else (min(year, 2107), month, day, hour, minute, second)


def write_package(path, folder, fixed_stamp):
    """Zips folder into path (through a temporary file); returns the number of entries."""
    if not os.path.isdir(folder):
        raise common.Failure("%s is not a folder" % folder)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    temp = path + ".new"
    writer = ZipWriter(temp, fixed_stamp)
    count = 0
    try:
        for parent, subfolders, names in os.walk(folder):
            subfolders.sort(key=lambda n: n.encode("gbk", "replace"))
            relative = os.path.relpath(parent, folder).replace(os.sep, "/")
            prefix = "" if relative == "." else relative + "/"
            if prefix:
                writer.add_folder(prefix, fixed_stamp or local_stamp(os.stat(parent).st_mtime))
                count += 1
            for name in sorted(names, key=lambda n: n.encode("gbk", "replace")):
                source = os.path.join(parent, name)
                with open(source, "rb") as f:
                    data = f.read()
                writer.add_file(prefix + name, data, compress=not name.lower().endswith(ALREADY_COMPRESSED),
                                stamp=fixed_stamp or local_stamp(os.stat(source).st_mtime))
                count += 1
        writer.close()
    except (ReleaseError, OSError) as error:
        writer.file.close()
        os.unlink(temp)
        raise common.Failure("%s: %s" % (folder, error))
    if count == 0:
        os.unlink(temp)
        raise common.Failure("%s is empty: a package needs at least one entry" % folder)
    os.replace(temp, path)
    return count


def split_value(text, what):
    value, _, folder = text.partition("=")
    problem = common.value_problem(value)
    if problem and what != "stock":
        raise common.Failure("--%s %r: %s" % (what, value, problem))
    if not value:
        raise common.Failure("--%s needs a value" % what)
    return value, folder or None


def manifest_text(sections, order):
    lines = []
    for name in order:
        if name not in sections:
            continue
        if lines:
            lines.append("")
        lines.append("[%s]" % name)
        lines += ["%s=%s" % pair for pair in sorted(sections[name].items())]
    return ("\r\n".join(lines) + "\r\n").encode("gbk")


def read_sections(path):
    """Sections of an existing manifest, in file order, names as written."""
    sections, order, current = {}, [], None
    if os.path.isfile(path):
        with open(path, "rb") as f:
            for raw in f.read().decode("gbk", "replace").splitlines():
                line = raw.strip()
                if line.startswith("[") and "]" in line:
                    current = line[1:line.index("]")].strip().lower()
                    if current not in sections:
                        sections[current] = {}
                        order.append(current)
                elif current and "=" in line and not line.startswith(";"):
                    key, _, value = line.partition("=")
                    sections[current].setdefault(key.strip(), value.strip())
    return sections, order


def run(args):
    root = os.path.join(args.release, common.KEY_PREFIX)
    for code in args.code:
        if not common.is_code(code):
            raise common.Failure("--code %r: six decimal digits" % code)
    fixed = None
    if args.time:
        try:
            fixed = time.strptime(args.time, "%Y-%m-%dT%H:%M:%S")[:6]
        except ValueError:
            raise common.Failure("--time %r: YYYY-MM-DDTHH:MM:SS" % args.time)
    fix, fix_folder = split_value(args.fix, "fix")
    quant, quant_folder = split_value(args.quant, "quant") if args.quant else ("", None)
    stock, stock_folder = split_value(args.stock, "stock") if args.stock else ("", None)
    if stock and any(c in stock for c in "\r\n[]="):
        raise common.Failure("--stock %r: one line of text without [ ] =" % stock)

    packages = [("base.zip", args.base), ("config.zip", args.config), ("fix/%s.zip" % fix, fix_folder)]
    if quant:
        packages.append(("quant/%s.zip" % quant, quant_folder))
    if stock:
        packages.append((common.STOCK_KEY, stock_folder))
    for key, folder in packages:
        if folder is None and not os.path.isfile(os.path.join(root, key)):
            raise common.Failure("%s/%s is not in %s: give its folder" % (common.KEY_PREFIX, key, args.release))
    for key, folder in packages:
        if folder is not None:
            count = write_package(os.path.join(root, key), folder, fixed)
            print("build: %s/%s from %s (%d entries)" % (common.KEY_PREFIX, key, folder, count))

    manifest = os.path.join(root, "summary.ini")
    sections, order = read_sections(manifest)
    for name in ("cfgstamp", "fixstamp", "quant", "stock"):
        if name not in sections:
            sections[name] = {}
            order.append(name)
    sections["cfgstamp"] = {"time": str(args.cfg_time if args.cfg_time is not None else int(time.time()))}
    for code in args.code:
        for section, value in (("fixstamp", fix), ("quant", quant), ("stock", stock)):
            entries = sections[section]
            for key in [k for k in entries if k.lower() == code]:
                del entries[key]
            if value:
                entries[code] = value
    with open(manifest + ".new", "wb") as f:
        f.write(manifest_text(sections, ["cfgstamp", "fixstamp", "quant", "stock"] +
                              [n for n in order if n not in ("cfgstamp", "fixstamp", "quant", "stock")]))
    os.replace(manifest + ".new", manifest)
    print("build: %s/summary.ini: %s" % (common.KEY_PREFIX, ", ".join(
        "%s -> %s%s%s" % (code, fix, " + " + quant if quant else "", " + stock" if stock else "") for code in args.code)))
    for name in (common.SIGNED_LIST, common.SIGNATURE):
        stale = os.path.join(root, name)
        if os.path.exists(stale):
            os.unlink(stale)
            print("build: removed %s/%s of the earlier state: sign the release again" % (common.KEY_PREFIX, name))
    return 0


def main(argv):
    parser = argparse.ArgumentParser(prog="tools/release build", description=__doc__.split("\n")[0],
                                     epilog=__doc__.split("\n\n", 2)[2], formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("release", help="release folder (RELEASE/9.5MOrvantisIE/...)")
    parser.add_argument("--code", action="append", required=True, help="package code whose lines are set (repeatable)")
    parser.add_argument("--base", help="folder of the base package")
    parser.add_argument("--config", help="folder of the configuration package")
    parser.add_argument("--fix", required=True, help="runtime version, =DIR: its package's folder")
    parser.add_argument("--quant", help="quant package name, =DIR: its folder")
    parser.add_argument("--stock", help="securities-information stamp, =DIR: its folder (unpacked to Server/config/BaseData)")
    parser.add_argument("--cfg-time", type=int, help="[cfgstamp] time (default: now)")
    parser.add_argument("--time", help="one entry time for every entry (default: each file's modification time)")
    args = parser.parse_args(argv)
    try:
        return run(args)
    except common.Failure as error:
        print("build: %s" % error, file=sys.stderr)
        return 1
