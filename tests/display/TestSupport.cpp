#include "TestSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "NamedProcess.h"
#include "Sandbox.h"

namespace testsupport {

void RouteLog(const std::string& file, bool console)
{
    std::string conf = "FileName=" + file + "\nLevel=4\n";
    if (console) {
        conf += "IsConsole=1\n";
    }
    sandbox::WriteFile("/etc/pnlmon/log.conf", conf);
}

std::string ReadFrom(const std::string& file, size_t from)
{
    std::string content;
    sandbox::ReadFile(file, content);
    return from < content.size() ? content.substr(from) : std::string();
}

size_t FileSize(const std::string& file)
{
    struct stat st;
    return stat(file.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
}

std::vector<std::string> Messages(const std::string& text)
{
    // A log line is: time TAB pid/tid TAB level TAB message CR LF. Messages
    // may hold a "\n" of their own, so lines are split at CR LF.
    std::vector<std::string> result;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        size_t tab = line.find('\t');
        for (int i = 1; i < 3 && tab != std::string::npos; ++i) {
            tab = line.find('\t', tab + 1);
        }
        if (tab != std::string::npos) {
            result.push_back(line.substr(tab + 1));
        }
        start = end + 2;
    }
    return result;
}

int CountMessage(const std::string& text, const std::string& message)
{
    int count = 0;
    for (const std::string& m : Messages(text)) {
        if (m == message) {
            ++count;
        }
    }
    return count;
}

StdoutCapture::StdoutCapture()
{
    static int serial = 0;
    path = sandbox::ScratchDir() + "/stdout." + std::to_string(getpid()) + "." + std::to_string(++serial);
    fflush(stdout);
    saved = dup(1);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    close(fd);
}

StdoutCapture::~StdoutCapture()
{
    Stop();
}

std::string StdoutCapture::Stop()
{
    if (saved < 0) {
        return std::string();
    }
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    saved = -1;
    std::string content;
    sandbox::ReadFile(path, content);
    unlink(path.c_str());
    return content;
}

pid_t StartAs(const std::string& program, const std::string& argv0, const std::vector<std::string>& args,
              const std::string* shown)
{
    return NamedProcess::Start(program, argv0, args, shown);
}

void StopProcess(pid_t pid)
{
    NamedProcess::Stop(pid);
}

}  // namespace testsupport
