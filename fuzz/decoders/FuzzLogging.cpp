#include "FuzzLogging.h"

#include "Logger.h"

void FuzzLoggingToNowhere()
{
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    FileLogHandler& handler = Logger::GetInstance().GetFileHandler();
    handler.ApplyConfigValue("FileName", "/dev/null");
    handler.ApplyConfigValue("Level", "4");
}
