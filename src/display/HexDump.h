// Hex dumps of monitor bytes in the log: a title line, then eight "%02x "
// groups a line at DEBUG. Formatted only when debug lines are written.
#ifndef PNLMON_HEXDUMP_H
#define PNLMON_HEXDUMP_H

class HexDump {
public:
    // Logs len bytes under the title (an empty title for null). Nothing for
    // a null buffer or a length of 0 or less.
    static void log(const unsigned char* bytes, int len, const char* title);
};

#endif
