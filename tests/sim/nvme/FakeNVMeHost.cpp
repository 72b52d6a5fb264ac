#include "FakeNVMeHost.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string sysfsHex(uint16_t value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04x\n", value);
    return text;
}

// Ends in "nvme" (any case) and one digit, or two digits without a leading
// zero: what the two grep patterns of the listing accept.
bool isControllerName(const std::string& name)
{
    size_t digits = 0;
    while (digits < name.size() && std::isdigit(static_cast<unsigned char>(name[name.size() - 1 - digits])))
        ++digits;
    if (digits == 0 || digits > 2 || name.size() < digits + 4)
        return false;
    std::string stem = name.substr(name.size() - digits - 4, 4);
    for (char& c : stem)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (stem != "nvme")
        return false;
    return digits == 1 || name[name.size() - 2] != '0';
}

} // namespace

FakeNVMeHost::FakeNVMeHost()
    : m_reportedSize(4096), m_listingOverridden(false), m_listingError(0), m_nextFd(1000)
{
}

FakeNVMeHost::~FakeNVMeHost() {}

void FakeNVMeHost::addController(const std::string& name, const std::string& pciAddress,
                                 std::shared_ptr<NVMeControllerModel> model, const SysfsPciIds& ids)
{
    addNode(name);
    m_models["/dev/" + name] = model;
    setAttribute("/sys/class/nvme/" + name + "/address", pciAddress + "\n");
    std::string pci = "/sys/bus/pci/devices/" + pciAddress;
    setAttribute(pci + "/vendor", sysfsHex(ids.vendor));
    setAttribute(pci + "/device", sysfsHex(ids.device));
    setAttribute(pci + "/subsystem_vendor", sysfsHex(ids.subVendor));
    setAttribute(pci + "/subsystem_device", sysfsHex(ids.subDevice));
}

void FakeNVMeHost::addNode(const std::string& name) { m_nodes.push_back(name); }

void FakeNVMeHost::setAttribute(const std::string& path, const std::string& content)
{
    m_attributes[path] = content;
}

void FakeNVMeHost::removeAttribute(const std::string& path) { m_attributes.erase(path); }

void FakeNVMeHost::setListingOutput(const std::string& text)
{
    m_listingOverridden = true;
    m_listingOutput = text;
}

void FakeNVMeHost::failListing(int error) { m_listingError = error; }

std::string FakeNVMeHost::listingText() const
{
    if (m_listingOverridden)
        return m_listingOutput;
    // As `ls -a /dev | grep -e 'nvme[0-9]$' -e 'nvme[1-9][0-9]$'` prints
    // them: controller nodes only, sorted by name.
    std::vector<std::string> names;
    for (const std::string& node : m_nodes)
        if (isControllerName(node))
            names.push_back(node);
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& name : names)
        text += name + "\n";
    return text;
}

FILE* FakeNVMeHost::streamOf(const std::string& text)
{
    if (text.empty())
        return std::tmpfile();
    m_streamTexts.push_back(text);
    std::string& backing = m_streamTexts.back();
    return fmemopen(&backing[0], backing.size(), "r");
}

int FakeNVMeHost::openDevice(const char* path, int /*flags*/)
{
    m_openedPaths.push_back(path);
    auto model = m_models.find(path);
    if (model == m_models.end()) {
        errno = ENOENT;
        return -1;
    }
    int error = model->second->openError();
    if (error != 0) {
        errno = error;
        return -1;
    }
    int fd = m_nextFd++;
    m_openFds[fd] = model->second;
    return fd;
}

int FakeNVMeHost::closeDevice(int fd)
{
    if (m_openFds.erase(fd) == 0) {
        errno = EBADF;
        return -1;
    }
    return 0;
}

int FakeNVMeHost::adminCommand(int fd, nvme_passthru_cmd* cmd)
{
    auto open = m_openFds.find(fd);
    if (open == m_openFds.end()) {
        errno = EBADF;
        return -1;
    }
    int error = 0;
    uint8_t* data = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(cmd->addr));
    int result = open->second->execute(*cmd, data, error);
    if (result < 0)
        errno = error;
    return result;
}

FILE* FakeNVMeHost::openListing(const char* command)
{
    m_listingCommands.push_back(command);
    if (m_listingError != 0) {
        errno = m_listingError;
        return nullptr;
    }
    return streamOf(listingText());
}

int FakeNVMeHost::closeListing(FILE* stream) { return std::fclose(stream); }

FILE* FakeNVMeHost::openAttribute(const char* path)
{
    m_attributeReads.push_back(path);
    auto attribute = m_attributes.find(path);
    if (attribute == m_attributes.end()) {
        errno = ENOENT;
        return nullptr;
    }
    return streamOf(attribute->second);
}

int FakeNVMeHost::statAttribute(const char* path, struct stat* info)
{
    if (m_attributes.find(path) == m_attributes.end()) {
        errno = ENOENT;
        return -1;
    }
    std::memset(info, 0, sizeof(*info));
    info->st_mode = S_IFREG | 0444;
    info->st_size = m_reportedSize;
    return 0;
}
