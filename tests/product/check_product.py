#!/usr/bin/env python3
"""Checks the 32-bit product program: PE32 for i386, GUI subsystem, the
payload resource equal to the archive built, the icon and the manifest, and
no DLL imports beyond Windows' own."""
import sys

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


def main(exe, payload):
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
    for r in resources:
        if r[0] in (pefile.RESOURCE_TYPE['RT_ACCELERATOR'], pefile.RESOURCE_TYPE['RT_MENU']):
            failures.append('unexpected accelerator or menu resource %r' % (r[1],))

    for f in failures:
        print('FAIL:', f)
    if not failures:
        print('product program checked: PE32 i386 GUI, %d resources, imports %s'
              % (len(resources), ', '.join(sorted(imports))))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1], sys.argv[2]))
