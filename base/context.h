// The process-wide state of one setup run. Every subsystem reads and writes
// its fields directly; buffers have fixed sizes and are filled only through
// the bounded helpers of strbuf.h. No Windows header: handles are void*.
#pragma once
#include <cstdint>

enum : int32_t {
    kRunInteractive = 2,
    kRunSilent = 3,
    kRunSilentAlt = 4,  // treated as silent by the install sequence
    kRegisterOnly = 5,
};

enum : uint32_t { kWorkBufferSize = 0x200000 };  // 2,097,152 bytes

// The exit codes Windows installers share, which deployment tools read.
enum : int {
    kExitInstalled = 0,
    kExitAccessDenied = 5,        // setup lacks administrator rights
    kExitBadArgument = 87,        // a switch not known, or an install directory that cannot be used
    kExitUserEnded = 1602,        // ended by the user before installing
    kExitFailed = 1603,           // the install failed
    kExitAlreadyRunning = 1618,   // another setup of this product runs
    kExitRestartNeeded = 3010,    // installed; Windows must restart
};

// The user's earlier data across an upgrade.
enum UserDataState : int32_t {
    kNoEarlierData = 0,    // nothing was backed up
    kEarlierDataKept = 1,  // backed up; the user has not been asked yet
    kUserKeepsData = 2,    // the backup goes back over the new install
};

// Whether the product's layout is in the user's preload list.
enum PreloadState : int32_t { kProductNotInPreload = 0, kProductInPreload = 4 };

// The wizard's pages (currentPage).
enum WizardPage : int32_t {
    kPageSplash = 0,
    kPageSite = 1,      // 1 to 4: the site page
    kPageSiteLast = 4,
    kPageLeavingSite = 5,
    kPageConfirm = 6,
    kPageProgress = 7,
    kPageTryIt = 8,
    kPageTryItTyped = 9,
};

struct PageRect {
    int32_t left, top, right, bottom;
};

struct SetupContext {
    // Program entry and run modes.
    int32_t currentPage;
    int32_t oemCodePage;
    int32_t runMode;
    int32_t registerOnly;
    void* instanceHandle;
    void* mainWindow;

    // A No (or a change the user agreed to) that stopped the install.
    int32_t userDeclined;

    // The wizard window's resources.
    const unsigned char* payloadData;  // locked payload resource
    uint32_t payloadSize;              // its length in bytes
    void* payloadResource;
    unsigned char* workBuffer;         // kWorkBufferSize bytes, zeroed
    void* workBufferHandle;
    int32_t userDataState;    // UserDataState
    int32_t checkResult;
    int32_t restartRequired;

    // Install locations.
    char installDir[200];
    char chosenInstallDir[200];  // from the command line; empty: the default
    char previousInstallDir[256];
    char systemDir[200];
    char sysWow64Dir[224];
    int32_t windowsMajorVersion;

    // User-data backup.
    char backupArchivePath[256];

    // Installation report counters.
    uint8_t installDirState;
    uint8_t txtFileCount;
    uint8_t dataFileCount;
    uint8_t otherFileCount;

    // Skin and status-window choice.
    uint8_t statusWindowMode;
    uint8_t skinChoice;

    // Input-method registration and the preload list.
    uint32_t windowsVersionWord;
    void* imeLayoutHandle;
    int32_t imeInstallResult;
    uint32_t layoutId;     // the product's keyboard-layout id, once registered
    int32_t enableAnswer;  // EnableAnswer (ime/enable.h) for the user who installs
    int32_t preloadCount;
    int32_t productPreloadPosition;
    int32_t productInPreload;  // PreloadState

    // Settings block written to "mofadat.dat": bytes 100.. siteUrl1,
    // 200.. siteUrl2, 300.. the settings text.
    unsigned char settingsBlock[1000];
};

extern SetupContext g_ctx;

// Offsets inside settingsBlock.
enum : uint32_t {
    kSiteUrl1Offset = 100,
    kSiteUrl2Offset = 200,
    kSettingsTextOffset = 300,
    kSiteUrlSize = 100,
    kSettingsTextSize = 700,
};

inline char* SiteUrl1() { return reinterpret_cast<char*>(g_ctx.settingsBlock + kSiteUrl1Offset); }
inline char* SiteUrl2() { return reinterpret_cast<char*>(g_ctx.settingsBlock + kSiteUrl2Offset); }

// The environment variable a silent run sets ("1") for the programs it
// starts: the companion program's hand-back to the registration mode, which
// inherits it, is silent too.
const char kSilentHandOverVariable[] = "MOFASETUP_SILENT";

// Silent runs (3 and 4) draw nothing and show no window.
inline bool IsSilentRun() { return g_ctx.runMode == kRunSilent || g_ctx.runMode == kRunSilentAlt; }

// Clears every field, as at process start.
void ResetSetupContext();
