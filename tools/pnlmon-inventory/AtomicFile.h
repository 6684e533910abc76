// Replaces a file so that a reader sees either the old or the whole new
// content, never part of it: the content goes to a hidden temporary file in
// the same folder (".NAME.XXXXXX", which matches no "*.prom" pattern), is
// flushed to disk and renamed over the file. On failure the old file is
// untouched and the temporary file removed.
#ifndef PNLMON_ATOMICFILE_H
#define PNLMON_ATOMICFILE_H

#include <string>
#include <sys/types.h>

class AtomicFile {
public:
    // mode: the permissions of the new file, set as given (the umask does
    // not apply). False with a reason on failure.
    static bool Write(const std::string& path, const std::string& content, mode_t mode, std::string& error);
};

#endif
