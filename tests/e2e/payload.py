"""Reads a payload archive (either variant) for the end-to-end checks, written
independently of the program's own reader: a second reading of the format."""
import struct
import zlib


def read_archive(path):
    """Returns [(name, data)] in archive order; names decoded from GBK."""
    image = open(path, 'rb').read()
    digest = image[1:2] == b'0'
    header = 56 if digest else 20
    name_size = 16 if digest else 14
    count = struct.unpack_from('<I', image, 6)[0]
    pos = 10
    entries = []
    for _ in range(count):
        assert image[pos:pos + 2] == b'CF', 'entry marker missing at %d' % pos
        name = image[pos + 2:pos + 2 + name_size].split(b'\0')[0].decode('gbk')
        length = struct.unpack_from('<I', image, pos + header - 4)[0]
        data = zlib.decompress(image[pos + header:pos + header + length])
        entries.append((name, data))
        pos += header + length
    return entries


def write_archive(path, entries):
    """Writes a digest-variant archive of [(name, data)], as setup's writer does."""
    import hashlib
    body = b''
    for name, data in entries:
        packed = zlib.compress(data, 9)
        field = name.encode('gbk').ljust(16, b'\0')
        digest = hashlib.md5(data).hexdigest().upper().encode().ljust(34, b'\0')
        body += b'CF' + field + digest + struct.pack('<I', len(packed)) + packed
    with open(path, 'wb') as out:
        out.write(b'C0' + struct.pack('<II', 10 + len(body), len(entries)) + body)


def damage_entry(program_path, payload_path, name, out_path):
    """Copies the program with one byte in the middle of the payload entry
    called name changed, as a damaged download would have it."""
    program = bytearray(open(program_path, 'rb').read())
    payload = open(payload_path, 'rb').read()
    start = program.find(payload)
    assert start >= 0, 'the payload is not in the program'
    pos = 10
    for _ in range(struct.unpack_from('<I', payload, 6)[0]):
        entry_name = payload[pos + 2:pos + 18].split(b'\0')[0].decode('gbk')
        length = struct.unpack_from('<I', payload, pos + 52)[0]
        if entry_name == name:
            program[start + pos + 56 + length // 2] ^= 0x55
            open(out_path, 'wb').write(bytes(program))
            return
        pos += 56 + length
    raise KeyError(name)
