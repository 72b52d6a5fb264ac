#ifndef TESTS_SIM_UMOCKDEVRUN_H
#define TESTS_SIM_UMOCKDEVRUN_H

#include <string>
#include <vector>

// Result of one run of a program on an emulated host.
struct EmulatedRun {
    int exitStatus = -1;  // exit status, or 128 + signal number
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs `executable` with `args` in `workDir` under umockdev's preload, with
// the emulated tree at `root` (a testbed's root folder), and waits for it
// (killed after `timeoutSeconds`). Standard input is empty; standard output
// and error are captured. The child inherits this process's mount namespace
// (see HostNamespace).
EmulatedRun RunUnderUmockdev(const std::string& root, const std::string& executable,
                             const std::vector<std::string>& args, const std::string& workDir,
                             int timeoutSeconds = 60);

#endif
