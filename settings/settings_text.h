// The byte layouts of the settings files, kept apart from file access so that
// host tests can check them byte for byte.
#pragma once
#include <cstdint>

enum : uint32_t {
    kSettingsBlockSize = 1000,
    kConfigRecordSize = 200,
    kKeyValueMax = 250,  // a value found by FindKeyValue, without its NUL
};

// Builds the key=value settings text from siteUrl1 and siteUrl2 of the block
// into the block's text area (NUL-terminated there) and returns its length.
uint32_t BuildSettingsText(unsigned char* block);

// Finds key anywhere in text (unanchored, case-sensitive) and copies the bytes
// after it while each is above 0x20, at most 250, into value (251 bytes,
// NUL-terminated). Returns the position just past the value, or length (value
// empty) when the key is absent; 0 for an empty text.
uint32_t FindKeyValue(const char* text, uint32_t length, const char* key, char* value);

// The configuration record as the input method creates it.
void DefaultConfigRecord(unsigned char* record);

// Sets the bytes setup owns in the configuration record.
void ApplyConfigRecordChoices(unsigned char* record, int32_t oemCodePage, int32_t statusWindowMode);

// The edition marker "wbpybz.mfh": "MFWBPYBZ=0" and one NUL, 11 bytes.
extern const char kEditionMarker[11];
