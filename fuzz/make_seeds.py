#!/usr/bin/env python3
"""Writes the seed boards of fuzz_savefilereader into fuzz/seeds/, and the item records of the
older versions for fuzz_itemrecords into fuzz/record-seeds/.

One board for every format version the reader accepts (1.2 to 1.11), laid out field by field in
the order src/persistence/savefilereader.cpp reads them, plus damaged boards that lead the reader
into its paths for dropped pictures and into forced recovery. The seeds are committed; run this
again after a change to what the reader reads:

    python3 fuzz/make_seeds.py

Fields are written as QDataStream (Qt 5.15, big endian, double precision) writes them: a float
takes eight bytes, a QString is its byte length and UTF-16, a null QString a length of ~0.
"""

import hashlib
import os
import struct
import zlib

SEEDS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds")
RECORD_SEEDS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "record-seeds")

# QImage::Format values of Qt 5.15.
FORMAT_ARGB32 = 5
FORMAT_RGB888 = 13
# QPainterPath element types.
MOVE_TO, LINE_TO = 0, 1


class Stream:
    """A QDataStream of version Qt_5_15 writing into bytes."""

    def __init__(self):
        self.data = bytearray()

    def pos(self):
        return len(self.data)

    def raw(self, data):
        self.data += data
        return self

    def i8(self, v):
        return self.raw(struct.pack(">b", v))

    def i16(self, v):
        return self.raw(struct.pack(">h", v))

    def u16(self, v):
        return self.raw(struct.pack(">H", v))

    def i32(self, v):
        return self.raw(struct.pack(">i", v))

    def u32(self, v):
        return self.raw(struct.pack(">I", v))

    def i64(self, v):
        return self.raw(struct.pack(">q", v))

    def double(self, v):
        return self.raw(struct.pack(">d", v))

    def float(self, v):
        # Double precision: a float goes out as a double.
        return self.double(v)

    def boolean(self, v):
        return self.i8(1 if v else 0)

    def string(self, s):
        if s is None:
            return self.u32(0xFFFFFFFF)
        encoded = s.encode("utf-16-be")
        return self.u32(len(encoded)).raw(encoded)

    def transform(self, dx=0.0, dy=0.0, sx=1.0, sy=1.0):
        for v in (sx, 0.0, 0.0, 0.0, sy, 0.0, dx, dy, 1.0):
            self.double(v)
        return self

    def rect(self, x, y, w, h):
        for v in (x, y, w, h):
            self.double(v)
        return self

    def color(self, r, g, b, a=255):
        # Spec Rgb, then alpha, red, green, blue and padding as 16-bit values.
        self.i8(1)
        for v in (a, r, g, b, 0):
            self.u16(v * 0x101)
        return self

    def polygon(self, points):
        self.u32(len(points))
        for x, y in points:
            self.double(x).double(y)
        return self

    def path(self, points):
        self.i32(len(points))
        for i, (x, y) in enumerate(points):
            self.i32(MOVE_TO if i == 0 else LINE_TO).double(x).double(y)
        return self.i32(0).i32(0)  # subpath start, fill rule

    def size(self, w, h):
        return self.i32(w).i32(h)

    def patch_i64(self, at, v):
        self.data[at:at + 8] = struct.pack(">q", v)


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png(width, height, seed=0, declared=None):
    """An RGBA PNG; declared overrides the size its header claims."""
    rows = b"".join(
        b"\0" + bytes((x * 40 + seed) % 256 for x in range(width * 4)) for _ in range(height))
    w, h = declared or (width, height)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


# A picture kept as the file it came from: an 8 x 6 JPEG and a 4 x 3 lossless WebP, as ImageMagick
# writes them ("convert -size 8x6 gradient:red-blue -quality 90 -strip jpg:-", and
# "-size 4x3 gradient:green-yellow -define webp:lossless=true -strip webp:-").
JPEG = bytes.fromhex(
    "ffd8ffe000104a46494600010100000100010000ffdb00430003020203020203030303040303040508050504"
    "04050a070706080c0a0c0c0b0a0b0b0d0e12100d0e110e0b0b1016101113141515150c0f1718161418121415"
    "14ffdb00430103040405040509050509140d0b0d141414141414141414141414141414141414141414141414"
    "1414141414141414141414141414141414141414141414141414ffc000110800060008030111000211010311"
    "01ffc40014000100000000000000000000000000000008ffc400181000020300000000000000000000000000"
    "0004176291ffc4001501010100000000000000000000000000000708ffc4001a110000070000000000000000"
    "0000000000000205175191e1ffda000c03010002110311003f0013488d5f4aa5854992d605d7ad4a0d7a3fff"
    "d9")
WEBP = bytes.fromhex(
    "5249464630000000574542505650384c230000002f0380000017201048d4529b7c0d014982cf7b5ecc7ffc10"
    "08049224979c38a2ffd10000")


def scene_block(out, with_next_id):
    if with_next_id:
        out.i32(9)
    out.rect(-50, -50, 100, 100).transform().i32(1).i32(2)


def old_note(out, text):
    out.string(text).transform(1, 2).color(0, 0, 0).color(255, 255, 255, 51)


def raw_board(version):
    """1.2 and 1.3: raw pixels inside each record, no index."""
    out = Stream()
    out.string(version).i32(2)
    scene_block(out, False)
    for fmt, width, height, depth in ((FORMAT_ARGB32, 3, 2, 32), (FORMAT_RGB888, 3, 2, 24)):
        bytes_per_line = (width * depth + 31) // 32 * 4
        out.string("raw").float(0.5).transform(10, 20)
        out.i32(bytes_per_line * height).i32(width).i32(height).i32(fmt)
        if version == "1.3":
            out.polygon([(0, 0), (3, 0), (3, 2), (0, 2)])
        out.raw(bytes(i % 251 for i in range(bytes_per_line * height)))
    return bytes(out.data)


def board_1_4(index_agrees=True):
    """1.4: the PNG stream inside the record, found by the index, then the attached notes."""
    out = Stream()
    out.string("1.4").i32(2)
    index_slot = out.pos()
    out.i64(0)
    scene_block(out, True)
    entries = []
    for i in range(2):
        out.string("/nowhere/p%d.png" % i).string("pic").float(0.75).transform(5 * i, 0)
        out.polygon([(0, 0), (3, 0), (3, 2)]).i32(i)
        start = out.pos()
        out.raw(png(3, 2, i))
        entries.append((i, start if index_agrees or i == 0 else start + 1, out.pos()))
        out.i32(1 - i)
        for _ in range(1 - i):
            old_note(out, "attached")
    index = out.pos()
    for entry in entries:
        out.i32(entry[0]).i64(entry[1]).i64(entry[2])
    out.patch_i64(index_slot, index)
    return bytes(out.data)


def board_1_5():
    """1.5: blocks first (pixels, a block sharing them, a link), then untyped records."""
    out = Stream()
    out.string("1.5").i32(3)
    index_slot = out.pos()
    out.i64(0)
    scene_block(out, True)
    blocks = [png(3, 2), struct.pack(">i", 0), struct.pack(">i", -1)]
    entries = []
    for i, block in enumerate(blocks):
        start = out.pos()
        out.raw(block)
        entries.append((i, start, out.pos()))
    for i in range(3):
        out.string("/nowhere/linked.png" if i == 2 else None).string("pic%d" % i)
        out.float(1.0).transform(8 * i, 0).i32(i).double(float(i)).double(1.5).double(1.0)
        out.polygon([(0, 0), (3, 0), (3, 2), (0, 2)])
        out.i32(1 if i == 0 else 0)
        if i == 0:
            old_note(out, "attached")
    out.string("/nowhere")
    index = out.pos()
    for entry in entries:
        out.i32(entry[0]).i64(entry[1]).i64(entry[2])
    out.patch_i64(index_slot, index)
    return bytes(out.data)


def damaged_board_1_5():
    """1.5 whose first picture shares the pixels of one the file does not hold and whose second
    index entry ends past the file; each picture has a note attached."""
    out = Stream()
    out.string("1.5").i32(3)
    index_slot = out.pos()
    out.i64(0)
    scene_block(out, True)
    entries = []
    for i, block in enumerate([struct.pack(">i", 7), b"not a picture", png(3, 2)]):
        start = out.pos()
        out.raw(block)
        entries.append([i, start, out.pos()])
    for i in range(3):
        out.string(None).string("pic%d" % i).float(1.0).transform().i32(i)
        out.double(0.0).double(0.0).double(0.0).polygon([]).i32(1)
        old_note(out, "attached")
    out.string("/nowhere")
    index = out.pos()
    entries[1][2] = len(out.data) + 60 + 100
    for image_id, start, end in entries:
        out.i32(image_id).i64(start).i64(end)
    out.patch_i64(index_slot, index)
    return bytes(out.data)


def header_only():
    """1.10 header without items, images or even a scene: nothing to read after it."""
    out = Stream()
    out.string("1.10").i16(0).i16(0)
    index_slot = out.pos()
    out.i64(0).string("1.11.1")
    checksum_slot = out.pos()
    out.string("0" * 32)
    out.patch_i64(index_slot, out.pos())
    out.data[checksum_slot:] = Stream().string(hashlib.md5(b"").hexdigest()).data
    return bytes(out.data)


def typed_image(version, out, image_id, path=None, children=0):
    out.string("GraphicsImageItem").string(path).string("pic%d" % image_id).float(1.0)
    out.transform(8 * image_id, 0).i32(image_id).double(float(image_id))
    if version in ("1.8", "1.9", "1.10", "1.11"):
        out.transform(-1.5, -1).path([(-1.5, -1), (1.5, -1), (1.5, 1), (-1.5, 1)]).i32(3)
    else:
        out.double(1.5).double(1.0).polygon([(-1.5, -1), (1.5, -1), (1.5, 1)])
        if version == "1.7":
            out.i32(3)
    if version in ("1.9", "1.10", "1.11"):
        out.boolean(image_id == 0).size(2000, 2000)
    out.i32(children)


def typed_note(out, note_id, text, children=0):
    out.string("GraphicsTextItem").string(text).transform(3, 4).i32(note_id).double(9.0)
    out.color(255, 0, 0).color(0, 0, 0, 51).i32(children)


def write_records(out, records, with_end):
    """Each record, then its children; from 1.9 each body behind the offset of its end."""
    for writer, children in records:
        body = Stream()
        writer(body)
        if with_end:
            out.i64(out.pos() + 8 + len(body.data))
        out.raw(body.data)
        write_records(out, children, with_end)


def current_board(version, blocks, records, item_count=None, patch_entries=None):
    """1.6 to 1.11: image blocks, then typed records (with end offsets from 1.9), the saved
    directory and the index. records is a list of (writer, depth-first children); each writer
    takes the stream. patch_entries may rewrite the index entries before they are written."""
    with_end = version in ("1.9", "1.10", "1.11")
    out = Stream()
    out.string(version).i16(item_count if item_count is not None else len(records))
    out.i16(len(blocks))
    index_slot = out.pos()
    out.i64(0)
    if with_end:
        out.string("1.11.1")
    checksum_slot = None
    if version in ("1.10", "1.11"):
        checksum_slot = out.pos()
        out.string("0" * 32)
    checksum_start = out.pos()
    scene_block(out, True)
    entries = []
    for image_id, block in blocks:
        start = out.pos()
        out.raw(block)
        entries.append([image_id, start, out.pos()])

    write_records(out, records, with_end)
    out.string("/nowhere")
    index = out.pos()
    if patch_entries:
        patch_entries(entries, len(out.data))
    for image_id, start, end in entries:
        out.i32(image_id).i64(start).i64(end)
    out.patch_i64(index_slot, index)
    if checksum_slot is not None:
        digest = hashlib.md5(bytes(out.data[checksum_start:])).hexdigest()
        out.data[checksum_slot:checksum_start] = Stream().string(digest).data
    return bytes(out.data)


def ordinary_records(version):
    """A picture with a note attached, a picture sharing its pixels, a linked picture whose file
    is gone, and a free note."""
    return [
        (lambda s: typed_image(version, s, 0, "/nowhere/a.png", children=1),
         [(lambda s: typed_note(s, 4, "attached"), [])]),
        (lambda s: typed_image(version, s, 1), []),
        (lambda s: typed_image(version, s, 2, "/nowhere/linked.png"), []),
        (lambda s: typed_note(s, 3, "free"), []),
    ]


def ordinary_board(version):
    """The ordinary records with the blocks they need."""
    blocks = [(0, png(3, 2)), (1, struct.pack(">i", 0)), (2, struct.pack(">i", -1))]
    return current_board(version, blocks, ordinary_records(version))


def records_only(version):
    """The ordinary records alone, as fuzz_itemrecords reads them from the start of its input."""
    out = Stream()
    write_records(out, ordinary_records(version), version in ("1.9", "1.10", "1.11"))
    return bytes(out.data)


def damaged_board():
    """1.10 whose pictures are all lost for a different reason: two sharing each other's pixels,
    one claiming 50000 x 50000 pixels in a few bytes, one whose index entry ends past the file,
    and a note attached to a lost picture."""
    version = "1.10"
    records = [
        (lambda s: typed_image(version, s, 0), []),
        (lambda s: typed_image(version, s, 1), []),
        (lambda s: typed_image(version, s, 2, children=1),
         [(lambda s: typed_note(s, 5, "attached"), [])]),
        (lambda s: typed_image(version, s, 3), []),
        (lambda s: typed_note(s, 4, "kept"), []),
    ]
    # The reader finds the records after the last block: the broken entry comes first.
    blocks = [(3, png(3, 2)), (0, struct.pack(">i", 1)), (1, struct.pack(">i", 0)),
              (2, png(3, 2, declared=(50000, 50000)))]

    def past_the_end(entries, size):
        entries[0][2] = size + 1000
    return current_board(version, blocks, records, patch_entries=past_the_end)


def recovery_board():
    """1.10 whose first record has an unknown type: the normal load gives up, forced recovery
    scans for PNG streams and finds one whole, one cut short."""
    version = "1.10"
    records = [(lambda s: s.string("GraphicsNothing").i32(0), [])]
    whole = png(3, 2)
    blocks = [(0, whole), (1, png(4, 4, 9)[:40]), (2, whole)]
    return current_board(version, blocks, records)


def originals_board():
    """1.11: pictures kept as a JPEG and a WebP file beside a PNG one, and one sharing the
    JPEG's pixels."""
    version = "1.11"
    records = [(lambda s, i=i: typed_image(version, s, i), []) for i in range(4)]
    blocks = [(0, JPEG), (1, WEBP), (2, png(3, 2)), (3, struct.pack(">i", 0))]
    return current_board(version, blocks, records)


def originals_recovery_board():
    """1.11 whose record is broken: recovery finds the JPEG, the WebP, and a JPEG cut short."""
    version = "1.11"
    records = [(lambda s: s.string("GraphicsNothing").i32(0), [])]
    blocks = [(0, JPEG), (1, JPEG[:len(JPEG) // 2]), (2, WEBP)]
    return current_board(version, blocks, records)


def clipboard_records():
    """Three records as a copy puts them on the clipboard, behind the copy's own header."""
    version = "1.10"
    out = Stream()
    write_records(out, [
        (lambda s: typed_image(version, s, 0, children=1),
         [(lambda s: typed_note(s, 2, "attached"), [])]),
        (lambda s: typed_note(s, 1, "free"), []),
        (lambda s: typed_image(version, s, 3), []),
    ], True)
    return bytes(out.data)


def main():
    os.makedirs(SEEDS, exist_ok=True)
    seeds = {
        "v1.2.vlk": raw_board("1.2"),
        "v1.3.vlk": raw_board("1.3"),
        "v1.4.vlk": board_1_4(),
        "v1.4-unindexed.vlk": board_1_4(index_agrees=False),
        "v1.5.vlk": board_1_5(),
        "damaged-v1.5.vlk": damaged_board_1_5(),
        "header-only-v1.10.vlk": header_only(),
        "damaged-v1.10.vlk": damaged_board(),
        "recovery-v1.10.vlk": recovery_board(),
        "v1.11.vlk": originals_board(),
        "recovery-v1.11.vlk": originals_recovery_board(),
        "clipboard-records.bin": clipboard_records(),
    }
    for version in ("1.6", "1.7", "1.8", "1.9", "1.10"):
        seeds["v%s.vlk" % version] = ordinary_board(version)
    for name, data in sorted(seeds.items()):
        with open(os.path.join(SEEDS, name), "wb") as f:
            f.write(data)
        print("%-22s %6d bytes" % (name, len(data)))
    # The current version's records come from the writer: fuzz_itemrecords -make_corpus.
    os.makedirs(RECORD_SEEDS, exist_ok=True)
    for version in ("1.6", "1.7", "1.8", "1.9"):
        name = "records-v%s.bin" % version
        data = records_only(version)
        with open(os.path.join(RECORD_SEEDS, name), "wb") as f:
            f.write(data)
        print("%-22s %6d bytes" % ("record-seeds/" + name, len(data)))


if __name__ == "__main__":
    main()
