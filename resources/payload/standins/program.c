// The sample payload's programs (uninstallers, companion, management
// programs): each appends "exe <its path> <bits> <version> <name> cmdline
// <its command line>" to the marker file and exits 0. Setup's companion,
// started with "regmf32=DIR", registers nothing: the line records the
// directory it was handed.
#include "standin.h"

void Start(void) {
    Line line;
    line.length = 0;
    Add(&line, "exe ");
    AddModulePath(&line, NULL);
    AddTraits(&line);
    Add(&line, " cmdline ");
    Add(&line, GetCommandLineA());
    AppendMarker(&line);
    ExitProcess(0);
}
