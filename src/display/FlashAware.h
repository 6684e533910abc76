// Is a monitor firmware-flash utility running? Compares the program name of
// every process under /proc with the configured utility names.
#ifndef PNLMON_FLASHAWARE_H
#define PNLMON_FLASHAWARE_H

#include <cstddef>
#include <string>
#include <vector>

class FlashAware {
public:
    static bool isMonitorFlashProgramActive();

private:
    FlashAware() = delete;
    static bool getMonitorFlashProgramActive();
    static bool isProcessNameRunning(std::string& pname);
    static bool isaProcessDir(const char* dirname);
    // Index of the first name in list order that a running process has as
    // its program name, or names.size() when none; one scan of /proc.
    static size_t firstRunning(const std::vector<std::string>& names);
    // Reads the start of a process's command line as one fgets() would.
    static bool readProgramPath(const char* path, char* buffer, size_t size);
};

#endif
