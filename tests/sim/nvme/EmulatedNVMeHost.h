#ifndef TESTS_SIM_EMULATEDNVMEHOST_H
#define TESTS_SIM_EMULATEDNVMEHOST_H

#include <memory>
#include <string>
#include <vector>

#include "FakeNVMeHost.h"
#include "UmockdevRun.h"
#include "NVMeControllerModel.h"
#include "SimManagementController.h"

// One NVMe controller of an emulated host.
struct EmulatedController {
    std::string name;        // "nvme0": the node /dev/nvme0 and /sys/class/nvme/nvme0
    std::string pciAddress;  // "0000:3b:00.0"
    SysfsPciIds sysfsIds;
    std::shared_ptr<NVMeControllerModel> model;
    // sysfs faults: no "address" attribute; no PCI id files at all.
    bool addressReadable = true;
    bool pciIdsReadable = true;
};

// A host with NVMe controllers for the unmodified program, built with
// umockdev: the program runs with umockdev's preload library, which shows it
// an emulated /sys and /dev; the admin ioctls on each controller node are
// answered by the controller's model (in this process, on umockdev's worker
// thread). The program never reaches the machine's own devices.
//
// Open failures: umockdev cannot make the open of an emulated node fail
// with a chosen errno, so a model with failOpen() gets a node the program
// cannot open for writing (a directory: EISDIR), whatever errno was asked for.
typedef struct _UMockdevTestbed UMockdevTestbed;

class EmulatedNVMeHost {
public:
    EmulatedNVMeHost();
    // The controllers join a testbed another emulation made (the USB disks
    // of the management controller, say); runs then go through that one.
    explicit EmulatedNVMeHost(UMockdevTestbed* shared);
    ~EmulatedNVMeHost();
    EmulatedNVMeHost(const EmulatedNVMeHost&) = delete;
    EmulatedNVMeHost& operator=(const EmulatedNVMeHost&) = delete;

    void addController(const EmulatedController& controller);
    // A /dev entry without controller behind it (nvme0n1, nvme-fabrics).
    void addNode(const std::string& name);
    // The management controller's IPMI device /dev/ipmi0, answered by
    // `controller` (which must outlive the host).
    void addIPMIDevice(SimManagementController& controller);

    // Runs `executable` with `args` in `workDir` on the emulated host and
    // waits for it (killed after `timeoutSeconds`), isolated as every
    // end-to-end run; its sleeps return at once and are recorded.
    EmulatedRun run(const std::string& executable, const std::vector<std::string>& args,
                    const std::string& workDir, int timeoutSeconds = 60);

    // The sleeps of the last run, which returned at once (the test-only
    // sleep preload is loaded): "<function> <seconds>" lines in order.
    std::vector<std::string> sleeps() const;

    // Root of the emulated tree (its sys/ and dev/).
    std::string rootDir() const;

    // What programs did on a controller node ("nvme0"), in the order the
    // emulation saw it: "open N", "ioctl N 0xOP" (opcode in two lower-case
    // hex digits), "close N"; N numbers the opens of that node from 1.
    // umockdev notices a close late, if at all before the program ends: only
    // the numbers tell which open a command came on.
    std::vector<std::string> nodeEvents(const std::string& name) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

#endif
