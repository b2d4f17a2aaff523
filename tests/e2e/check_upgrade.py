#!/usr/bin/env python3
"""Checks a silent upgrade over an earlier version (see preload_upgrade.e2e.sh).

    check_upgrade.py PREFIX PAYLOAD SCENARIO    (winxp or win7-64)"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from payload import read_archive  # noqa: E402
from winreg import read_hive, value  # noqa: E402


def main(prefix, payload_path, scenario):
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)

    payload = dict(read_archive(payload_path))
    windows = os.path.join(prefix, 'drive_c', 'windows')
    earlier = open(os.path.join(windows, 'system32', 'version.dll'), 'rb').read()

    def read(*parts):
        try:
            return open(os.path.join(windows, *parts), 'rb').read()
        except OSError:
            return None

    def preload(hive, key):
        values = read_hive(prefix, hive).get(key, {})
        return [values.get(str(k), (None, None))[1] for k in range(1, 6)]

    if scenario == 'winxp':
        check(read('system32', 'mofahu2.ime') == earlier, 'the held module was not moved aside to mofahu2.ime')
        check(read('system32', 'mofahu4.ime') == payload['mofahu4.ime'], 'the new module is not in place')
        # Wine itself puts its own input method at place 1 under a Chinese
        # locale when a program starts, so A is whatever stands there.
        user = preload('HKCU', 'keyboard layout\\preload')
        check(user[1:] == ['e0200804', '00000804', '00000411', None] and user[0] not in (None, 'e0200804'),
              'user preload list is %r, not A,P,B,C' % (user,))
        default = preload('HKU', 'keyboard layout\\preload')
        check(default == ['00000401', 'e0200804', '00000804', '00000411', None],
              '.DEFAULT preload list is %r, not 1 kept and P,B,C at 2 to 4' % (default,))
    else:
        check(read('syswow64', 'mofahu2.ime') == earlier, 'the held SysWOW64 module was not moved aside')
        check(read('system32', 'mofahu2.ime') == earlier, 'the held system module was not moved aside')
        check(read('syswow64', 'mofahu4.ime') == payload['mofahu4.ime'], 'SysWOW64 has not the new 32-bit module')
        check(read('system32', 'mofahu4.ime') == payload['mofahu64.ime'], 'system32 has not the new 64-bit module')
        # No promotion from Windows Vista on.
        user = preload('HKCU', 'keyboard layout\\preload')
        check(user[1] == 'e0200804' and user[2] is None, 'user preload list changed: %r' % (user,))
        # The moved modules go when Windows restarts.
        pending = value(prefix, 'HKLM', 'System\\CurrentControlSet\\Control\\Session Manager',
                        'PendingFileRenameOperations')
        text = pending[1].lower() if pending else ''
        for folder in ('syswow64', 'system32'):
            check('windows\\%s\\mofahu2.ime' % folder in text,
                  'no deletion at restart of %s\\mofahu2.ime: %r' % (folder, text))
        key = 'Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\mofaxwb'
        check(value(prefix, 'HKLM', key, 'DisplayName') == ('REG_SZ', '墨筏五笔'),
              'DisplayName is %r' % (value(prefix, 'HKLM', key, 'DisplayName'),))
        check(value(prefix, 'HKLM', key, 'UninstallString') == ('REG_SZ', 'C:\\windows\\system32\\mofadel.exe'),
              'UninstallString is %r' % (value(prefix, 'HKLM', key, 'UninstallString'),))

    for f in failures:
        print('FAIL:', f)
    if not failures:
        print('upgrade checked (%s)' % scenario)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:4]))
