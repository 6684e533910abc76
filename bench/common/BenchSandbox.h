// The start of every benchmark on emulated monitors: the umockdev preload
// (re-executing the program when it is missing), the private namespaces with
// a PID namespace of their own, and TMPDIR in the private scratch folder.
#ifndef PNLMON_BENCH_BENCHSANDBOX_H
#define PNLMON_BENCH_BENCHSANDBOX_H

class BenchSandbox {
public:
    // False, with the reason on standard error, when the namespaces cannot
    // be entered.
    static bool Enter(int argc, char** argv);
};

#endif
