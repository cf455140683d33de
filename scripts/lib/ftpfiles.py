#!/usr/bin/python3
"""Creates the sample files that the test FTP servers serve.

Contents are pseudo-random but fixed (seeded by the file name), so tests can
compare digests; modification times are fixed in UTC so tests can assert the
exact list lines. A manifest (sha256, size, path) is written beside the home
folder, outside what the servers show.

--cp949 fills the home of the peers that hold their names in code page 949:
the same files plus EXTRA_949. On disk every name is text (UTF-8); a byte
that is not valid code page 949 is kept as an escaped byte (see wire_to_fs),
so the peers give back exactly the bytes they were sent.
"""
import argparse
import calendar
import codecs
import hashlib
import os
import random
import shutil
import time

# name: (size in bytes, last change in UTC)
FILES = {
    "report.zip": (12_345_678, "2024-03-07 00:05:30"),
    "견적서_2024.xlsx": (1500, "2024-02-01 01:30:00"),
    "with blank.txt": (511, "2024-01-15 03:00:00"),
    "512.bin": (512, "2024-01-15 03:01:00"),
    "1536.bin": (1536, "2024-01-15 03:02:00"),
    "2048.bin": (2048, "2024-01-15 03:03:00"),
    "empty.txt": (0, "2024-01-15 03:04:00"),
    # Last change late in the UTC day: the local date moves on east of UTC.
    "utc2359.txt": (100, "2024-03-07 23:59:59"),
    "sub/inner.txt": (300, "2024-01-20 10:00:00"),
}
# Only on the code-page-949 peers. Keys are the names' bytes on the wire.
EXTRA_949 = {
    "견적 목록.txt".encode("cp949"): (777, "2024-02-02 04:10:00", None),
    # "견" and then a lead byte with no valid second byte: a name cut inside a
    # double-byte character. Neither code page 949 nor UTF-8.
    b"\xb0\xdf\xc0.txt": (16, "2024-02-03 05:20:00", b"odd-bytes-name\r\n"),
}
SPARSE = {"big5g.iso": (5 * 1024 ** 3, "2024-03-01 12:00:00")}
DIR_TIMES = {"sub": "2024-01-20 10:00:00", "": "2024-03-07 00:06:00"}


def _escape_bytes(err):
    """Bytes that do not decode become lone surrogates (one per byte, ASCII
    stays itself); on the way back those surrogates become the bytes again."""
    if isinstance(err, UnicodeDecodeError):
        b = err.object[err.start]
        return (chr(0xDC00 + b) if b >= 0x80 else chr(b)), err.start + 1
    if isinstance(err, UnicodeEncodeError):
        out = bytearray()
        for ch in err.object[err.start:err.end]:
            if not 0xDC80 <= ord(ch) <= 0xDCFF:
                return b"?", err.start + 1
            out.append(ord(ch) - 0xDC00)
        return bytes(out), err.end
    raise err


codecs.register_error("orvel-bytes", _escape_bytes)


def wire_to_fs(data):
    """Code-page-949 bytes from the wire -> the name used on disk."""
    return data.decode("cp949", "orvel-bytes")


def fs_to_wire(name):
    """Name on disk -> the code-page-949 bytes the peers send."""
    return name.encode("cp949", "orvel-bytes")


def utc(text):
    return calendar.timegm(time.strptime(text, "%Y-%m-%d %H:%M:%S"))


def content(name, size):
    return random.Random("orvel:" + name).randbytes(size)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--home", required=True, help="FTP home; files go to HOME/as_files")
    p.add_argument("--manifest", required=True)
    p.add_argument("--cp949", action="store_true", help="add the files only the code-page-949 peers hold")
    a = p.parse_args()

    folder = os.path.join(a.home, "as_files")
    if os.path.isdir(folder):
        shutil.rmtree(folder)
    os.makedirs(os.path.join(folder, "sub"))

    lines = []
    for name, (size, when) in FILES.items():
        path = os.path.join(folder, name)
        data = content(name, size)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, 0o644)
        os.utime(path, (utc(when), utc(when)))
        lines.append("%s  %d  %s" % (hashlib.sha256(data).hexdigest(), size, name))
    for wire, (size, when, data) in (EXTRA_949.items() if a.cp949 else ()):
        name = wire_to_fs(wire)
        data = content(name, size) if data is None else data
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, 0o644)
        os.utime(path, (utc(when), utc(when)))
        # A byte with no text form is written as \xNN.
        lines.append("%s  %d  %s" % (hashlib.sha256(data).hexdigest(), size,
                                     wire.decode("cp949", "backslashreplace")))
    for name, (size, when) in SPARSE.items():
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.truncate(size)
        os.chmod(path, 0o644)
        os.utime(path, (utc(when), utc(when)))
        lines.append("%s  %d  %s" % ("-" * 64, size, name))
    for name, when in DIR_TIMES.items():
        path = os.path.join(folder, name) if name else folder
        os.chmod(path, 0o755)
        os.utime(path, (utc(when), utc(when)))

    with open(a.manifest, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
