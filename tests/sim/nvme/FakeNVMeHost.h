#ifndef TESTS_SIM_FAKENVMEHOST_H
#define TESTS_SIM_FAKENVMEHOST_H

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "NVMeControllerModel.h"
#include "NVMeHostAccess.h"
#include "ScopedSeam.h"

// PCI identity as sysfs presents it.
struct SysfsPciIds {
    uint16_t vendor = 0;
    uint16_t device = 0;
    uint16_t subVendor = 0;
    uint16_t subDevice = 0;
};

// In-process stand-in for the host's NVMe nodes, node listing and sysfs,
// answered by controller models. Installed as the adapter's host access for
// its lifetime.
class FakeNVMeHost : public INVMeHostAccess {
public:
    FakeNVMeHost();
    ~FakeNVMeHost() override;
    FakeNVMeHost(const FakeNVMeHost&) = delete;
    FakeNVMeHost& operator=(const FakeNVMeHost&) = delete;

    // /dev/<name> answered by `model`, with /sys/class/nvme/<name>/address
    // naming `pciAddress` and the PCI directory's four id files (written as
    // sysfs does: "0x1b4b\n").
    void addController(const std::string& name, const std::string& pciAddress,
                       std::shared_ptr<NVMeControllerModel> model, const SysfsPciIds& ids);
    // A /dev entry that is no controller (nvme0n1, nvme-fabrics, ...).
    void addNode(const std::string& name);

    void setAttribute(const std::string& path, const std::string& content);
    void removeAttribute(const std::string& path);
    // Size stat reports for attribute files (sysfs: 4096).
    void setReportedSize(long size) { m_reportedSize = size; }

    // The listing normally is what `ls -a /dev | grep nvmeN` prints for the
    // nodes added; these replace it.
    void setListingOutput(const std::string& text);
    void failListing(int error);

    // Host accesses seen.
    const std::vector<std::string>& listingCommands() const { return m_listingCommands; }
    const std::vector<std::string>& openedPaths() const { return m_openedPaths; }
    const std::vector<std::string>& attributeReads() const { return m_attributeReads; }
    size_t openDescriptors() const { return m_openFds.size(); }

    // INVMeHostAccess
    int openDevice(const char* path, int flags) override;
    int closeDevice(int fd) override;
    int adminCommand(int fd, nvme_passthru_cmd* cmd) override;
    FILE* openListing(const char* command) override;
    int closeListing(FILE* stream) override;
    FILE* openAttribute(const char* path) override;
    int statAttribute(const char* path, struct stat* info) override;

private:
    std::string listingText() const;
    FILE* streamOf(const std::string& text);

    std::map<std::string, std::shared_ptr<NVMeControllerModel>> m_models;  // by device path
    std::vector<std::string> m_nodes;
    std::map<std::string, std::string> m_attributes;
    long m_reportedSize;
    bool m_listingOverridden;
    std::string m_listingOutput;
    int m_listingError;
    std::map<int, std::shared_ptr<NVMeControllerModel>> m_openFds;
    int m_nextFd;
    std::list<std::string> m_streamTexts;  // backing store of the memory streams handed out
    std::vector<std::string> m_listingCommands;
    std::vector<std::string> m_openedPaths;
    std::vector<std::string> m_attributeReads;
    // Last: the fake is complete before it is installed.
    ScopedSeam<CNVMeHostAccess> m_installed{this};
};

#endif
