#include "settings/settings_text.h"

#include <cstring>

#include "base/context.h"
#include "base/strbuf.h"

const char kEditionMarker[11] = "MFWBPYBZ=0";

uint32_t BuildSettingsText(unsigned char* block) {
    char* text = reinterpret_cast<char*>(block + kSettingsTextOffset);
    const char* url1 = reinterpret_cast<const char*>(block + kSiteUrl1Offset);
    const char* url2 = reinterpret_cast<const char*>(block + kSiteUrl2Offset);
    // The site fields are bounded by their slots even if a caller left them
    // unterminated.
    char site1[kSiteUrlSize];
    char site2[kSiteUrlSize];
    StrCopyCut(site1, url1);
    StrCopyCut(site2, url2);
    if (!StrFormat(text, kSettingsTextSize,
                   "MFNETURL1=%s\r\nMFNETURL2=%s\r\nMFNETTIME=1\r\nMFBJTIME=7\r\nMFWYTIME=3\r\nMFSJOFF=0"
                   "\r\nMFNETTIME0=0\r\nMFBJTIME0=0\r\nMFNEONE=1\r\n",
                   site1, site2))
        return 0;
    return static_cast<uint32_t>(std::strlen(text));
}

uint32_t FindKeyValue(const char* text, uint32_t length, const char* key, char* value) {
    value[0] = '\0';
    if (length == 0) return 0;
    uint32_t keyLength = static_cast<uint32_t>(std::strlen(key));
    if (keyLength == 0) return length;
    for (uint32_t pos = 0; pos + keyLength <= length; ++pos) {
        if (std::memcmp(text + pos, key, keyLength) != 0) continue;
        uint32_t at = pos + keyLength;
        uint32_t n = 0;
        while (at < length && n < kKeyValueMax && static_cast<unsigned char>(text[at]) > 0x20) value[n++] = text[at++];
        value[n] = '\0';
        return at;
    }
    return length;
}

void DefaultConfigRecord(unsigned char* record) {
    std::memset(record, 0, kConfigRecordSize);
    record[0x08] = 0x36;
    static const unsigned char kOnes[] = {0x09, 0x0A, 0x0C, 0x0F, 0x13, 0x16, 0x18, 0x24, 0x29, 0x2B, 0x36, 0x3A};
    for (unsigned char offset : kOnes) record[offset] = 1;
}

void ApplyConfigRecordChoices(unsigned char* record, int32_t oemCodePage, int32_t statusWindowMode) {
    if (oemCodePage == 950) record[0x0F] = 1;
    record[0x3E] = 0;
    record[0x3F] = 0;
    record[0x01] = 1;
    record[0x2B] = 1;
    record[0x36] = 0;
    record[0x24] = 1;
    switch (statusWindowMode) {
        case 2:  // single-line window
            record[0x00] = 1;
            record[0x15] = 0;
            break;
        case 3:  // dual window
            record[0x00] = 4;
            record[0x15] = 1;
            break;
        case 4:  // Windows-style window
            record[0x00] = 3;
            record[0x15] = 1;
            break;
        default:  // double-line window
            record[0x00] = 0;
            record[0x15] = 0;
            break;
    }
}
