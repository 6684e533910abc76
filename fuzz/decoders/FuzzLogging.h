// Logging for the fuzz targets and their replay driver: every line is
// formatted as usual (the formatting of untrusted text is part of what is
// fuzzed) and then dropped, never written to the machine's log file.
#ifndef PNLMON_FUZZLOGGING_H
#define PNLMON_FUZZLOGGING_H

void FuzzLoggingToNowhere();

#endif
