#!/usr/bin/env python3
"""Checks, file by file and value by value, what a silent install left in a
wine prefix (whose wineserver has ended, so that its registry files are written).

    check_install.py PREFIX PAYLOAD SCENARIO [LOG]

SCENARIO: win7-64, win7-32 or winxp; win7-wow64 for the real 32-bit product
on 64-bit Windows 7, whose values under HKLM\Software land in the 32-bit view
(Software\Wow6432Node). With LOG (the run's install log), also
checks that the log names every payload file written and every registry
value written, each of which the registry holds. Prints one line per failed
check and exits 1 when any failed."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from payload import read_archive  # noqa: E402
from winreg import read_hive, value  # noqa: E402

FIRST_MODULES = ('mofa320.ime', 'mofa321.ime', 'mofa640.ime', 'mofa641.ime')
PRODUCT_TEXT = '智能墨筏输入平台'.encode('utf-16-le')
SETTINGS_TEXT = (b'MFNETURL1=\r\nMFNETURL2=\r\nMFNETTIME=1\r\nMFBJTIME=7\r\nMFWYTIME=3\r\nMFSJOFF=0\r\n'
                 b'MFNETTIME0=0\r\nMFBJTIME0=0\r\nMFNEONE=1\r\n')


def check_log(log_path, payload, prefix, check, view):
    """Every payload entry verified and written; every registry value the log
    says was written is in the registry; the values setup writes are logged."""
    import re
    lines = open(log_path, encoding='utf-8').read().splitlines()
    install = 'C:\\Program Files\\mofahu\\'
    written = set()
    for line in lines:
        m = re.search(r'entry (.+): \d+ bytes, digest verified$', line)
        if m:
            written.add(('entry', m.group(1)))
        m = re.search(r'file written: (.+) \(\d+ bytes\)$', line)
        if m:
            written.add(('file', m.group(1)))
    for name in payload:
        check(('entry', name) in written, 'the log does not say that %s was verified' % name)
        check(('file', install + name) in written, 'the log does not say that %s was written' % name)
    logged = set()
    for line in lines:
        m = re.search(r'registry value written: (HKLM|HKCU|HKU)\\(.+)\\([^\\]+) \((REG_\w+), (\d+) bytes\)$', line)
        if not m:
            continue
        hive, key, name, kind = m.group(1), m.group(2), m.group(3), m.group(4)
        logged.add((key.lower(), name.lower()))
        if hive == 'HKLM':
            key = view(key)
        elif hive == 'HKU' and key.lower().startswith('.default\\'):
            key = key[len('.default\\'):]  # the prefix's userdef.reg is .DEFAULT
        have = value(prefix, hive, key, name)
        check(have is not None and have[0] == kind, 'logged %s\\%s\\%s (%s) is %r in the registry' % (hive, key, name, kind, have))
    uninstall = 'software\\microsoft\\windows\\currentversion\\uninstall\\mofaxwb'
    for key, name in [('software\\microsoft\\windows\\currentversion\\run', 'mfmxsjgl'),
                      ('software\\microsoft\\windows\\currentversion\\internet settings\\user agent\\post platform',
                       'tyrk7900')] + [(uninstall, n.lower()) for n in UNINSTALL_VALUES]:
        check((key, name) in logged, 'the log does not name the value %s\\%s' % (key, name))
    check(any(l.endswith('exit code 0') for l in lines), 'the log does not end the run with exit code 0')


UNINSTALL_VALUES = ('DisplayName', 'UninstallString', 'DisplayVersion', 'Publisher', 'DisplayIcon', 'InstallLocation',
                    'EstimatedSize', 'URLInfoAbout', 'NoModify', 'NoRepair')


def main(prefix, payload_path, scenario, log_path=None):
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)

    drive = os.path.join(prefix, 'drive_c')
    install = os.path.join(drive, 'Program Files', 'mofahu')
    system = os.path.join(drive, 'windows', 'system32')
    syswow64 = os.path.join(drive, 'windows', 'syswow64')

    def read(path):
        try:
            return open(path, 'rb').read()
        except OSError:
            return None

    payload = dict(read_archive(payload_path))
    vista = scenario != 'winxp'
    wow64 = scenario == 'win7-wow64'

    def view(key):
        """Where a key of HKLM the program names lies for it."""
        if wow64 and key.lower().startswith('software\\'):
            return 'Software\\Wow6432Node\\' + key[len('Software\\'):]
        return key
    for name, data in payload.items():
        path = os.path.join(install, name)
        have = read(path)
        if name in FIRST_MODULES:
            check(have is None, '%s still in the install directory after pass 1' % name)
        elif name == 'mofatyr6.exe':
            if vista:
                check(have is None, 'mofatyr6.exe not renamed to mofatyrk.exe')
            else:
                check(have == data, 'mofatyr6.exe differs from the payload')
        elif name == 'mofatyrk.exe':
            want = payload['mofatyr6.exe'] if vista else data
            check(have == want, 'mofatyrk.exe is not the payload\'s %s' % ('mofatyr6.exe' if vista else 'own'))
        elif name == 'setupw64.exe':
            patched = data.replace(PRODUCT_TEXT + '  6.7'.encode('utf-16-le'), PRODUCT_TEXT + '  7.9'.encode('utf-16-le'))
            check(patched != data, 'the payload\'s setupw64.exe carries no 6.7 to patch')
            check(have == patched, 'setupw64.exe does not carry 7.9 in place of 6.7')
        elif name == 'mofacyzk.bak':
            sealed = have is not None and (have == data or (have[:len(data)] == data and have[-12:-8] == b'MOFA'))
            check(sealed, 'mofacyzk.bak is not the payload\'s phrase file, sealed')
        else:
            check(have == data, '%s differs from the payload or is missing' % name)

    check(read(os.path.join(install, 'mofahu32.ime')) == payload['mofahu4.ime'], 'mofahu32.ime is not mofahu4.ime')
    check(read(os.path.join(install, 'mofacyzk.dat')) == read(os.path.join(install, 'mofacyzk.bak')),
          'mofacyzk.dat is not a copy of mofacyzk.bak')
    check(read(os.path.join(install, 'mofapyck.dat')) == payload['mofapyck.bak'], 'mofapyck.dat is not mofapyck.bak')
    check(os.path.isdir(os.path.join(install, 'filer')), 'no filer sub-folder')

    if scenario in ('win7-64', 'win7-wow64'):
        check(read(os.path.join(system, 'mofahu4.ime')) == payload['mofahu64.ime'],
              'the native system directory\'s mofahu4.ime is not mofahu64.ime')
        check(read(os.path.join(system, 'mofadel.exe')) == payload['mfxdel64.exe'],
              'the native system directory\'s mofadel.exe is not mfxdel64.exe')
        check(read(os.path.join(syswow64, 'mofahu4.ime')) == payload['mofahu4.ime'],
              'SysWOW64\'s mofahu4.ime is not the payload\'s mofahu4.ime')
    else:
        check(read(os.path.join(system, 'mofahu4.ime')) == payload['mofahu4.ime'],
              'the system directory\'s mofahu4.ime is not the payload\'s mofahu4.ime')
        check(read(os.path.join(system, 'mofadel.exe')) == payload['mofadel.exe'],
              'the system directory\'s mofadel.exe is not the payload\'s mofadel.exe')

    recorded = b'C:\\Program Files\\mofahu\\'
    check(read(os.path.join(drive, 'windows', 'mofapath.mfh')) == recorded,
          'the Windows directory\'s path file does not hold the install directory')
    second = read(os.path.join(drive, 'mofahu', 'mofapath.mfh'))
    if vista:
        check(second == recorded, 'the fixed drive\'s path file does not hold the install directory')
    else:
        check(second is None, 'a second path file was written before Windows Vista')

    check(read(os.path.join(install, 'wbpybz.mfh')) == b'MFWBPYBZ=0\0', 'wbpybz.mfh is not the edition marker')
    # A silent run writes the block once, before its first text is built.
    check(read(os.path.join(install, 'mofadat.dat')) == bytes(1000), 'mofadat.dat is not the empty block')
    check(read(os.path.join(install, 'mfnetsj.dat')) == SETTINGS_TEXT, 'mfnetsj.dat differs')

    # Registry values (the prefix's server must have ended).
    run = 'Software\\Microsoft\\Windows\\CurrentVersion\\Run'
    post = 'Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\User Agent\\Post Platform'
    autostart = value(prefix, 'HKLM', view(run), 'mfmxsjgl')
    # The program by its quoted full path, the word after it as it was.
    check(autostart == ('REG_SZ', '"C:\\Program Files\\mofahu\\mofatyrk.exe" mf'), 'autostart value is %r' % (autostart,))
    token = value(prefix, 'HKLM', view(post), 'tyrk7900')
    check(token == ('REG_SZ', ''), 'tyrk7900 is %r, not an empty string' % (token,))
    for old in ['tyrk6%d00' % d for d in range(3, 9)] + ['tyrk7%d00' % d for d in range(0, 9)]:
        check(value(prefix, 'HKLM', view(post), old) is None, 'earlier token %s was not removed' % old)
    check(value(prefix, 'HKLM', view(post), 'tyrk6200') == ('REG_SZ', 'old'), 'a token that is not ours was removed')

    # The uninstall entry, as the list of installed programs shows it.
    key = 'Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\mofaxwb'
    system_dir = 'C:\\windows\\system32'
    want = {'DisplayName': ('REG_SZ', '墨筏五笔'), 'UninstallString': ('REG_SZ', system_dir + '\\mofadel.exe'),
            'DisplayVersion': ('REG_SZ', '7.9'), 'DisplayIcon': ('REG_SZ', 'C:\\Program Files\\mofahu\\mofatyrk.exe'),
            'InstallLocation': ('REG_SZ', 'C:\\Program Files\\mofahu\\'), 'URLInfoAbout': ('REG_SZ', 'www.example.com'),
            'NoModify': ('REG_DWORD', 1), 'NoRepair': ('REG_DWORD', 1)}
    for name, expected in want.items():
        have = value(prefix, 'HKLM', view(key), name)
        check(have == expected, 'uninstall %s is %r, not %r' % (name, have, expected))
    # The publisher as written, not through the system's code page: no "?"
    # and none of the Latin-1 letters that GBK bytes read as under 1252.
    publisher = value(prefix, 'HKLM', view(key), 'Publisher')
    check(publisher is not None and publisher[0] == 'REG_SZ' and publisher[1] != '' and '?' not in publisher[1]
          and not any(0x80 <= ord(c) < 0x100 for c in publisher[1]), 'uninstall Publisher is %r' % (publisher,))
    # Measured once the folder holds what stays: its files' KB, rounded up.
    size = value(prefix, 'HKLM', view(key), 'EstimatedSize')
    files = sum(os.path.getsize(os.path.join(install, n)) for n in os.listdir(install)
                if os.path.isfile(os.path.join(install, n)))
    check(size == ('REG_DWORD', (files + 1023) // 1024),
          'uninstall EstimatedSize is %r for %d bytes of files' % (size, files))

    if wow64:
        # Nothing of the program's in the 64-bit view.
        check(value(prefix, 'HKLM', key, 'DisplayName') is None, 'an uninstall entry in the 64-bit registry view')
        check(value(prefix, 'HKLM', run, 'mfmxsjgl') is None, 'an autostart value in the 64-bit registry view')

    # The layout, registered once, names the module by its name in system32:
    # on 64-bit Windows that name gives 64-bit programs the 64-bit module and
    # 32-bit programs (redirected to SysWOW64) the 32-bit one.
    layouts = [(k, v) for k, v in read_hive(prefix, 'HKLM').items()
               if k.startswith('system\\currentcontrolset\\control\\keyboard layouts\\')
               and v.get('layout text', (None, ''))[1] == '智能墨筏输入平台  7.9']
    check(len(layouts) == 1, '%d layouts of this version are registered' % len(layouts))
    for k, v in layouts:
        ime = v.get('ime file', (None, ''))[1].lower()
        check(ime in ('mofahu4.ime', 'c:\\windows\\system32\\mofahu4.ime'), 'layout %s names %r' % (k, ime))

    # The sign-in entry runs, in each account that signs in, the copy of
    # setup in the system directory of its bitness (only administrators write
    # there), naming the layout registered above.
    entry = view('Software\\Microsoft\\Active Setup\\Installed Components\\{F3951D3A-9E0F-4286-B337-2F0115AACDC9}')
    program_dir = 'C:\\windows\\syswow64' if scenario in ('win7-64', 'win7-wow64') else 'C:\\windows\\system32'
    klid = layouts[0][0].rsplit('\\', 1)[1].upper() if len(layouts) == 1 else '?'
    want = {'': ('REG_SZ', '智能墨筏输入平台'), 'Version': ('REG_SZ', '7,9,0,0'), 'IsInstalled': ('REG_DWORD', 1),
            'StubPath': ('REG_SZ', '"%s\\mofauser.exe" /SIGNIN=%s' % (program_dir, klid))}
    for name, expected in want.items():
        have = value(prefix, 'HKLM', entry, name)
        check(have == expected, 'sign-in entry %s is %r, not %r' % (name or '(default)', have, expected))
    program = read(os.path.join(drive, 'windows', program_dir.rsplit('\\', 1)[1], 'mofauser.exe'))
    check(program is not None and program[:2] == b'MZ', 'no sign-in program in %s' % program_dir)

    if log_path is not None:
        check_log(log_path, payload, prefix, check, view)

    for f in failures:
        print('FAIL:', f)
    if not failures:
        print('install checked: %d payload files and the system directories (%s)' % (len(payload), scenario))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:5]))
