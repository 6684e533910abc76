#include "HexDump.h"

#include "Logger.h"
#include "log.h"

void HexDump::log(const unsigned char* bytes, int len, const char* title)
{
    if (bytes == nullptr || len <= 0) {
        return;
    }
    // The dump is only formatted when its lines will be written.
    if (static_cast<int>(Logger::GetInstance().GetHandler().GetLevel()) < static_cast<int>(LEVEL_DEBUG)) {
        return;
    }
    Log(LEVEL_DEBUG, "%s:", title != nullptr ? title : "");
    // Eight bytes a line, each as two lower-case hex digits and a blank.
    static const char kHex[] = "0123456789abcdef";
    char line[8 * 3 + 1];
    int used = 0;
    for (int i = 0; i < len; ++i) {
        line[used++] = kHex[bytes[i] >> 4];
        line[used++] = kHex[bytes[i] & 0x0f];
        line[used++] = ' ';
        if (i % 8 == 7) {
            line[used] = '\0';
            LogQuick(LEVEL_DEBUG, line);
            used = 0;
        }
    }
    // A trailing partial line is logged too, so no byte goes unseen.
    if (used > 0) {
        line[used] = '\0';
        LogQuick(LEVEL_DEBUG, line);
    }
}
