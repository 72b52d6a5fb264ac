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
// files included), unless the request asks for a private /tmp.
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
    // Put first in LD_PRELOAD (before what the caller's LD_PRELOAD holds);
    // several libraries are separated by ':' (a test library that must come
    // before umockdev's: "/path/libzago_sleep_preload.so:libumockdev-preload.so.0").
    // Empty: nothing is preloaded.
    std::string preload = "libumockdev-preload.so.0";
    // Extra "NAME=value" entries; they replace a variable of the same name.
    // The search path starts with module tools that never touch the kernel
    // (lsmod shows the IPMI modules loaded, modprobe/rmmod/insmod fail); a
    // request that sets PATH itself must bring its own.
    std::vector<std::string> environment;
    std::string input;                    // standard input
    int timeoutSeconds = 60;              // then the child is killed

    // The private /dev stays writable (it is read-only otherwise), for
    // programs that put links there ("/dev/sectesupd-*"); it stays the
    // child's own tmpfs, so nothing reaches the machine's /dev.
    bool writableDev = false;
    // A fresh, empty tmpfs over /tmp, so that what the program makes there
    // ("/tmp/<label>" mount points, scratch files) dies with the run. The
    // testbed and the working folder, when they lie in /tmp, are bound at
    // their own paths; other folders of the caller's /tmp the run needs
    // (backing folders, fake tools) are given in `binds`.
    bool privateTmp = false;
    // Folders of the caller shown in the child: source (as the caller sees
    // it) bound over target, after the private /dev, /sys and /tmp are made
    // (missing folders of the target are created there first). A target
    // under /sys (e.g. "/sys/class/scsi_generic" over the testbed's, which
    // umockdev does not redirect for scandir) is how a private /sys gets
    // entries the program lists.
    struct Bind {
        std::string source;
        std::string target;
    };
    std::vector<Bind> binds;

    // Shell scripts run as root in the child's namespace, with a plain search
    // path and without any preload: `before` once /dev, /sys, /tmp and the
    // binds are in place and before the program starts (another user's doing
    // on the host, say; a failure stops the run before the program), `after`
    // once the program has ended (a look at what it left there, which dies
    // with the namespace). Their standard error goes to the run's; what
    // `after` prints is the result's `afterOut`. Empty: not run.
    std::string before;
    std::string after;
};

struct LaunchResult {
    int exitStatus = -1;   // exit status, or 128 + signal number
    bool timedOut = false;
    std::string out;       // standard output
    std::string err;       // standard error
    std::string afterOut;  // standard output of the request's `after`
};

LaunchResult launchIsolated(const LaunchRequest& request);

#endif
