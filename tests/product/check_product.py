#!/usr/bin/env python3
"""Checks the 32-bit product program: PE32 for i386, GUI subsystem, the
payload resource equal to the archive built, the icon, the manifest and the
version information, no DLL imports beyond Windows' own and no function newer
than Windows 2000 SP4, and the size of the program without its payload."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import pefile

# Windows' own DLLs the program may import; nothing of the compiler's.
SYSTEM_DLLS = {
    'kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll', 'shell32.dll',
    'imm32.dll', 'msvcrt.dll', 'comctl32.dll', 'ole32.dll',
}


def resource_entries(pe):
    """Yields (type, name, language, bytes) for every resource."""
    def key(entry):
        return str(entry.name) if entry.name is not None else entry.id
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for rname in rtype.directory.entries:
            for rlang in rname.directory.entries:
                data = rlang.data.struct
                blob = pe.get_data(data.OffsetToData, data.Size)
                yield key(rtype), key(rname), rlang.id, blob


def sz_or_ord(blob, pos):
    """A dialog template's name field: (value, next position); an ordinal
    is an int, a name a str, nothing is None."""
    first = struct.unpack_from('<H', blob, pos)[0]
    if first == 0:
        return None, pos + 2
    if first == 0xFFFF:
        return struct.unpack_from('<H', blob, pos + 2)[0], pos + 4
    end = pos
    while struct.unpack_from('<H', blob, end)[0] != 0:
        end += 2
    return blob[pos:end].decode('utf-16-le'), end + 2


def parse_dialog(blob):
    """(size, title, (points, face), [(id, class, text, (x, y, cx, cy), style)]) of a DIALOG template."""
    style, _ex, count, x, y, cx, cy = struct.unpack_from('<IIHhhhh', blob, 0)
    pos = 18
    _menu, pos = sz_or_ord(blob, pos)
    _cls, pos = sz_or_ord(blob, pos)
    title, pos = sz_or_ord(blob, pos)
    font = None
    if style & 0x40:  # DS_SETFONT
        points = struct.unpack_from('<H', blob, pos)[0]
        face, pos = sz_or_ord(blob, pos + 2)
        font = (points, face)
    items = []
    for _ in range(count):
        pos = (pos + 3) & ~3
        istyle, _iex, ix, iy, icx, icy, iid = struct.unpack_from('<IIhhhhH', blob, pos)
        pos += 18
        cls, pos = sz_or_ord(blob, pos)
        text, pos = sz_or_ord(blob, pos)
        extra = struct.unpack_from('<H', blob, pos)[0]
        pos += 2 + extra
        items.append((iid if iid != 0xFFFF else -1, cls, text, (ix, iy, icx, icy), istyle))
    return (cx, cy), title, font, items


# The skin and status-window dialogs: (id, class atom, text, position, size).
BUTTON, STATIC = 0x80, 0x82
DIALOG_CONTROLS = [
    (105, BUTTON, ('确定', '確定'), (88, 117, 44, 14), 0x1),       # BS_DEFPUSHBUTTON
    (-1, BUTTON, ('输入法状态窗口模式选择', '輸入法狀態窗口模式選擇'), (6, 8, 204, 39), 0x7),  # BS_GROUPBOX
    (-1, BUTTON, ('输入法皮肤选择', '輸入法皮膚選擇'), (6, 54, 204, 39), 0x7),
    (101, BUTTON, ('双行窗口', '雙行窗口'), (15, 25, 44, 10), 0x9),  # BS_AUTORADIOBUTTON
    (102, BUTTON, ('单行窗口', '單行窗口'), (66, 25, 44, 10), 0x9),
    (106, BUTTON, ('双窗口', '雙窗口'), (113, 25, 36, 10), 0x9),
    (107, BUTTON, ('仿WIN窗口', '仿WIN窗口'), (155, 25, 48, 10), 0x9),
    (110, BUTTON, ('冷色瓷面', '冷色瓷面'), (15, 72, 48, 10), 0x9),
    (111, BUTTON, ('粉色瓷面', '粉色瓷面'), (84, 72, 48, 10), 0x9),
    (112, BUTTON, ('小天使', '小天使'), (150, 71, 40, 10), 0x9),
    (-1, STATIC, ('注：你也可在安装完毕后改变这些参数。', '註：你也可在安裝完畢後改變這些參數。'), (13, 99, 145, 8), None),
]
DIALOGS = {
    # name: (language, variant, title, font)
    'PYKEY': (2052, 0, '智能墨筏皮肤及窗口模式选择', (12, '宋体')),
    'PYKEYB': (1028, 1, '智能墨筏皮膚及窗口模式選擇', (10, 'System')),
}


def check_dialogs(resources, failures):
    dialogs = {r[1]: r for r in resources if r[0] == pefile.RESOURCE_TYPE['RT_DIALOG']}
    for name, (language, variant, title, font) in DIALOGS.items():
        if name not in dialogs:
            failures.append('no dialog "%s"' % name)
            continue
        if dialogs[name][2] != language:
            failures.append('dialog %s has language %d, not %d' % (name, dialogs[name][2], language))
        size, got_title, got_font, items = parse_dialog(dialogs[name][3])
        if size != (219, 140):
            failures.append('dialog %s is %dx%d' % (name, size[0], size[1]))
        if got_title != title:
            failures.append('dialog %s has the title %r' % (name, got_title))
        if got_font != font:
            failures.append('dialog %s has the font %r' % (name, got_font))
        got = [(i[0], i[1], i[2], i[3], i[4] & 0xF if i[1] == BUTTON else None) for i in items]
        want = [(c[0], c[1], c[2][variant], c[3], c[4]) for c in DIALOG_CONTROLS]
        if got != want:
            failures.append('dialog %s controls differ: %r' % (name, got))
        # No WS_GROUP on a radio button: the procedure keeps the groups itself.
        if any(i[1] == BUTTON and i[4] & 0xF == 0x9 and i[4] & 0x00020000 for i in items):
            failures.append('dialog %s has a radio button with a group mark' % name)


# Every function the program imports, with the first Windows that has it
# (the "Minimum supported client" of Microsoft's reference, as first
# published): 3.1 = NT 3.1, 4.0 = NT 4.0 (and msvcrt.dll), 5.0 = Windows 2000.
# The program must start on Windows 2000 SP4: nothing newer may be imported
# by name, and a function missing here fails the check until it is added.
NT31, NT35, NT4, W2K = (3, 1), (3, 5), (4, 0), (5, 0)
OLDEST_WINDOWS = (5, 0, 4)
IMPORTS = {
    'advapi32.dll': dict.fromkeys(
        ['RegCloseKey', 'RegCreateKeyExA', 'RegCreateKeyExW', 'RegDeleteKeyA', 'RegDeleteValueA', 'RegEnumKeyExA',
         'RegOpenKeyExA', 'RegOpenKeyExW', 'RegQueryInfoKeyA', 'RegQueryValueExA', 'RegSetValueExA', 'RegSetValueExW',
         'GetUserNameA', 'RegDeleteKeyW', 'RegDeleteValueW', 'RegEnumKeyExW', 'RegEnumValueW', 'RegQueryValueExW',
         'GetSecurityDescriptorDacl', 'GetSecurityDescriptorSacl', 'GetSecurityDescriptorLength', 'RegFlushKey'],
        NT31) | dict.fromkeys(
        ['BuildExplicitAccessWithNameA', 'GetNamedSecurityInfoA', 'SetEntriesInAclA', 'SetNamedSecurityInfoA',
         'GetSecurityInfo', 'SetSecurityInfo'], NT4),
    'gdi32.dll': dict.fromkeys(
        ['BitBlt', 'CreateCompatibleBitmap', 'CreateCompatibleDC', 'CreateDIBitmap', 'CreateFontA', 'CreatePen',
         'CreateSolidBrush', 'DeleteDC', 'DeleteObject', 'GetStockObject', 'GetTextMetricsA', 'LineTo', 'MoveToEx',
         'Rectangle', 'SelectObject', 'SetBkMode', 'SetTextColor', 'StretchBlt', 'TextOutA', 'TextOutW'], NT31),
    'imm32.dll': dict.fromkeys(['ImmGetContext', 'ImmGetDescriptionA', 'ImmInstallIMEW', 'ImmReleaseContext',
                               'ImmSetOpenStatus'], NT4),
    'kernel32.dll': dict.fromkeys(
        ['CloseHandle', 'CopyFileA', 'ExitProcess', 'GetModuleFileNameA', 'CreateDirectoryA', 'CreateFileA', 'CreateMutexA', 'DeleteFileA', 'FindClose', 'FlushFileBuffers', 'FindFirstFileA', 'FindNextFileA', 'FindResourceA',
         'FreeLibrary', 'FreeResource', 'GetACP', 'GetCurrentDirectoryA', 'GetCurrentProcessId', 'GetDriveTypeA',
         'GetFileAttributesA', 'GetLastError', 'GetLocalTime', 'GetModuleHandleA', 'GetOEMCP', 'GetProcAddress',
         'GetStartupInfoA', 'GetSystemDirectoryA', 'GetSystemDirectoryW', 'GetTempPathA',
         'GetTickCount', 'GetVersion', 'GetVersionExA', 'GetWindowsDirectoryA', 'GlobalAlloc', 'GlobalFree',
         'GlobalLock', 'GlobalUnlock', 'LoadLibraryA', 'LoadResource', 'LocalAlloc', 'LocalFree', 'LockResource', 'MoveFileA', 'MoveFileExA',
         'MultiByteToWideChar', 'OpenFileMappingA', 'OutputDebugStringA', 'ReadFile', 'RemoveDirectoryA',
         'SetCurrentDirectoryA', 'SetFileAttributesA', 'SetLastError', 'SizeofResource', 'Sleep', 'WideCharToMultiByte', 'WriteFile', 'lstrcmpiW', 'CreateProcessA',
         'FormatMessageA', 'GetFileInformationByHandle', 'GetFileTime', 'GetFullPathNameW',
         'QueryPerformanceCounter', 'SetFileTime', 'FormatMessageW', 'SetEndOfFile', 'GetCommandLineW', 'GetEnvironmentVariableA',
         'SetEnvironmentVariableA', 'CreateThread', 'WaitForSingleObject'], NT31) | dict.fromkeys(['GetDiskFreeSpaceExA'], NT4) |
        dict.fromkeys(['GetFileSizeEx', 'SetFilePointerEx'], W2K) | {'SetDllDirectoryA': (5, 1, 1)},
    'msvcrt.dll': dict.fromkeys(
        ['calloc', 'free', 'malloc', 'memchr', 'memcmp', 'memcpy', 'memmove', 'memset', 'strchr', 'strcmp',
         'strlen', 'strncmp', 'strstr', 'wcslen', '_stricmp', '_strnicmp', 'realloc'], NT4),
    'shell32.dll': {'SHGetSpecialFolderPathA': NT4},
    'user32.dll': dict.fromkeys(
        ['ActivateKeyboardLayout', 'BeginPaint', 'CheckDlgButton', 'CreateWindowExA', 'CreateWindowExW',
         'DefWindowProcA', 'DestroyWindow', 'DialogBoxParamA', 'DispatchMessageA', 'EndDialog', 'EndPaint',
         'EnumWindows', 'GetClassNameA', 'GetDC', 'GetKeyboardLayout', 'GetKeyboardLayoutList',
         'GetKeyboardLayoutNameA', 'GetMessageA', 'GetParent', 'GetSystemMetrics', 'GetWindowRect', 'GetWindowTextA',
         'GetWindowTextW', 'InvalidateRect', 'IsChild', 'IsDlgButtonChecked', 'KillTimer', 'LoadAcceleratorsA',
         'LoadCursorA', 'LoadIconA', 'MessageBoxA', 'MessageBoxW', 'PeekMessageA', 'PostMessageA', 'PostQuitMessage',
         'RegisterClassA', 'ReleaseDC', 'SetFocus', 'SetTimer', 'SetWindowPos', 'SetWindowTextA', 'SetWindowTextW',
         'ShowWindow', 'TranslateAcceleratorA', 'TranslateMessage', 'UpdateWindow', 'DefWindowProcW',
         'DialogBoxParamW', 'RegisterClassW', 'SendMessageA'], NT31),
}
# The program without its payload, at most: the size of the peer installer's
# own stub (NSIS 3, zlib, x86).
STUB_LIMIT = 92672


def check_imports(pe, failures):
    """Each imported function is in IMPORTS and no newer than OLDEST_WINDOWS."""
    listed = 0
    for entry in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', []):
        dll = entry.dll.decode().lower()
        for imported in entry.imports:
            name = imported.name.decode() if imported.name else '#%d' % imported.ordinal
            version = IMPORTS.get(dll, {}).get(name)
            if version is None:
                failures.append('%s!%s is imported but not listed with its first Windows version' % (dll, name))
            elif version > OLDEST_WINDOWS:
                failures.append('%s!%s needs Windows %s: the program would not start on Windows 2000 SP4'
                                % (dll, name, '.'.join(map(str, version))))
            listed += 1
    return listed


def check_identity(pe, failures):
    """The version resource: 7.9, its texts in Chinese (PRC)."""
    fixed = getattr(pe, 'VS_FIXEDFILEINFO', None)
    if not fixed or fixed[0].FileVersionMS != 0x00070009 or fixed[0].ProductVersionMS != 0x00070009:
        failures.append('file and product version are not 7.9')
    strings = {}
    for info in getattr(pe, 'FileInfo', [[]])[0]:
        if info.Key == b'StringFileInfo':
            for table in info.StringTable:
                if table.LangID.lower() == b'080404b0':
                    strings = {k.decode(): v.decode() for k, v in table.entries.items()}
    for key in ('CompanyName', 'FileDescription', 'FileVersion', 'LegalCopyright', 'OriginalFilename', 'ProductName',
                'ProductVersion'):
        if not strings.get(key):
            failures.append('the version resource lacks %s in Chinese (PRC)' % key)
    if strings.get('OriginalFilename') != 'mofasetup.exe' or strings.get('FileVersion') != '7.9':
        failures.append('the version texts are %r' % strings)


def check_signing(exe, payload, mfzpack, failures):
    """A copy signed as `make sign` signs, with a certificate made here: the
    signature verifies, and the signed program still carries its payload,
    which extracts whole."""
    here = os.path.dirname(os.path.abspath(__file__))
    sign = os.path.join(here, '..', '..', 'scripts', 'sign.sh')
    with tempfile.TemporaryDirectory() as work:
        def run(*command):
            done = subprocess.run(command, cwd=work, capture_output=True, text=True)
            if done.returncode != 0:
                failures.append('%s failed: %s' % (' '.join(command[:2]), (done.stdout + done.stderr)[-300:]))
            return done.returncode == 0
        signed = os.path.join(work, 'signed.exe')
        shutil.copyfile(exe, signed)
        if not (run('openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'key.pem', '-out',
                    'cert.pem', '-days', '2', '-subj', '/CN=mofasetup test', '-addext',
                    'extendedKeyUsage=codeSigning') and
                run('openssl', 'pkcs12', '-export', '-out', 'cert.pfx', '-inkey', 'key.pem', '-in', 'cert.pem',
                    '-passout', 'pass:test') and
                run('bash', sign, signed, 'cert.pfx', 'test') and
                run('osslsigncode', 'verify', '-CAfile', 'cert.pem', '-in', signed)):
            return
        carried = [r for r in resource_entries(pefile.PE(signed)) if r[0] == 'MFZ' and r[1] == 'TYRKMFZ']
        if len(carried) != 1 or carried[0][3] != open(payload, 'rb').read():
            failures.append('the signed program does not carry the payload unchanged')
            return
        open(os.path.join(work, 'carried.mfz'), 'wb').write(carried[0][3])
        if run(mfzpack, 'extract', 'carried.mfz', 'files'):
            print('signed: the signature verifies; the payload extracts into %d files'
                  % len(os.listdir(os.path.join(work, 'files'))))


def main(exe, payload, mfzpack=None):
    failures = []
    pe = pefile.PE(exe)
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE['IMAGE_FILE_MACHINE_I386']:
        failures.append('machine is not i386')
    if pe.OPTIONAL_HEADER.Magic != 0x10B:
        failures.append('not a PE32 image')
    if pe.OPTIONAL_HEADER.Subsystem != pefile.SUBSYSTEM_TYPE['IMAGE_SUBSYSTEM_WINDOWS_GUI']:
        failures.append('subsystem is not GUI')

    imports = {e.dll.decode().lower() for e in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', [])}
    foreign = sorted(imports - SYSTEM_DLLS)
    if foreign:
        failures.append('imports DLLs that are not Windows\' own: ' + ', '.join(foreign))

    resources = list(resource_entries(pe))
    expected = open(payload, 'rb').read()
    mfz = [r for r in resources if r[0] == 'MFZ' and r[1] == 'TYRKMFZ']
    if len(mfz) != 1:
        failures.append('expected one MFZ/TYRKMFZ resource, found %d' % len(mfz))
    else:
        if mfz[0][2] != 2052:
            failures.append('payload language is %d, not 2052' % mfz[0][2])
        if mfz[0][3] != expected:
            failures.append('payload resource differs from %s' % payload)
    icons = [r for r in resources if r[0] == pefile.RESOURCE_TYPE['RT_GROUP_ICON'] and r[1] == 'MOFAHU']
    if not icons:
        failures.append('no icon group "mofahu"')
    else:
        group = icons[0][3]
        width, height, colours = group[6], group[7], group[8]
        if (width, height, colours) != (32, 32, 16):
            failures.append('icon is %dx%d with %d colours' % (width, height, colours))
    manifests = [r for r in resources if r[0] == pefile.RESOURCE_TYPE['RT_MANIFEST']]
    if not manifests or b'requireAdministrator' not in manifests[0][3]:
        failures.append('no manifest requesting administrator rights')
    # Windows 8 and later tell a program their true version only when its
    # manifest names them.
    elif b'{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' not in manifests[0][3]:
        failures.append('the manifest does not name Windows 10 and 11')
    for r in resources:
        if r[0] in (pefile.RESOURCE_TYPE['RT_ACCELERATOR'], pefile.RESOURCE_TYPE['RT_MENU']):
            failures.append('unexpected accelerator or menu resource %r' % (r[1],))

    check_dialogs(resources, failures)
    listed = check_imports(pe, failures)
    check_identity(pe, failures)
    stub = os.path.getsize(exe) - len(expected)
    print('stub (the program without its payload): %d bytes, at most %d' % (stub, STUB_LIMIT))
    if stub > STUB_LIMIT:
        failures.append('the stub is %d bytes, more than %d' % (stub, STUB_LIMIT))

    if mfzpack:
        check_signing(exe, payload, os.path.abspath(mfzpack), failures)

    for f in failures:
        print('FAIL:', f)
    if not failures:
        print('product program checked: PE32 i386 GUI, %d resources, %d imported functions from %s'
              % (len(resources), listed, ', '.join(sorted(imports))))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:4]))
