// MD5 on the host: libmd.
#include <sys/types.h>

#include <md5.h>

#include "archive/mfz.h"

int Md5Bytes(const void* data, uint32_t length, unsigned char* digest) {
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(&context, static_cast<const uint8_t*>(data), length);
    MD5Final(digest, &context);
    return 1;
}
