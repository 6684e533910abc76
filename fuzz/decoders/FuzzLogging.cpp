#include "FuzzLogging.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "Logger.h"
#include "log.h"

// The handler stops writing once its file has reached the configured maximum
// length, but it still builds every line first. Pointing it at a file that
// is already at the smallest maximum makes it format each line in full and
// then drop it, without a system call per line. The file is a temporary one,
// kept at its limit while the process runs and removed at exit: removed
// earlier, the handler would find it gone at its next size check (once a
// second while full), create it again and leave it behind. The handler accepts
// only a regular file, reached without a symbolic link, so neither /dev/null
// nor a memory file's /proc/self/fd link would do. Should that fail, the handler
// is pointed at /dev/null, which it refuses: the lines are formatted and
// dropped all the same, and nothing reaches the machine's log folder.
// PNLMON_FUZZ_LOG_LEVEL (0-4, default 4 = every line) lowers the level for
// long runs that are about the decoders rather than the log formatting.
namespace {

std::string g_fullLog;

void RemoveFullLog()
{
    if (!g_fullLog.empty()) {
        unlink(g_fullLog.c_str());
    }
}

}  // namespace

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
    const char* tmp = getenv("TMPDIR");
    std::string path = std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/pnlmon-fuzz-log.XXXXXX";
    int fd = mkstemp(&path[0]);
    if (fd >= 0) {
        if (ftruncate(fd, 4096) == 0) {
            handler.ApplyConfigValue("FileName", path);
            handler.ApplyConfigValue("MaxLength", "4096");
            // The first line opens the file, finds it full and closes it.
            LogQuick(LEVEL_ERROR, "fuzzing: log lines are formatted and dropped");
        }
        close(fd);
        if (handler.IsFull()) {
            g_fullLog = path;
            atexit(RemoveFullLog);
        } else {
            unlink(path.c_str());
        }
    }
    if (!handler.IsFull()) {
        handler.ApplyConfigValue("FileName", "/dev/null");
    }
}
