// Keyboard-layout ids, product texts and preload-list arithmetic, kept free
// of Windows headers so that the host tests cover them.
//
// A layout id is 8 hexadecimal digits in text form; its last three digits
// name the language: "804" (simplified Chinese) for every OEM code page but
// 950, which uses "404" (traditional Chinese).
#pragma once
#include <cstddef>
#include <cstdint>

enum : int { kSimplifiedCodePage = 936, kTraditionalCodePage = 950 };

// The system's keyboard layouts, a key of each under HKLM.
inline constexpr char kLayoutsKey[] = "System\\CurrentControlSet\\Control\\Keyboard Layouts";
enum : size_t {
    kLayoutNameSize = 200,   // one slot of layoutKeyNames, the enumeration buffer
    kLayoutTextSize = 200,   // a "layout text" read
    kPreloadIdSize = 10,     // one slot of preloadIds
    kPreloadSlots = 49,
    kLayoutNameSlots = 250,
    kProductMatchBytes = 16,    // prefix of the layout text that names the product
    kPreloadDetectBytes = 12,   // prefix compared in the preload list
};

// "804", or "404" on code page 950.
const char* ExpectedLayoutSuffix(int codePage);
// The product's layout text prefix ("match text"), GBK or Big5 by code page.
const char* ProductMatchText(int codePage);
// The "layout text" value written into the product's layout key.
const char* ProductLayoutText(int codePage);

// 1 when the first 16 bytes of text (a buffer of at least 16 bytes) are the
// product's match text for codePage.
int IsProductLayoutText(const char* text, int codePage);
// 1 when the first 12 bytes of text are the GBK preload detection text
// (used under every code page).
int IsProductPreloadText(const char* text);

// 1 when the last three characters of id are the expected suffix.
int HasExpectedSuffix(const char* id, int codePage);
// Replaces the last three characters of id (at least three long; a shorter id
// becomes the suffix itself) with the expected suffix. cap is the size of id's
// buffer. 1 when the id changed.
int ForceExpectedSuffix(char* id, size_t cap, int codePage);

// The id of a new layout key: the highest id seen is raised to at least
// E0000804 (E0000404 on code page 950), then 0x10000 is added; the result is
// formatted in upper-case hexadecimal into out (at least 9 bytes). Returns 0
// when the suffix had to be forced, else 2 (the result codes of the
// registration).
int MakeNewLayoutId(uint32_t highest, int codePage, char* out, size_t cap);

// The leading hexadecimal digits of a key name as a number, as "%lx" reads
// them with a 32-bit long: a value too large for 32 bits reads as FFFFFFFF,
// a name without digits as 0.
uint32_t ParseLayoutId(const char* name);

// Upper- (upper != 0) or lower-cases the ASCII letters of s in place.
void FoldLayoutId(char* s, int upper);

// How a preload value read from the registry compares with the product's id p
// (all lower case on NT, all upper case on 9x; stored letters are folded to
// p's case). stored is read within storedCap bytes.
enum PreloadMatch : int {
    kPreloadOther = 0,
    kPreloadPresent = 1,    // the same id
    kPreloadSameEntry = 2,  // differs from p only in its last three characters
};
PreloadMatch ComparePreloadEntry(const char* stored, size_t storedCap, const char* p);

// Moves the entry at 1-based position `position` of ids[0..count) to
// position 2, shifting entries 2..position-1 down by one; entry 1 stays.
// Nothing changes unless count >= 3 and 3 <= position <= count. 1 when moved.
int PromoteListEntry(char (*ids)[kPreloadIdSize], int count, int position);

// The "<language>:<layout>" text that enables layoutId in a user's list of
// input methods ("0804:E0200804"): the language is the layout id's low word.
// cap of out is at least 14 bytes. 1/0.
int LayoutOrTipText(uint32_t layoutId, char* out, size_t cap);
