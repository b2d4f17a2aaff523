#!/usr/bin/env python3
"""The journal's records in the layouts they have had, for the fuzzer's seeds
and the tests' journals of earlier versions.

  journal_layouts.py convert OLD64 NEW [--earlier32]

reads a journal file the 64-bit build wrote before the records had one layout
(its structs as they lay in memory: 648-byte entries, 736-byte values) and
writes it in the layout of base/journal_records.h (624-byte entries, 728-byte
values) with the mark of this version, or, with --earlier32, as the 32-bit
program wrote it before the mark: its structs as they lay, the pointers'
slots holding what a 32-bit program's pointers hold. A file that starts with
the fuzzer's reader byte keeps it (--seed).
"""
import struct
import sys

MARK = 0x314A464D


def checksum(record):
    s = 0x6d6f6661
    for b in record[:-4]:
        s = ((s << 5) | (s >> 27)) & 0xffffffff
        s ^= b
    return s


def read_old64(image):
    """The records of a journal in the old 64-bit layout, as dicts."""
    records, pos = [], 0
    while pos + 4 <= len(image):
        (length,) = struct.unpack_from('<I', image, pos)
        if length < 4 + 648 + 4 or pos + length > len(image):
            break
        rec = image[pos:pos + length]
        if struct.unpack_from('<I', rec, length - 4)[0] != checksum(rec):
            break
        e = rec[4:4 + 648]
        kind, = struct.unpack_from('<i', e, 0)
        root, values, count = struct.unpack_from('<QQi', e, 608)
        security, parts = struct.unpack_from('<QI', e, 632)
        at, vals = 4 + 648, []
        for _ in range(count):
            v = rec[at:at + 736]
            sub, name, marker, present = v[0:200], v[200:712], v[712], v[713]
            vtype, size = struct.unpack_from('<II', v, 716)
            at += 736
            data = rec[at:at + size] if present else b''
            at += len(data)
            vals.append(dict(sub=sub, name=name, marker=marker, present=present, type=vtype, size=size, data=data))
        sd = rec[at:length - 4]
        records.append(dict(kind=kind, path=e[4:304], other=e[304:604], root=root & 0xffffffff, values=vals,
                            security=security != 0, sd=sd, parts=parts))
        pos += length
    return records, image[pos:]


def write(records, earlier32):
    out = b''
    for n, r in enumerate(records):
        # An earlier 32-bit program's pointers: heap addresses, never zero
        # where the entry had values or a descriptor.
        values_slot = (0x00A51000 + 0x40 * n) if (earlier32 and r['values']) else (0 if earlier32 else MARK)
        security_slot = (0x00A61000 + 0x40 * n) if r['security'] else 0
        if not earlier32:
            security_slot = 1 if r['security'] else 0
        body = struct.pack('<i', r['kind']) + r['path'] + r['other'] + struct.pack(
            '<IIiII', r['root'], values_slot, len(r['values']), security_slot, r['parts'])
        assert len(body) == 624
        for k, v in enumerate(r['values']):
            data_slot = (0x00A71000 + 0x10 * k) if (earlier32 and v['present']) else 0
            body += v['sub'] + v['name'] + bytes([v['marker'], v['present'], 0, 0]) + struct.pack(
                '<III', v['type'], v['size'], data_slot) + v['data']
        body += r['sd']
        length = 4 + len(body) + 4
        rec = struct.pack('<I', length) + body + b'\0\0\0\0'
        out += rec[:-4] + struct.pack('<I', checksum(rec))
    return out


def main():
    args = sys.argv[1:]
    if len(args) < 3 or args[0] != 'convert':
        sys.exit(__doc__)
    old = open(args[1], 'rb').read()
    seed = '--seed' in args
    head, body = (old[:1], old[1:]) if seed else (b'', old)
    records, rest = read_old64(body)
    open(args[2], 'wb').write(head + write(records, '--earlier32' in args) + rest)
    print('%s: %d records%s' % (args[2], len(records), ', %d bytes after them kept' % len(rest) if rest else ''))


if __name__ == '__main__':
    main()
