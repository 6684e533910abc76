// pnlmon-cimhost: runs CIM requests against a CMPI provider library inside
// the embedded CIMOM host and prints the results.
#pragma once

#include "CimHost.h"
#include "CommandLine.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

class CimHostTool {
public:
    static constexpr int kExitOk = 0;      // every request answered CMPI_RC_OK
    static constexpr int kExitFailed = 1;  // at least one request answered otherwise
    static constexpr int kExitLoad = 2;    // library or MI factory could not be loaded
    static constexpr int kExitUsage = 64;  // bad command line

    // out receives the results; everything else goes to standard error.
    CimHostTool(FILE* out, FILE* err);
    // parseArguments then execute.
    int run(const std::vector<std::string>& args);
    // CommandLine::kContinue, or the exit status (after --help, --version or
    // a usage error).
    int parseArguments(const std::vector<std::string>& args);
    int execute();
    // Where results go; may be changed after parseArguments.
    void setOutput(FILE* out) { out_ = out; }
    int verbosity() const { return verbosity_; }

    static std::string Usage();
    // $PNLMON_PROVIDER, else the first existing default: the installation's
    // provider (cmpi/ folder, then library folder), else the build tree's.
    static std::string DefaultProvider();

private:
    enum OptionId {
        kOptProvider = 0x100, kOptName, kOptNamespace, kOptJson, kOptBrief, kOptListFirst, kOptFailSetProperty,
        kOptFailDeliver, kOptFailAttach, kOptFailNewThread, kOptInterval, kOptCount,
        kOptRestartEvery
    };
    static CommandLine MakeCommandLine();
    bool option(int id, const char* value, std::string& error);
    static void MirrorDriverLog(int level);
    int commandInstances(const std::string& command);
    int commandWatch();
    // Prints the status line and remembers a failure.
    void report(const std::string& what, const cimhost::HostStatus& status);
    std::string briefLine(const cimhost::HostInstance& instance) const;
    void printIndication(const cimhost::HostIndication& indication);
    void emit(const std::string& text);

    FILE* out_;
    FILE* err_;
    std::mutex outMutex_;

    std::string provider_;
    std::string name_ = "DisplayProvider";
    std::string nameSpace_ = "root/cimv2";
    bool json_ = false;
    bool brief_ = false;     // one line per instance and per indication
    bool listFirst_ = false; // watch: list the instances before subscribing
    std::string command_;
    std::string deviceId_;
    double interval_ = 0;
    long count_ = 0; // 0 = until a signal
    long restartEvery_ = 0; // watch: 0 = never
    unsigned failSetProperty_ = 0;
    bool failDeliver_ = false;
    bool failAttach_ = false;
    bool failNewThread_ = false;

    int verbosity_ = 0;
    bool anyFailed_ = false;
    cimhost::CimHost* host_ = nullptr;
};
