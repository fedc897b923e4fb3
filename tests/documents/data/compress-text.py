#!/usr/bin/env python3
"""Stores the start of a Word 97 document's text as 8-bit Windows-1252, the way Word itself
keeps text that needs no more, and the rest as UTF-16, as LibreOffice writes it all: the piece
table gets two pieces instead of one. Used on lists.doc (see lists.fodt), so that one fixture
has both kinds of piece, and a paragraph running from one into the other.

Usage: compress-text.py IN.doc OUT.doc TEXT  (the 8-bit piece ends after the first TEXT)
"""
import struct
import sys

data = bytearray(open(sys.argv[1], 'rb').read())
shift = struct.unpack_from('<H', data, 30)[0]
size = 1 << shift
fat = []
for i in range(struct.unpack_from('<I', data, 44)[0]):  # small files: all in the header
    sector = struct.unpack_from('<I', data, 76 + 4 * i)[0]
    fat += struct.unpack_from('<%dI' % (size // 4), data, (sector + 1) * size)


def chain(start, table):
    while start < 0xFFFFFFFA:
        yield start
        start = table[start]


regular = lambda s: (s + 1) * size
directory = [regular(s) for s in chain(struct.unpack_from('<I', data, 48)[0], fat)]
entries = {}
for at in directory:
    for e in range(at, at + size, 128):
        length = struct.unpack_from('<H', data, e + 64)[0]
        name = data[e:e + max(length - 2, 0)].decode('utf-16-le')
        entries[name] = e
root = entries['Root Entry']
mini_stream = [regular(s) for s in chain(struct.unpack_from('<I', data, root + 116)[0], fat)]
mini_fat = []
for s in chain(struct.unpack_from('<I', data, 60)[0], fat):
    mini_fat += struct.unpack_from('<%dI' % (size // 4), data, regular(s))


def stream(name):
    start, length = struct.unpack_from('<II', data, entries[name] + 116)
    if length < 4096:
        spots = [mini_stream[s * 64 // size] + s * 64 % size for s in chain(start, mini_fat)]
        return spots, 64, bytearray(b''.join(data[o:o + 64] for o in spots))[:length]
    spots = [regular(s) for s in chain(start, fat)]
    return spots, size, bytearray(b''.join(data[o:o + size] for o in spots))[:length]


def store(spots, sector_size, content):
    for i, o in enumerate(spots):
        part = content[i * sector_size:(i + 1) * sector_size]
        data[o:o + len(part)] = part


word = stream('WordDocument')
w = word[2]
table = stream('1Table' if struct.unpack_from('<H', w, 10)[0] & 0x0200 else '0Table')
t = table[2]
fc_clx, lcb_clx = struct.unpack_from('<II', w, 154 + 8 * 33)
clx = t[fc_clx:fc_clx + lcb_clx]
assert clx[0] == 2 and struct.unpack_from('<I', clx, 1)[0] == 16, 'one piece expected'
cp_end = struct.unpack_from('<I', clx, 9)[0]
flags, fc, prm = struct.unpack_from('<HIH', clx, 13)
assert not fc & 0x40000000
text = w[fc:fc + 2 * cp_end].decode('utf-16-le')
split = text.index(sys.argv[3]) + len(sys.argv[3])
w[fc:fc + split] = text[:split].encode('cp1252')
# The 8-bit piece reads its text at half the offset it names.
pieces = struct.pack('<IIIHIHHIH', 0, split, cp_end, flags, (2 * fc) | 0x40000000, prm, flags,
                     fc + 2 * split, prm)
# The longer table goes where the grammar checker kept its marks, which are only dropped.
fc_gram, lcb_gram = struct.unpack_from('<II', w, 154 + 8 * 91)
assert lcb_gram >= 5 + len(pieces), 'no room for two pieces'
struct.pack_into('<II', w, 154 + 8 * 91, 0, 0)
struct.pack_into('<II', w, 154 + 8 * 33, fc_gram, 5 + len(pieces))
t[fc_gram:fc_gram + 5 + len(pieces)] = b'\x02' + struct.pack('<I', len(pieces)) + pieces


def moved(f):  # where a byte of the text now lies
    return fc + (f - fc) // 2 if fc <= f < fc + 2 * split else f


# Character and paragraph properties name the text by offset: their tables and pages follow it.
for index in (12, 13):
    fc_plc, lcb_plc = struct.unpack_from('<II', w, 154 + 8 * index)
    count = (lcb_plc - 4) // 8
    for i in range(count + 1):
        struct.pack_into('<I', t, fc_plc + 4 * i, moved(struct.unpack_from('<I', t, fc_plc + 4 * i)[0]))
    for i in range(count):
        page = (struct.unpack_from('<I', t, fc_plc + 4 * (count + 1) + 4 * i)[0] & 0x3FFFFF) * 512
        for j in range(w[page + 511] + 1):
            struct.pack_into('<I', w, page + 4 * j, moved(struct.unpack_from('<I', w, page + 4 * j)[0]))
store(word[0], word[1], w)
store(table[0], table[1], t)
open(sys.argv[2], 'wb').write(data)
