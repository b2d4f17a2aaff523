// Checks made before installing over an earlier version.
#pragma once

// 1: the install may go on; 0: setup must end.
int CheckDefaultInputMethod();
// Number of open windows of the input method; when above 0 the message is
// ready at the start of workBuffer.
int CheckImeWindowsInUse();
// 1 when the input method's shared memory exists.
int CheckImeSharedMemory();
