#include "LogCapture.h"

#include <algorithm>

#include "Logger.h"
#include "Sandbox.h"

bool LogCapture::contains(const std::string& line) const
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::vector<std::string> LogCapture::messages(const std::string& level) const
{
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.compare(0, level.size() + 1, level + "\t") == 0) {
            out.push_back(line.substr(level.size() + 1));
        }
    }
    return out;
}

LogCapture RunLogged(const std::function<int()>& body)
{
    sandbox::WriteFile("/etc/pnlmon/log.conf", "IsConsole=1\nLevel=4\n");
    sandbox::ChildResult child = sandbox::RunInChild([&body] {
        // The logger may already exist from before the fork, configured for
        // the file: send the child's lines to standard error all the same.
        FileLogHandler& handler = Logger::GetInstance().GetFileHandler();
        handler.ApplyConfigValue("IsConsole", "1");
        handler.ApplyConfigValue("Level", "4");
        return body();
    });
    sandbox::ResetSystemFolders();

    // A line is: time TAB pid and thread TAB level TAB message CR LF.
    LogCapture capture;
    capture.exitCode = child.exitCode;
    size_t start = 0;
    while (start < child.err.size()) {
        size_t end = child.err.find("\r\n", start);
        if (end == std::string::npos) {
            end = child.err.size();
        }
        std::string line = child.err.substr(start, end - start);
        size_t first = line.find('\t');
        size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
        if (second != std::string::npos) {
            capture.lines.push_back(line.substr(second + 1));
        }
        start = end + 2;
    }
    return capture;
}
