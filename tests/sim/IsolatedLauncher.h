#ifndef TESTS_SIM_ISOLATEDLAUNCHER_H
#define TESTS_SIM_ISOLATEDLAUNCHER_H

#include <string>
#include <vector>

// Runs a program (usually the real, unmodified executable) the way every
// end-to-end test must: under umockdev's preload, and in a mount namespace
// of its own whose /dev and /sys are fresh, private tmpfs folders. The
// preload is what shows the program the emulated devices; the private
// folders are what keeps it from the machine's devices should the preload
// not load (a missing library only earns a warning from the dynamic loader,
// and the program then runs on the real /dev as root).
//
// The private /dev holds only what ordinary programs and shells need and
// umockdev relies on: null, zero, full, random, urandom, fd, stdin, stdout,
// stderr, an empty shm, and the machine's pts (umockdev's emulated nodes
// are pseudo-terminals; none of them is hardware). The private /sys is empty.
// The testbed itself lives under /tmp, which the child sees as the caller
// does, as it sees every mount of the caller's namespace (HostNamespace
// files included).
//
// Needs root (CAP_SYS_ADMIN). When the namespace or the folders cannot be
// set up, the program is never started: the call records a gtest failure
// and throws.

struct LaunchRequest {
    std::string executable;               // absolute path
    std::vector<std::string> args;        // after argv[0] (which is `executable`)
    std::string workDir;                  // the child's working directory; empty: the caller's
    // Root of the umockdev testbed (its sys/ and dev/); given to the child as
    // UMOCKDEV_DIR. Empty: no testbed is named.
    std::string umockdevRoot;
    // Put first in LD_PRELOAD (before what the caller's LD_PRELOAD holds).
    // Empty: nothing is preloaded.
    std::string preload = "libumockdev-preload.so.0";
    // Extra "NAME=value" entries; they replace a variable of the same name.
    std::vector<std::string> environment;
    std::string input;                    // standard input
    int timeoutSeconds = 60;              // then the child is killed
};

struct LaunchResult {
    int exitStatus = -1;   // exit status, or 128 + signal number
    bool timedOut = false;
    std::string out;       // standard output
    std::string err;       // standard error
};

LaunchResult launchIsolated(const LaunchRequest& request);

#endif
