#include "FuzzLogging.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "Logger.h"
#include "log.h"

// The handler stops writing once its file has reached the configured maximum
// length, but it still builds every line first. Pointing it at an anonymous
// memory file that is already at the smallest maximum makes it format each
// line in full and then drop it, without a system call per line and without
// a trace in any folder. Where memory files are missing the lines go to
// /dev/null instead (correct, only slower). PNLMON_FUZZ_LOG_LEVEL (0-4,
// default 4 = every line) lowers the level for long runs that are about the
// decoders rather than the log formatting.
void FuzzLoggingToNowhere()
{
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    FileLogHandler& handler = Logger::GetInstance().GetFileHandler();
    const char* level = getenv("PNLMON_FUZZ_LOG_LEVEL");
    handler.ApplyConfigValue("Level", level != nullptr && *level != '\0' ? level : "4");
    int fd = memfd_create("pnlmon-fuzz-log", MFD_CLOEXEC);
    if (fd >= 0 && ftruncate(fd, 4096) == 0) {
        handler.ApplyConfigValue("FileName", "/proc/self/fd/" + std::to_string(fd));
        handler.ApplyConfigValue("MaxLength", "4096");
        // The first line opens the file, finds it full and closes it.
        LogQuick(LEVEL_ERROR, "fuzzing: log lines are formatted and dropped");
    }
    if (!handler.IsFull()) {
        handler.ApplyConfigValue("FileName", "/dev/null");
    }
    if (fd >= 0) {
        close(fd);
    }
}
