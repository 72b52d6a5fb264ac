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

    if (kernelIsVMkernel()) {
        hostOsIndex = ESXi;
        TESSA_LOG("getLinuxOSVer: ESXi Found");
        return true;
    }

    if (pathExists(ESXRel)) {
        const std::string line = firstReleaseLine(ESXRel);
        if (contains(line, "VMware ESX Server 3")) {
            hostOsIndex = ESX;
            TESSA_LOG("getLinuxOSVer: ESX 3 Found");
            return true;
        }
        // A 4.1 line also holds "VMware ESX 4".
        if (contains(line, "VMware ESX 4.1")) {
            hostOsIndex = ESX4_1;
            TESSA_LOG("getLinuxOSVer: ESX 4 Found");
            return true;
        }
        if (contains(line, "VMware ESX 4")) {
            hostOsIndex = ESX4;
            TESSA_LOG("getLinuxOSVer: ESX 4 Found");
            return true;
        }
        TESSA_LOG("getLinuxOSVer: Unrecognized VMWare Found");
    }

    if (pathExists(RedHatRel)) {
        const std::string line = firstReleaseLine(RedHatRel);
        if (contains(line, "Red Hat")) {
            hostOsIndex = REDHAT;
            TESSA_LOG("getLinuxOSVer REDHAT found");
            return true;
        }
        if (contains(line, "XenServer")) {
            hostOsIndex = XENSERVER;
            TESSA_LOG("getLinuxOSVer Xenserver found");
            return true;
        }
        if (pathExists(NewPNBRel)) {
            // The newer image carries a CentOS-like release line; its own
            // file decides, and the CentOS test is not made.
            if (anyReleaseLineContains(NewPNBRel, "RVX_MAJOR_VERSION")) {
                hostOsIndex = UVO_NEW;
                TESSA_LOG("getLinuxOSVer: NEW UVO(PNB) Found");
                return true;
            }
        } else if (contains(line, "Cent")) {
            hostOsIndex = CENTOS;
            TESSA_LOG("getLinuxOSVer CentOS found");
            return true;
        }
    }

    if (pathExists(SuseRel)) {
        hostOsIndex = SUSE;
        TESSA_LOG("getLinuxOSVer: SLES Found");
        return true;
    }

    if (pathExists(RVXRel) && anyReleaseLineContains(RVXRel, "RVX_MAJOR_VERSION")) {
        hostOsIndex = UVO;
        TESSA_LOG("getLinuxOSVer: UVO(RVX) Found");
        return true;
    }

    if (pathExists(PNBRel) && anyReleaseLineContains(PNBRel, "PNB_MAJOR_VERSION")) {
        hostOsIndex = UVO;
        TESSA_LOG("getLinuxOSVer: UVO(PNB) Found");
        return true;
    }

    // An unrecognised host is handled as Red Hat.
    hostOsIndex = REDHAT;
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
