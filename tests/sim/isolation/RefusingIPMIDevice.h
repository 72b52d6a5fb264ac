#ifndef TESTS_SIM_ISOLATION_REFUSINGIPMIDEVICE_H
#define TESTS_SIM_ISOLATION_REFUSINGIPMIDEVICE_H

#include "QRMIPMIDeviceAccess.h"
#include "ScopedSeam.h"

// What the IPMI device seam holds in every test executable until a test
// installs its own device (SimIPMISeamGuard): each call fails the running
// test and is refused with EPERM, so a fixture that forgot its simulated
// device fails instead of opening or commanding a real management
// controller. Put back before every test (TestProcessState.h), together
// with the IPMI library's first-use state (no sessions, settings file not
// read, library log closed, real uname and pauses).
class RefusingIPMIDevice : public IQRMIPMIDevice {
public:
    static RefusingIPMIDevice& instance();

    int Open(const char* path) override;
    int SendCommand(int fd, struct ipmi_req* request) override;
    int WaitReadable(int fd, const struct timespec& timeout, bool& readable) override;
    int ReceiveMessage(int fd, struct ipmi_recv* answer) override;
    int Close(int fd) override;
};

// For tests of the Linux device itself, on descriptors and paths that can
// never be a device (pipes, missing paths): the plain system calls answer
// for the scope's lifetime.
class UseLinuxIPMIDevice : public ScopedSeam<QRMIPMIDeviceAccess> {
public:
    UseLinuxIPMIDevice() : ScopedSeam(nullptr) {}
};

#endif
