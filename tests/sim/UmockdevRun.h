#ifndef TESTS_SIM_UMOCKDEVRUN_H
#define TESTS_SIM_UMOCKDEVRUN_H

#include <string>
#include <vector>

#include "IsolatedLauncher.h"

// Result of one run of a program on an emulated host.
using EmulatedRun = LaunchResult;

// Runs `executable` with `args` in `workDir` under umockdev's preload, with
// the emulated tree at `root` (a testbed's root folder), and waits for it
// (killed after `timeoutSeconds`). Standard input is empty; standard output
// and error are captured. The child gets private /dev and /sys (see
// launchIsolated), so a preload that fails to load finds no real device.
EmulatedRun RunUnderUmockdev(const std::string& root, const std::string& executable,
                             const std::vector<std::string>& args, const std::string& workDir,
                             int timeoutSeconds = 60);

#endif
