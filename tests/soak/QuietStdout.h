// Points standard output at /dev/null while alive: the driver writes its
// device counts and change traces there on every enumeration.
#pragma once

class QuietStdout {
public:
    QuietStdout();
    ~QuietStdout();
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved_;
};
