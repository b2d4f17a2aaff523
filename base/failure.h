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
// The system's own text for an error number, one line (empty when none).
void SystemErrorText(unsigned long error, char* out, unsigned cap);

// An error number for a failure the system gave no number for, and one for
// data found damaged.
#ifdef _WIN32
const unsigned long kErrorNoCause = 1003;    // ERROR_CAN_NOT_COMPLETE
const unsigned long kErrorDamagedData = 13;  // ERROR_INVALID_DATA
#else
const unsigned long kErrorNoCause = 5;       // EIO
const unsigned long kErrorDamagedData = 22;  // EINVAL
#endif

// What an operation that changes files came to: done, or the error number
// of the call that failed, taken right there and handed up as a value to
// whoever tells the user: the thread's last error is the system's, and any
// call in between (a question about a file, a clean-up) may change it.
struct Outcome {
    unsigned long error;  // 0: done
    explicit operator bool() const { return error == 0; }
};
const Outcome kDone = {0};
inline Outcome FailedWith(unsigned long error) { return {error != 0 ? error : kErrorNoCause}; }
// The failure of the call just made, by the thread's last error.
inline Outcome LastCallFailed() { return FailedWith(LastSystemError()); }

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
