#ifndef TESTS_SIM_EMULATEDIPMIDEVICE_H
#define TESTS_SIM_EMULATEDIPMIDEVICE_H

#include <memory>
#include <string>
#include <vector>

#include "SimManagementController.h"
#include "UmockdevRun.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

// The IPMI device node "/dev/ipmi0" of a umockdev testbed, answered by a
// SimManagementController (with whatever model is installed on it, such as
// SimTessaController): a program running under the testbed's preload sends
// and receives through the real open/ioctl/poll calls, and the model here
// answers on umockdev's worker thread.
//
// The node is a pty: while the model holds an answer, a byte waits on it,
// so poll() reports it readable exactly when the kernel's device would.
class EmulatedIPMIDevice {
public:
    // Adds the node to `testbed`; the testbed and the controller must
    // outlive the object.
    EmulatedIPMIDevice(UMockdevTestbed* testbed, SimManagementController& controller);
    ~EmulatedIPMIDevice();
    EmulatedIPMIDevice(const EmulatedIPMIDevice&) = delete;
    EmulatedIPMIDevice& operator=(const EmulatedIPMIDevice&) = delete;

    struct Impl;   // the node's state, shared with umockdev's handler

private:
    std::unique_ptr<Impl> m_impl;
};

// A host whose only device is the IPMI node answered by `controller`.
class EmulatedIPMIHost {
public:
    explicit EmulatedIPMIHost(SimManagementController& controller);
    ~EmulatedIPMIHost();
    EmulatedIPMIHost(const EmulatedIPMIHost&) = delete;
    EmulatedIPMIHost& operator=(const EmulatedIPMIHost&) = delete;

    // See RunUnderUmockdev.
    EmulatedRun run(const std::string& executable, const std::vector<std::string>& args,
                    const std::string& workDir, int timeoutSeconds = 60);
    std::string rootDir() const { return m_root; }
    UMockdevTestbed* testbed() const { return m_testbed; }

private:
    UMockdevTestbed* m_testbed = nullptr;
    std::string m_root;
    std::unique_ptr<EmulatedIPMIDevice> m_device;
};

#endif
