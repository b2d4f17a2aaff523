#!/usr/bin/env python3
"""Checks a silent upgrade over an earlier version (see preload_upgrade.e2e.sh).

    check_upgrade.py PREFIX PAYLOAD SCENARIO [LOG]    (winxp, win7-64, failed or promotion)

promotion: only the preload lists of winxp (see silent_install.e2e.sh)."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from payload import read_archive  # noqa: E402
from winreg import read_hive, value  # noqa: E402


def main(prefix, payload_path, scenario, log_path=None):
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

    if scenario == 'failed':
        # The new module could not reach the native system directory: the
        # run was undone. The earlier module is there and registered; no
        # uninstall entry, autostart value or new file is left behind.
        check(read('system32', 'mofahu4.ime') == earlier, 'the earlier module is not in place')
        check(read('syswow64', 'mofahu4.ime') is None, 'a module was left in SysWOW64')
        layout = 'System\\CurrentControlSet\\Control\\Keyboard Layouts\\e0200804'
        check(value(prefix, 'HKLM', layout, 'layout text') == ('REG_SZ', '智能墨筏输入平台  6.3'),
              'the earlier layout text is %r' % (value(prefix, 'HKLM', layout, 'layout text'),))
        check(value(prefix, 'HKLM', layout, 'ime file') == ('REG_SZ', 'MOFAHU4.IME'), 'the earlier IME file changed')
        user = preload('HKCU', 'keyboard layout\\preload')
        check(user[1:] == ['00000804', None, None, None], 'user preload list is %r' % (user,))
        uninstall = 'Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\mofaxwb'
        check(uninstall.lower() not in read_hive(prefix, 'HKLM'), 'an uninstall entry was left')
        check(value(prefix, 'HKLM', 'Software\\Microsoft\\Windows\\CurrentVersion\\Run', 'mfmxsjgl') is None,
              'an autostart value was left')
        install = os.path.join(prefix, 'drive_c', 'Program Files', 'mofahu')
        left = os.listdir(install) if os.path.isdir(install) else []
        check(left == [], 'files were left in the install directory: %r' % left[:5])
        log = open(log_path, encoding='utf-8').read() if log_path else ''
        check('rollback: all' in log and 'changes undone' in log, 'the log does not report a whole rollback')
    elif scenario in ('winxp', 'promotion'):
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
    sys.exit(main(*sys.argv[1:5]))
