// The key=value line format shared by "/etc/pnlmon/log.conf" and
// "/etc/pnlmon/pnlmon.conf": the key is the text before the first "=",
// taken exactly (no trimming, case matters, "#" means nothing); the value is
// the text after it up to the line's newline.
#ifndef PNLMON_KEYVALUEFILE_H
#define PNLMON_KEYVALUEFILE_H

#include <cstdio>
#include <functional>
#include <string>

class KeyValueFile {
public:
    typedef std::function<void(const std::string& key, const std::string& value)> Handler;

    // Splits one line as read, including its newline if it has one. A line
    // without a newline (the last line of a file) keeps its last character.
    // False for a line with no "=" or with "=" as its first character.
    static bool SplitLine(const std::string& line, std::string& key, std::string& value);

    // Reads every line of an open stream and hands each key=value pair to
    // the handler, in file order. Lines of any length are read whole.
    static void ReadStream(FILE* file, const Handler& handler);

    // Opens the file, reads it as above and closes it. False when the file
    // cannot be opened.
    static bool ReadFile(const char* path, const Handler& handler);
};

#endif
