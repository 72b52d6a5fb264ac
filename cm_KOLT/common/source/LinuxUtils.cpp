#include "SecureTessa.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "LinuxImpl.h"
#include "PlatformLayer.h"

const char* ESXiKernel = "VMkernel";

namespace {

// Release files are read a line at a time into a buffer of this size.
const std::streamsize kReleaseLineBuffer = 1024;

bool pathExists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// Reads the next line of at most kReleaseLineBuffer - 1 characters. A longer
// line cannot be compared whole, and neither can anything after a read
// error: both end the scan of the file as "no more lines", so such a file
// simply does not match.
bool nextReleaseLine(std::ifstream& in, std::string& line)
{
    line.clear();
    if (!in.is_open() || !in.good())
        return false;
    char buffer[kReleaseLineBuffer];
    in.getline(buffer, kReleaseLineBuffer);
    if (in.fail())
        return false;
    // gcount() counts the newline too, unless the file ended first.
    std::streamsize stored = in.gcount();
    if (!in.eof() && stored > 0)
        --stored;
    line.assign(buffer, static_cast<size_t>(stored));
    return true;
}

// The first line of an existing file; empty when it is too long or cannot
// be read.
std::string firstReleaseLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    nextReleaseLine(in, line);
    return line;
}

// Whether any line of the file contains `text`.
bool anyReleaseLineContains(const std::string& path, const std::string& text)
{
    std::ifstream in(path);
    std::string line;
    while (nextReleaseLine(in, line))
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

bool contains(const std::string& line, const char* text) { return line.find(text) != std::string::npos; }

// The kernel name is one fact of the host: the platform layer holds it (and
// tests replace it there, as no mount namespace can change uname()).
bool kernelIsVMkernel()
{
    CLinuxImpl* platform = dynamic_cast<CLinuxImpl*>(CPlatformLayer::GetPlatform());
    return platform != nullptr && platform->isESXiSystem();
}

// The host: its index and the line that says why (none for a host that
// nothing recognised).
struct DetectedHost {
    int index;
    const char* message;
};

// VMware release lines, tested in this order: a 4.1 line also holds
// "VMware ESX 4".
const struct {
    const char* text;
    int index;
    const char* message;
} kVMwareReleases[] = {
    {"VMware ESX Server 3", ESX, "getLinuxOSVer: ESX 3 Found"},
    {"VMware ESX 4.1", ESX4_1, "getLinuxOSVer: ESX 4 Found"},
    {"VMware ESX 4", ESX4, "getLinuxOSVer: ESX 4 Found"},
};

// The kernel name first, then the release files in their order of
// precedence; an unrecognised host is handled as Red Hat.
DetectedHost detectHost()
{
    if (kernelIsVMkernel())
        return {ESXi, "getLinuxOSVer: ESXi Found"};

    if (pathExists(ESXRel)) {
        const std::string line = firstReleaseLine(ESXRel);
        for (const auto& release : kVMwareReleases)
            if (contains(line, release.text))
                return {release.index, release.message};
        TESSA_LOG("getLinuxOSVer: Unrecognized VMWare Found");
    }

    if (pathExists(RedHatRel)) {
        const std::string line = firstReleaseLine(RedHatRel);
        if (contains(line, "Red Hat"))
            return {REDHAT, "getLinuxOSVer REDHAT found"};
        if (contains(line, "XenServer"))
            return {XENSERVER, "getLinuxOSVer Xenserver found"};
        if (pathExists(NewPNBRel)) {
            // The newer image carries a CentOS-like release line; its own
            // file decides, and the CentOS test is not made.
            if (anyReleaseLineContains(NewPNBRel, "RVX_MAJOR_VERSION"))
                return {UVO_NEW, "getLinuxOSVer: NEW UVO(PNB) Found"};
        } else if (contains(line, "Cent")) {
            return {CENTOS, "getLinuxOSVer CentOS found"};
        }
    }

    if (pathExists(SuseRel))
        return {SUSE, "getLinuxOSVer: SLES Found"};
    // A missing file has no lines.
    if (anyReleaseLineContains(RVXRel, "RVX_MAJOR_VERSION"))
        return {UVO, "getLinuxOSVer: UVO(RVX) Found"};
    if (anyReleaseLineContains(PNBRel, "PNB_MAJOR_VERSION"))
        return {UVO, "getLinuxOSVer: UVO(PNB) Found"};
    return {REDHAT, nullptr};
}

} // namespace

bool secureTessa::getLinuxOSVer()
{
    if (hostOsIndex != -1) {
        TESSA_LOG("getLinuxOSVer OS Version previously set");
        return true;
    }
    if (setuid(0) != 0) {
        TESSA_LOG("getLinuxOSVer:user is not root");
        return false;
    }
    const DetectedHost host = detectHost();
    hostOsIndex = host.index;
    if (host.message != nullptr)
        TESSA_LOG(host.message);
    return true;
}

bool secureTessa::isESXiOS()
{
    TESSA_LOG("Enter secureTessa::isESXiOS");
    bool esxi = false;
    getLinuxOSVer();
    if (hostOsIndex == ESXi) {
        TESSA_LOG("ESXi OS Found");
        esxi = true;
    }
    TESSA_LOG("Exit secureTessa::isESXiOS");
    return esxi;
}
