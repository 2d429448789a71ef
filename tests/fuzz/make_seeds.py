#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/.

The seeds are the small built-in files, a shortened copy of shake.wav and
files like the unit tests' fixtures (every PNG colour type and depth the
decoder expands, tRNS, interlacing, 8- and 32-bit BMP, long BMP headers,
mono and stereo WAV with 8 and 16 bits, a long "fmt " chunk, a "LIST" chunk,
a non-PCM WAV), each followed by the control bytes its target reads from
the end of the input. Run it again after changing either.
"""
import os
import shutil
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
FILES = os.path.join(HERE, '..', '..', 'assets', 'files')
CORPUS = os.path.join(HERE, 'corpus')


# --- control bytes, as FuzzedDataProvider reads them from the end ----------
def tail(values):
    """values: (size in bytes, value) in the order the target consumes them.
    Each value is read from the end, little-endian in the buffer, so the
    first one consumed is last."""
    out = b''
    for size, value in values:
        out = (value & ((1 << (8 * size)) - 1)).to_bytes(size, 'little') + out
    return out


def image_tail(x1, y1, x2, y2, fix_crcs):
    def coord(v):  # whole pixels -2048 ... 2047, no fraction, not raw bits
        return [(4, v + 2048), (1, 0)]
    return tail(coord(x1) + coord(y1) + coord(x2) + coord(y2) + [(1, 1 if fix_crcs else 0)])


def sound_tail(rate_index, frames_per_buffer, second_after):
    return tail([(1, rate_index), (2, frames_per_buffer - 1), (2, second_after)])


# --- PNG ------------------------------------------------------------------
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))


def png(width, height, depth, colour, rows, extra=b'', interlace=0):
    """rows: raw rows as stored (without filter bytes) or, interlaced, the
    whole filtered stream."""
    head = chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, depth, colour, 0, 0, interlace))
    data = rows if interlace else b''.join(b'\0' + r for r in rows)
    return b'\x89PNG\r\n\x1a\n' + head + extra + chunk(b'IDAT', zlib.compress(data)) + chunk(b'IEND', b'')


def pngs():
    yield 'grey8', png(2, 2, 8, 0, [b'\x00\x0a', b'\xc8\xff'])
    yield 'grey2', png(4, 1, 2, 0, [b'\x1b'])
    yield 'rgb8', png(2, 1, 8, 2, [b'\x00\x00\x01\xed\x1c\x24'])
    yield 'rgb16', png(1, 1, 16, 2, [b'\xab\x00\x12\x80\xff\xff'])
    yield 'rgba8', png(2, 1, 8, 6, [b'\x00\x00\x00\xff\x0a\x14\x1e\x00'])
    yield 'greyalpha8', png(1, 1, 8, 4, [b'\x80\x40'])
    yield 'palette4-trns', png(3, 1, 4, 3, [b'\x01\x10'],
                               chunk(b'PLTE', b'\x09\x08\x07\x06\x05\x04') + chunk(b'tRNS', b'\x00'))
    yield 'rgb8-trns-gama', png(2, 1, 8, 2, [b'\x00\x00\x01\x05\x05\x05'],
                                chunk(b'gAMA', struct.pack('>I', 45455)) + chunk(b'tRNS', b'\x00\x00\x00\x00\x00\x01'))
    # 3 x 3 interlaced RGB: the seven Adam7 passes, each row with filter 0.
    passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
    stream = b''
    for x0, y0, dx, dy in passes:
        for y in range(y0, 3, dy):
            cols = list(range(x0, 3, dx))
            if cols:
                stream += b'\0' + b''.join(bytes((x * 80, y * 80, x + y)) for x in cols)
    yield 'rgb8-interlaced', png(3, 3, 8, 2, stream, interlace=1)


# --- BMP ------------------------------------------------------------------
def bmp(width, height, bits, palette, rows, header_size=40, colours_used=0):
    info = struct.pack('<IiiHHIIiiII', header_size, width, height, 1, bits, 0, len(rows), 3780, 3780,
                       colours_used, 0) + b'\0' * (header_size - 40)
    offset = 14 + len(info) + len(palette)
    return b'BM' + struct.pack('<IHHI', offset + len(rows), 0, 0, offset) + info + palette + rows


def bmps():
    four = b'\x00\x00\x00\x00\x10\x20\x30\x00\xff\xff\xff\x00\x00\x00\xff\x00'
    yield 'bmp8-bottom-up', bmp(3, 2, 8, four, b'\x01\x02\x03\x00\x00\x01\x02\x00', colours_used=4)
    yield 'bmp8-top-down', bmp(3, -2, 8, four, b'\x01\x02\x03\x00\x00\x01\x02\x00', colours_used=4)
    yield 'bmp8-long-header', bmp(2, 1, 8, four[:8], b'\x01\x00\x00\x00', header_size=52, colours_used=2)
    yield 'bmp32', bmp(2, 2, 32, b'', bytes(range(1, 17)))


# --- WAV ------------------------------------------------------------------
def wav(fmt_tag, channels, bits, rate, data, fmt_extra=b'', before_data=b''):
    frame = channels * bits // 8
    fmt = struct.pack('<HHIIHH', fmt_tag, channels, rate, rate * frame, frame, bits) + fmt_extra
    body = b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt + before_data + b'data' + \
        struct.pack('<I', len(data)) + data
    return b'RIFF' + struct.pack('<I', len(body)) + body


def wavs():
    shake = open(os.path.join(FILES, 'shake.wav'), 'rb').read()
    yield 'shake-start', wav(1, 1, 16, 11025, shake[44:44 + 512])
    yield 'mono8', wav(1, 1, 8, 8000, bytes(range(0, 256, 8)))
    yield 'stereo8', wav(1, 2, 8, 22050, bytes(range(0, 64)))
    yield 'stereo16-fmt18', wav(1, 2, 16, 44100, bytes(range(0, 64)), fmt_extra=b'\0\0')
    yield 'mono16-list', wav(1, 1, 16, 48000, bytes(range(0, 32)), before_data=b'LIST\x04\x00\x00\x00INFO')
    yield 'float32', wav(3, 1, 32, 11025, bytes(16))


def write(target, name, content):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(content)


def main():
    shutil.rmtree(CORPUS, ignore_errors=True)
    positions = [(400, 300, 798, -1), (-1, 599, 0, 0)]
    for i, name in enumerate(['pen.png', 'pixel.bmp']):
        content = open(os.path.join(FILES, name), 'rb').read()
        write('image', name, content + image_tail(*positions[i % 2], fix_crcs=False))
    for i, (name, content) in enumerate(list(pngs()) + list(bmps())):
        write('image', name, content + image_tail(*positions[i % 2], fix_crcs=i % 3 == 0))
    for i, (name, content) in enumerate(wavs()):
        write('sound', name, content + sound_tail(i, 256 + 100 * i, 300 * i))
    return 0


if __name__ == '__main__':
    sys.exit(main())
