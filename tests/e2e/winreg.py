"""Reads the registry files of a wine prefix (system.reg, user.reg) for the
end-to-end checks. Stop the prefix's wineserver first so they are written."""
import os
import re

HIVES = {'HKLM': 'system.reg', 'HKCU': 'user.reg', 'HKU': 'userdef.reg'}


def _unescape(text):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c != '\\':
            out.append(c)
            i += 1
            continue
        n = text[i + 1]
        if n == 'x':
            m = re.match(r'[0-9a-fA-F]{1,4}', text[i + 2:])
            out.append(chr(int(m.group(0), 16)))
            i += 2 + len(m.group(0))
        else:
            out.append({'n': '\n', 'r': '\r', 't': '\t', '0': '\0'}.get(n, n))
            i += 2
    return ''.join(out)


def _hex_bytes(text):
    text = text.replace('\\\n', '').replace(' ', '').replace('\n', '')
    return bytes(int(b, 16) for b in text.split(',') if b)


def read_hive(prefix, hive):
    """{key path (lower case, single backslashes): {value name (lower case): (type, data)}}.
    REG_SZ data is a str; hex data bytes; dwords ints."""
    path = os.path.join(prefix, HIVES[hive])
    keys = {}
    current = None
    text = open(path, encoding='utf-8', errors='replace').read().replace('\\\n  ', '')
    for line in text.split('\n'):
        if line.startswith('['):
            name = line[1:line.index(']')]
            current = keys.setdefault(_unescape(name).lower(), {})
            continue
        if current is None or '=' not in line or line.startswith('#'):
            continue
        m = re.match(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
        if not m:
            continue
        name = '' if m.group(1) == '@' else _unescape(m.group(1)[1:-1])
        value = m.group(2)
        if value.startswith('"'):
            current[name.lower()] = ('REG_SZ', _unescape(value[1:-1]))
        elif value.startswith('dword:'):
            current[name.lower()] = ('REG_DWORD', int(value[6:], 16))
        elif value.startswith('hex(1):'):
            data = _hex_bytes(value[7:])
            current[name.lower()] = ('REG_SZ', data.decode('utf-16-le').rstrip('\0'))
        elif value.startswith('str(2):'):
            current[name.lower()] = ('REG_EXPAND_SZ', _unescape(value[8:-1]))
        elif value.startswith('str(7):'):
            # REG_MULTI_SZ: the strings, each ended by its NUL.
            current[name.lower()] = ('REG_MULTI_SZ', _unescape(value[8:-1]))
        else:
            m2 = re.match(r'hex(?:\(([0-9a-f]+)\))?:(.*)', value)
            if m2:
                current[name.lower()] = ('hex(%s)' % (m2.group(1) or '3'), _hex_bytes(m2.group(2)))
    return keys


def value(prefix, hive, key, name):
    """(type, data) of a value, or None."""
    return read_hive(prefix, hive).get(key.lower(), {}).get(name.lower())
