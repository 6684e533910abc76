// Is a monitor firmware-flash utility running? Compares the program name of
// every process under /proc with the configured utility names.
#ifndef PNLMON_FLASHAWARE_H
#define PNLMON_FLASHAWARE_H

#include <string>

class FlashAware {
public:
    static bool isMonitorFlashProgramActive();

private:
    FlashAware() = delete;
    static bool getMonitorFlashProgramActive();
    static bool isProcessNameRunning(std::string& pname);
    static bool isaProcessDir(const char* dirname);
};

#endif
