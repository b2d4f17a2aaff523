// The first failure of a run, as the operation that met it names it: what
// was being done (for the user, in GBK, and for the log), on which path, and
// the system's error number. Control never flows through it: every step
// returns its own result. The plan's runner reads it once, for the one
// message the user gets and the log's closing summary line.
#pragma once

struct FailureCause {
    char userText[400];  // GBK: what could not be done, for the message box
    char operation[64];  // English: the operation, for the log
    char path[300];
    unsigned long error;  // the system's error number; 0 when none applies
    bool set;
};

// Records a failure unless one is recorded already: the first one is the
// cause, what follows from it is not. userText may hold one "%s" for path.
void NoteFailure(const char* userText, const char* operation, const char* path, unsigned long error);
// The failure recorded since the last ClearFailure.
const FailureCause& FirstFailure();
void ClearFailure();

// The system's error number of the last failed call of this thread.
unsigned long LastSystemError();

// Error numbers of setup's own (bit 29: an application's code) for an
// operation the file layer refused: a link planted at the file itself (a
// reparse point or a file with other names), or a linked folder on its path.
const unsigned long kErrorLinkedFile = 0x20000001;
const unsigned long kErrorLinkedFolder = 0x20000002;

// What a failure means for the user, as one table (base/failure.cpp) tells
// it from the system's error number: every message that gives a failure's
// cause or advice asks it.
enum FailureKind { kFailedOther = 0, kFailedNoRights, kFailedInUse, kFailedDiskFull, kFailedLinkedFile, kFailedLinkedFolder };
FailureKind KindOfError(unsigned long error);
// The system's own text for an error number, one line (empty when none).
void SystemErrorText(unsigned long error, char* out, unsigned cap);
