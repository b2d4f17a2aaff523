// How the install reaches the person at the screen: one small table of
// callbacks that the program's top layer fills in. The wizard puts in its
// window's painting and dialogs, a silent run a table that draws nothing,
// and tests a recorder. Every message box and question of setup goes through
// showW or showA; everything below the top layer calls these helpers only.
#pragma once

enum : unsigned { kMbOk = 0x0, kMbYesNo = 0x4 };
enum : int { kIdOk = 1, kIdYes = 6, kIdNo = 7 };
enum : int { kShowHidden = 0, kShowNormal = 5 };  // SW_HIDE, SW_SHOW

struct SetupUi {
    // UTF-16 text and caption: the wide message box. Returns the answer.
    int (*showW)(const char16_t* text, const char16_t* caption, unsigned buttons);
    // Text and caption in the ANSI code page (GBK bytes): the ANSI message box.
    int (*showA)(const char* text, const char* caption, unsigned buttons);
    // The install moves on: the window shows its current page, repainting
    // whatever is pending.
    void (*repaint)();
    // The progress bar: done of total (done <= 0 clears it).
    void (*progressBar)(int done, int total);
    // The status-window mode and the skin: sets statusWindowMode and
    // skinChoice (left as they are when nobody can be asked).
    void (*chooseSkin)();
    // After the install: the page on which the user tries the new input
    // method, until it is left. 0 when the run was ended meanwhile.
    int (*tryIt)();
    // How the programs setup starts show (a show command: a silent run
    // starts them hidden).
    int programShow;
};

// The table in use. Until the top layer chooses, it shows real message boxes
// and draws nothing.
extern SetupUi g_ui;
// That first table, for a top layer or a test that puts it back.
extern const SetupUi kPlainUi;

// The answer of a message's default button: Yes for a question, else OK.
inline int DefaultAnswer(unsigned buttons) { return (buttons & 0xF) == kMbYesNo ? kIdYes : kIdOk; }

// Every message and question of setup: shown through the table, and
// written to the log with the answer it got.
int ShowMessageW(const char16_t* text, const char16_t* caption, unsigned buttons = kMbOk);
int ShowMessageA(const char* text, const char* caption, unsigned buttons = kMbOk);
inline void ReportRepaint() { g_ui.repaint(); }
inline void ReportProgressBar(int done, int total) { g_ui.progressBar(done, total); }
