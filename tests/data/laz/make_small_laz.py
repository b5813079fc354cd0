#!/usr/bin/env python3
"""Makes the small LAZ file the LAZ reader's tests carry, from point10.laz and
point10.las of the shared samples (laz-rs test data, Apache-2.0):

  point10_10.las     the first 10 points of point10.las (its header, count 10)
  point10_4x10.laz   4 chunks of 10 points: each the first 116 bytes of
                     point10.laz's chunk (what its first 10 points take), with
                     the X and Y of the chunk's first point, stored whole,
                     moved by k x (5 m, 3 m) in chunk k: every later X and Y
                     of a chunk is coded as a difference from the one
                     before, so the whole chunk moves with them (Z is not:
                     it is predicted per return). The chunk table is coded
                     here as LASzip codes it.

usage: make_small_laz.py SHARED_LAZ_FOLDER OUT_FOLDER
The table coder is checked first against the tables of point10.laz and
autzen_f6.laz.
"""
import struct
import sys

MASK = 0xFFFFFFFF
MIN_LENGTH = 1 << 24


class Model:
    """A fresh adaptive model; the few symbols coded here never reach its first update."""

    def __init__(self, symbols):
        scale = 0x80000000 // symbols
        self.cumulative = [(scale * k) >> 16 for k in range(symbols)]
        self.last = symbols - 1
        self.left = (symbols + 6) >> 1

    def used(self):
        self.left -= 1
        assert self.left > 0, "this coder has no model update"


class BitModel:
    def __init__(self):
        self.prob0 = 1 << 12
        self.left = 4

    def used(self):
        self.left -= 1
        assert self.left > 0, "this coder has no model update"


class Coder:
    def __init__(self):
        self.base, self.length, self.out = 0, MASK, bytearray()

    def carry(self):
        i = len(self.out) - 1
        while self.out[i] == 0xFF:
            self.out[i] = 0
            i -= 1
        self.out[i] += 1

    def renorm(self):
        while True:
            self.out.append(self.base >> 24)
            self.base = (self.base << 8) & MASK
            self.length = (self.length << 8) & MASK
            if self.length >= MIN_LENGTH:
                return

    def add(self, x, length):
        before = self.base
        self.base = (self.base + x) & MASK
        self.length = length
        if before > self.base:
            self.carry()
        if self.length < MIN_LENGTH:
            self.renorm()

    def symbol(self, m, s):
        if s == m.last:
            x = m.cumulative[s] * (self.length >> 15)
            self.add(x, self.length - x)
        else:
            unit = self.length >> 15
            x = m.cumulative[s] * unit
            self.add(x, m.cumulative[s + 1] * unit - x)
        m.used()

    def bit(self, m, b):
        x = m.prob0 * (self.length >> 13)
        self.add(x if b else 0, self.length - x if b else x)
        m.used()

    def raw(self, bits, value):
        unit = self.length >> bits
        self.add(value * unit, unit)

    def done(self):
        before, another = self.base, self.length > 2 * MIN_LENGTH
        if another:
            self.base, self.length = (self.base + MIN_LENGTH) & MASK, MIN_LENGTH >> 1
        else:
            self.base, self.length = (self.base + (MIN_LENGTH >> 1)) & MASK, MIN_LENGTH >> 9
        if before > self.base:
            self.carry()
        self.renorm()
        self.out += b"\0\0\0" if another else b"\0\0"
        return bytes(self.out)


def chunk_table(byte_counts):
    """The entries of a table of fixed-size chunks: each byte count as a
    32-bit correction of the one before (context 1 of two)."""
    c = Coder()
    k_model = Model(33)
    correctors = {}
    zero = BitModel()
    before = 0
    for n in byte_counts:
        corr = n - before
        before = n
        k = (corr - 1 if corr > 0 else -corr).bit_length()
        c.symbol(k_model, k)
        if k == 0:
            c.bit(zero, 0)
            continue
        value = corr - 1 if corr > 0 else corr + (1 << k) - 1
        model = correctors.setdefault(k, Model(1 << min(k, 8)))
        if k <= 8:
            c.symbol(model, value)
        else:
            c.symbol(model, value >> (k - 8))
            c.raw(k - 8, value & ((1 << (k - 8)) - 1))
    return c.done()


def check_against(path):
    b = open(path, "rb").read()
    (points_at,) = struct.unpack_from("<I", b, 96)
    (table,) = struct.unpack_from("<q", b, points_at)
    _, chunks = struct.unpack_from("<II", b, table)
    # Fixed-size chunks only: the byte counts are what this checks.
    counts = recover_counts(b, points_at + 8, table, chunks)
    assert chunk_table(counts) == b[table + 8:], path


def recover_counts(b, first, table, chunks):
    # For one chunk the count is the span; for autzen_f6 the layered chunks
    # say their own size: 4-byte count, the raw point, then one size per layer.
    if chunks == 1:
        return [table - first]
    counts, at = [], first
    for _ in range(chunks):
        sizes = struct.unpack_from("<9I", b, at + 4 + 30)
        n = 4 + 30 + 4 * 9 + sum(sizes)
        counts.append(n)
        at += n
    assert at == table
    return counts


def main(shared, out):
    check_against(shared + "/point10.laz")
    check_against(shared + "/autzen_f6.laz")

    las = bytearray(open(shared + "/point10.las", "rb").read())
    (at,) = struct.unpack_from("<I", las, 96)
    struct.pack_into("<I", las, 107, 10)
    open(out + "/point10_10.las", "wb").write(las[: at + 10 * 20])

    laz = bytearray(open(shared + "/point10.laz", "rb").read())
    (at,) = struct.unpack_from("<I", laz, 96)
    first = at + 8
    chunk = laz[first : first + 116]
    vlr = 227 + 54
    struct.pack_into("<I", laz, vlr + 12, 10)  # chunks of 10 points
    struct.pack_into("<I", laz, 107, 40)
    body = bytearray()
    for k in range(4):
        c = bytearray(chunk)
        for axis, step in enumerate((500, 300)):
            (v,) = struct.unpack_from("<i", c, 4 * axis)
            struct.pack_into("<i", c, 4 * axis, v + k * step)
        body += c
    table = first + len(body)
    head = laz[:at] + struct.pack("<q", table)
    data = head + body + struct.pack("<II", 0, 4) + chunk_table([116] * 4)
    open(out + "/point10_4x10.laz", "wb").write(data)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
