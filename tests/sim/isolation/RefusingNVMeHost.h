#ifndef TESTS_SIM_ISOLATION_REFUSINGNVMEHOST_H
#define TESTS_SIM_ISOLATION_REFUSINGNVMEHOST_H

#include "NVMeHostAccess.h"
#include "ScopedSeam.h"

// What the NVMe host seam holds in every test executable until a test
// installs its own fake (FakeNVMeHost): each call fails the running test and
// is refused with EPERM, so a fixture that forgot its fake fails instead of
// listing, opening or commanding a real controller. Put back before every
// test (TestProcessState.h).
class RefusingNVMeHost : public INVMeHostAccess {
public:
    static RefusingNVMeHost& instance();

    int openDevice(const char* path, int flags) override;
    int closeDevice(int fd) override;
    int adminCommand(int fd, nvme_passthru_cmd* cmd) override;
    FILE* openListing(const char* command) override;
    int closeListing(FILE* stream) override;
    FILE* openAttribute(const char* path) override;
    int statAttribute(const char* path, struct stat* info) override;
};

// For tests of the Linux implementation itself, on paths that can never be
// a device (a file of the test's temporary folder): the plain system calls
// answer for the scope's lifetime.
class UseLinuxNVMeHostAccess : public ScopedSeam<CNVMeHostAccess> {
public:
    UseLinuxNVMeHostAccess() : ScopedSeam(nullptr) {}
};

#endif
