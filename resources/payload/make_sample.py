#!/usr/bin/env python3
"""Makes the sample payload files: deterministic stand-ins for the 91 product
files named in manifest.txt, so that the setup program can be built and
tested without the real ones.

    make_sample.py OUTDIR MANIFEST MFZPACK CC32 CC64

writes OUTDIR/<name> for every name of the manifest. The five skin archives
are packed with MFZPACK from eight small files each.

The input-method modules and the programs are real, minimal Windows programs
built from standins/ with the MinGW C compilers CC32 (i686) and CC64
(x86_64): each module is an IME that converts nothing, each program exits at
once, and both append a line to %WINDIR%\Temp\mofa-standin.log when Windows
loads or starts them (see standins/standin.h). They carry the UTF-16LE product
text with their version, and their own payload name.

Every other stand-in is distinguishable data: binary files start with an ASCII
stamp "stand-in <name>" and carry filler bytes drawn from a generator seeded by
the name.
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import zlib

PRODUCT_TEXT = '智能墨筏输入平台'

# The modules and programs: what each is built from, its bitness and the
# version it carries (the first modules and the companion are patched to 7.9
# by setup).
PROGRAMS = {
    'mofa320.ime': ('ime', 32, '6.3'),
    'mofa321.ime': ('ime', 32, '6.3'),
    'mofa640.ime': ('ime', 64, '6.3'),
    'mofa641.ime': ('ime', 64, '6.3'),
    'mofahu4.ime': ('ime', 32, '7.9'),
    'mofahu64.ime': ('ime', 64, '7.9'),
    'mofadel.exe': ('program', 32, '7.9'),
    'mfxdel64.exe': ('program', 64, '7.9'),
    'mofatyr6.exe': ('program', 32, '7.9'),
    'mofatyrk.exe': ('program', 32, '7.9'),
    'setupw64.exe': ('program', 64, '6.7'),
}
STANDINS = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'standins')
# As small as a program can be: no C runtime, no unwind tables, stripped, and
# no time stamp, so that the payload stays the same from build to build.
CFLAGS = ['-Os', '-s', '-nostdlib', '-mwindows', '-fno-asynchronous-unwind-tables', '-fno-ident',
          '-Wl,--no-insert-timestamp', '-Wall', '-Wextra', '-Wno-unused-parameter', '-Werror']

# The dictionary-like entry that fills most of the 2 MB work buffer.
BIG_TEXT = ('jfhzb.txt', 1833364)

SKINS = {
    # name: (plain variant?, base colour)
    '冷色瓷面.mfz': (True, (70, 110, 160)),
    '粉色瓷面.mfz': (True, (220, 150, 170)),
    '小天使.mfz': (True, (240, 210, 120)),
    '简短白.mfz': (False, (235, 235, 235)),
    'qxfc.mfz': (False, (90, 160, 120)),
}
SKIN_FILES = ['mfbmp8.mfh'] + ['mfbmpsx%d.bmp' % i for i in range(1, 8)]


def rng_for(name):
    return random.Random(zlib.crc32(name.encode('utf-8')))


def stamp(name, size=64):
    text = ('stand-in %s' % name).encode('utf-8')[:size - 1]
    return text + b'\0' * (size - len(text))


def filler(name, size):
    """Bytes from a small per-file alphabet: compressible about as well as
    program code, different for every file."""
    rng = rng_for(name)
    alphabet = bytes(rng.randrange(256) for _ in range(24))
    table = bytes(alphabet[i % len(alphabet)] for i in range(256))
    return rng.randbytes(size).translate(table)


def build_program(outdir, name, compilers):
    """Compiles the stand-in NAME into OUTDIR/NAME. It is linked under its own
    name in OUTDIR itself: the linker derives a module's export name and the
    64-bit image base from the output name, never from the build folder."""
    kind, bits, version = PROGRAMS[name]
    compiler = compilers[bits]
    args = [compiler] + CFLAGS + ['-DMOFA_VERSION=' + version.replace('.', ''), '-DMOFA_STANDIN_NAME=' + name]
    if kind == 'ime':
        # stdcall names undecorated, as the input-method manager looks them up.
        entry = '_DllEntry@12' if bits == 32 else 'DllEntry'
        args += ['-shared', '-Wl,--kill-at', '-Wl,-e,' + entry, os.path.join(STANDINS, 'ime.c'), '-luser32']
    else:
        entry = '_Start' if bits == 32 else 'Start'
        args += ['-Wl,-e,' + entry, os.path.join(STANDINS, 'program.c')]
    args += ['-lkernel32', '-o', name]
    subprocess.run(args, check=True, cwd=outdir)


def hanzi(rng):
    """One random GB2312 level-1 character, as GBK bytes."""
    return bytes((rng.randrange(0xB0, 0xD8), rng.randrange(0xA1, 0xFA)))


def word_list(name, words):
    """GBK words of 2-4 characters, each followed by "; "."""
    rng = rng_for(name)
    out = bytearray()
    for _ in range(words):
        for _ in range(rng.randrange(2, 5)):
            out += hanzi(rng)
        out += b'; '
    return bytes(out)


def dictionary_text(name, size):
    """Lines of a character, a space and a four-letter code, cut to size."""
    rng = rng_for(name)
    letters = b'abcdefghijklmnopqrstuvwxy'
    lines = []
    total = 0
    while total < size:
        line = hanzi(rng) + b' ' + bytes(rng.choice(letters) for _ in range(4)) + b'\r\n'
        lines.append(line)
        total += len(line)
    data = b''.join(lines)[:size]
    return data


def small_text(name):
    rng = rng_for(name)
    lines = [('; %s\r\n' % name).encode('ascii')]
    for _ in range(rng.randrange(8, 40)):
        lines.append(hanzi(rng) + hanzi(rng) + b'\r\n')
    return b''.join(lines)


def bmp(width, height, pixel):
    """A 24-bit bottom-up BMP; pixel(x, y) gives (r, g, b) with y from the top."""
    row_size = (width * 3 + 3) & ~3
    pad = b'\0' * (row_size - width * 3)
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        rows.append(bytes(row) + pad)
    image = b''.join(rows)
    header = struct.pack('<2sIHHI', b'BM', 54 + len(image), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(image), 2835, 2835, 0, 0)
    return header + info + image


def clamp(v):
    return max(0, min(255, int(v)))


def splash_pixel(x, y):
    """Ink blue with a pale title area across rows 70-135 (the wizard writes
    its version mark there in dark blue, and white texts lower down on the
    ink), a soft wash of ink at the top right and a thin frame. The wizard
    shows the top 400 x 190 pixels."""
    if x in (0, 400) or y in (0, 309):
        return (150, 170, 210)
    t = y / 310.0
    r, g, b = 18 - 10 * t, 42 - 20 * t, 96 - 40 * t
    dx, dy = (x - 330) / 120.0, (y - 20) / 60.0
    wash = max(0.0, 1.0 - (dx * dx + dy * dy))
    r, g, b = r + 40 * wash, g + 60 * wash, b + 90 * wash
    if 70 <= y <= 135:
        # The title area: pale, fading into the ink at its edges.
        edge = min(y - 70, 135 - y) / 12.0
        light = min(1.0, edge)
        r = r + (205 - r) * light
        g = g + (220 - g) * light
        b = b + (242 - b) * light
        if y in (72, 133):
            r, g, b = 60, 90, 150
    return (clamp(r), clamp(g), clamp(b))


def small_bmp(name, width=24, height=16, base=None):
    rng = rng_for(name)
    base = base or (rng.randrange(256), rng.randrange(256), rng.randrange(256))
    step = rng.randrange(1, 6)
    return bmp(width, height, lambda x, y: (clamp(base[0] + x * step), clamp(base[1] + y * step), base[2]))


def wav(name):
    """A short 8 kHz 8-bit mono tone with the name stamp in a chunk of its own."""
    rng = rng_for(name)
    period = rng.randrange(8, 40)
    samples = bytes(128 + (40 if (i // period) % 2 else -40) for i in range(800))
    fmt = struct.pack('<4sIHHIIHH', b'fmt ', 16, 1, 1, 8000, 8000, 1, 8)
    data = struct.pack('<4sI', b'data', len(samples)) + samples
    # Players skip unknown chunks: the name stamp keeps every sound distinct.
    note = struct.pack('<4sI', b'note', 64) + stamp(name)
    body = fmt + note + data
    return struct.pack('<4sI4s', b'RIFF', 4 + len(body), b'WAVE') + body


def config_record():
    """The input method's 200-byte configuration record with its defaults."""
    record = bytearray(200)
    record[0x08] = 0x36
    for offset in (0x09, 0x0A, 0x0C, 0x0F, 0x13, 0x16, 0x18, 0x24, 0x29, 0x2B, 0x36, 0x3A):
        record[offset] = 1
    return bytes(record)


def blob(name):
    rng = rng_for(name)
    return stamp(name) + filler(name, rng.randrange(64, 2048))


def skin_part(skin, part, colour):
    if part.endswith('.mfh'):
        return stamp(skin + ' ' + part) + bytes(colour) * 8
    index = int(part[len('mfbmpsx'):-len('.bmp')])
    shade = tuple(clamp(c - 12 * index) for c in colour)
    return small_bmp(skin + part, 40 + 4 * index, 24, shade)


def contents(name):
    if name == BIG_TEXT[0]:
        return dictionary_text(name, BIG_TEXT[1])
    if name == 'mofacyzk.bak':
        return word_list(name, 1500)
    if name == 'mofapyck.bak':
        return word_list(name, 2500)
    if name == 'mfszsj43.mfh':
        return config_record()
    if name == 'tyrk1.bmp':
        return bmp(401, 310, splash_pixel)
    lower = name.lower()
    if lower.endswith('.txt'):
        return small_text(name)
    if lower.endswith('.bmp'):
        return small_bmp(name)
    if lower.endswith('.wav'):
        return wav(name)
    return blob(name)


def pack_skin(mfzpack, outdir, name, plain, colour):
    parts = os.path.join(outdir, '.skin-parts', name)
    os.makedirs(parts, exist_ok=True)
    paths = []
    for part in SKIN_FILES:
        path = os.path.join(parts, part)
        with open(path, 'wb') as f:
            f.write(skin_part(name, part, colour))
        paths.append(path)
    args = [mfzpack, 'create'] + (['--plain'] if plain else []) + [os.path.join(outdir, name)] + paths
    subprocess.run(args, check=True)


def main(outdir, manifest, mfzpack, cc32, cc64):
    with open(manifest, encoding='utf-8') as f:
        names = [line.strip() for line in f if line.strip() and not line.startswith('#')]
    os.makedirs(outdir, exist_ok=True)
    for name in names:
        if name in SKINS:
            plain, colour = SKINS[name]
            pack_skin(mfzpack, outdir, name, plain, colour)
            continue
        if name in PROGRAMS:
            build_program(outdir, name, {32: cc32, 64: cc64})
            continue
        with open(os.path.join(outdir, name), 'wb') as f:
            f.write(contents(name))
    shutil.rmtree(os.path.join(outdir, '.skin-parts'), ignore_errors=True)
    return 0


if __name__ == '__main__':
    if len(sys.argv) != 6:
        sys.exit('usage: make_sample.py OUTDIR MANIFEST MFZPACK CC32 CC64')
    sys.exit(main(*sys.argv[1:]))
