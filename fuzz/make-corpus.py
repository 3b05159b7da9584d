#!/usr/bin/env python3
"""Writes the seed corpora: every reply shape the program knows, whole, split
and run together, for fuzz_readuart in DIR/fuzz_readuart and, behind the
header that picks the request sent, for fuzz_replies in DIR/fuzz_replies.
Usage: make-corpus.py DIR"""
import os
import sys


def crc(data):
    c = 0xFFFF
    for b in data:
        c ^= b
        for _ in range(8):
            c = (c >> 1) ^ 0xA001 if c & 1 else c >> 1
    return bytes([c & 0xFF, c >> 8])


def frame(hexbytes):
    body = bytes.fromhex(hexbytes)
    return body + crc(body)


def arrivals(*chunks):
    """Each chunk is (bytes, clear_first)."""
    out = b""
    for data, clear in chunks:
        out += bytes([(0x80 if clear else 0) | len(data)]) + data
    return out


measurement = frame("01 03 06 01 0F 02 58 00 C8")
seeds = {
    "measurement": arrivals((measurement, False)),
    "measurement-split": arrivals((measurement[:4], False), (measurement[4:], False)),
    "measurement-negative": arrivals((frame("01 03 06 FF 38 FF 38 FF 38"), False)),
    "address-reply": arrivals((frame("01 03 02 00 05"), False)),
    "write-echo": arrivals((frame("00 06 01 00 00 01"), False)),
    "baud-echo": arrivals((frame("00 06 01 01 00 04"), False)),
    "exception": arrivals((frame("01 83 02"), False)),
    "ff-ff": arrivals((b"\xff\xff", False)),
    "extra-byte": arrivals((measurement + b"\x00", False)),
    "stray-then-reply": arrivals((b"\x55", False), (measurement, True)),
    "two-replies": arrivals((measurement + frame("01 03 02 00 05"), False)),
    "count-ff": arrivals(*[(b"\x01\x03\xff" + bytes(60), False)] + [(bytes(63), False)] * 4),
}
# fuzz_replies: request kind (0 measurement, 1 address read, 2 address
# write, 3 baud write), its value, the module's own address (0: unknown).
headers = {"poll-1": bytes([0, 1, 1]), "address-read": bytes([1, 0, 0]), "address-write-1": bytes([2, 1, 1])}
for target, prefixes in (("fuzz_readuart", {"": b""}), ("fuzz_replies", headers)):
    folder = os.path.join(sys.argv[1], target)
    os.makedirs(folder, exist_ok=True)
    for prefix, header in prefixes.items():
        for name, data in seeds.items():
            with open(os.path.join(folder, prefix + ("-" if prefix else "") + name), "wb") as f:
                f.write(header + data)
# fuzz_module: the echo mode and, with 0x80, a second module on the line;
# then requests, each its own arrival after a pause.
requests = {"read-7": "07 03 00 00 00 03", "read-8": "08 03 00 00 00 03", "read-via-0": "00 03 00 00 00 03",
            "write-via-0": "00 06 01 00 00 08", "both-via-0": "00 10 01 00 00 02 04 00 09 00 02"}
folder = os.path.join(sys.argv[1], "fuzz_module")
os.makedirs(folder, exist_ok=True)
for header in (0x00, 0x80, 0x82):
    for name, request in requests.items():
        with open(os.path.join(folder, "%02x-%s" % (header, name)), "wb") as f:
            f.write(bytes([header]) + arrivals((frame(request), True), (frame("08 03 01 00 00 02"), True)))
