// Puts the payload on disk and the input-method modules where Windows loads
// them, in two passes around the registration of the input method.
#pragma once
#include "base/failure.h"

// 1 when the disk of the install directory has room for the payload's files
// (over those already there); otherwise tells the user how much is missing
// and where, and returns 0: nothing has been written yet.
// Every entry of the payload inflates and matches its digest: 1. The sizes
// they inflate to are kept for the room check, which then need not inflate
// them again.
int CheckPayloadWhole();
int CheckRoomForPayload();

// Pass 0: extraction, the keep-data question, the version-patched first
// modules. Pass 1: the final modules, and the interim ones removed. 1 when
// done; 0 at the first failure, with its cause recorded (base/failure.h).
int DeployFiles(int pass);

// Copies source over target after clearing the target's attributes.
Outcome CopyOver(const char* source, const char* target);

// CopyOver; when it fails the target is moved aside and the copy tried once
// more; a second failure is recorded as the cause. 1/0.
int CopyWithRetry(const char* source, const char* target);
