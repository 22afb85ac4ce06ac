"""Zip packages as zip tools on Chinese Windows write them: MS-DOS attributes, GBK names
without the UTF-8 flag, folder entries, DOS times, stored or deflated entries."""
import struct
import zlib


class ReleaseError(Exception):
    pass


def dos_time(stamp):
    year, month, day, hour, minute, second = stamp
    return (hour << 11) | (minute << 5) | (second // 2), ((year - 1980) << 9) | (month << 5) | day


class ZipWriter:
    """A plain zip writer. entry_time is (year, month, day, hour, minute, second) in local
    time for every entry, or None to give each entry its own (add_file's stamp)."""

    def __init__(self, path, entry_time, backslashes=False):
        self.file = open(path, "wb")
        self.backslashes = backslashes
        self.central = []
        self.names = set()
        self.time, self.date = dos_time(entry_time) if entry_time else (0, (1 << 5) | 1)

    def _name_bytes(self, name):
        if self.backslashes:
            name = name.replace("/", "\\")
        key = name.lower()
        if key in self.names:
            raise ReleaseError("duplicate zip entry %s" % name)
        self.names.add(key)
        try:
            return name.encode("gbk")
        except UnicodeEncodeError:
            raise ReleaseError("entry name %r cannot be written in GBK" % name)

    def _entry(self, name, data, method, attributes, stamp=None):
        raw = self._name_bytes(name)
        time_, date = dos_time(stamp) if stamp else (self.time, self.date)
        crc = zlib.crc32(data)
        payload = data
        if method == 8:
            compressor = zlib.compressobj(6, zlib.DEFLATED, -15)
            payload = compressor.compress(data) + compressor.flush()
            if len(payload) >= len(data):  # incompressible: store it, as zip tools do
                method, payload = 0, data
        if len(data) >= 0xFFFFFFFF or self.file.tell() >= 0xFFFFFFFF or len(self.central) >= 0xFFFF:
            raise ReleaseError("package too large for a plain zip")
        version = 20 if method == 8 else 10
        offset = self.file.tell()
        self.file.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, version, 0, method, time_, date,
                                    crc, len(payload), len(data), len(raw), 0) + raw)
        self.file.write(payload)
        self.central.append(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, version, 0, method, time_,
                                        date, crc, len(payload), len(data), len(raw), 0, 0, 0, 0,
                                        attributes, offset) + raw)
        return len(payload)

    def add_folder(self, name, stamp=None):
        self._entry(name.rstrip("/") + "/", b"", 0, 0x10, stamp)

    def add_file(self, name, data, compress=True, stamp=None):
        return self._entry(name, data, 8 if compress else 0, 0x20, stamp)

    def close(self):
        start = self.file.tell()
        for record in self.central:
            self.file.write(record)
        size = self.file.tell() - start
        self.file.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(self.central), len(self.central), size, start, 0))
        total = self.file.tell()
        self.file.close()
        return total
