#ifndef TESTS_SIM_ISOLATION_REFUSINGSCSIHOST_H
#define TESTS_SIM_ISOLATION_REFUSINGSCSIHOST_H

#include "ScsiHostAccess.h"
#include "ScopedSeam.h"

// What the SCSI host seam holds in every test executable until a test
// installs its own fake (FakeScsiHost): each call fails the running test and
// is refused with EPERM, so a fixture that forgot its fake fails instead of
// opening, asking or reading a real disk. Put back before every test
// (TestProcessState.h).
class RefusingScsiHost : public IScsiHostAccess {
public:
    static RefusingScsiHost& instance();

    int openDevice(const char* path, int flags) override;
    int closeDevice(int fd) override;
    int control(int fd, unsigned long request, void* argument) override;
    ssize_t readAt(int fd, void* buffer, size_t length, off_t offset) override;
    int statPath(const char* path, struct stat* info) override;
    bool listDirectory(const char* path, std::vector<std::string>& names) override;
};

// For tests of the Linux calls themselves, on paths that can never be a
// device (image files in the test's temporary folder): the plain system
// calls answer for the scope's lifetime.
class UseLinuxScsiHostAccess : public ScopedSeam<CScsiHostAccess> {
public:
    UseLinuxScsiHostAccess() : ScopedSeam(nullptr) {}
};

#endif
