#ifndef CM_QRMIPMI_TESTS_IPMIHOSTFAKES_H
#define CM_QRMIPMI_TESTS_IPMIHOSTFAKES_H

// Host stand-ins for the IPMI library's tests: kernel-module commands and
// operating-system detection. Header-only, included by the test programs.

#include <sys/utsname.h>

#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "LinuxImpl.h"
#include "PlatformLayer.h"
#include "QRMEnvironmentInfo.h"

// Host whose module state is a set of loaded module names; records every
// command instead of running it.
class FakeModuleHost : public CLinuxImpl {
public:
    std::set<std::string> loaded{"ipmi_msghandler", "ipmi_devintf", "ipmi_si"};
    std::set<std::string> loadable;
    std::vector<std::string> commands;

    int ExecuteCmd(const std::string& command, bool, const long&) override
    {
        std::lock_guard<std::mutex> lock(mMutex);
        commands.push_back(command);
        const std::string name = ModuleOf(command);
        if (command.rfind("lsmod ", 0) == 0)
            return loaded.count(name) ? 0 : 256;
        if (command.rfind("modprobe ", 0) == 0) {
            if (!loadable.count(name))
                return 256;
            loaded.insert(name);
            return 0;
        }
        if (command.rfind("rmmod ", 0) == 0) {
            loaded.erase(name);
            return 0;
        }
        return 127;
    }

    std::vector<std::string> Commands()
    {
        std::lock_guard<std::mutex> lock(mMutex);
        return commands;
    }

private:
    static std::string ModuleOf(const std::string& command)
    {
        for (const char* name : {"ipmi_msghandler", "ipmi_devintf", "ipmi_si"})
            if (command.find(std::string(" ") + name + " ") != std::string::npos)
                return name;
        return "";
    }

    std::mutex mMutex;
};

// uname() system name the fake reports.
inline std::string& FakeSysname()
{
    static std::string name = "Linux";
    return name;
}

inline int FakeUname(struct utsname* name)
{
    std::memset(name, 0, sizeof(*name));
    std::strncpy(name->sysname, FakeSysname().c_str(), sizeof(name->sysname) - 1);
    return 0;
}

inline int FailingUname(struct utsname*) { return -1; }

// Installs the module host and an ordinary Linux identity (no ESX release
// file at the given path) for the lifetime of a scope.
class FakeHostGuard {
public:
    FakeHostGuard(FakeModuleHost& host, const std::string& releaseFile)
        : mPrevPlatform(CPlatformLayer::SetPlatformImplForTesting(&host)),
          mPrevUname(QRMLXOperatingSystemVersion::SetUnameForTesting(FakeUname)),
          mPrevRelease(QRMLXOperatingSystemVersion::SetReleaseFileForTesting(releaseFile))
    {
        FakeSysname() = "Linux";
    }
    ~FakeHostGuard()
    {
        CPlatformLayer::SetPlatformImplForTesting(mPrevPlatform);
        QRMLXOperatingSystemVersion::SetUnameForTesting(mPrevUname);
        QRMLXOperatingSystemVersion::SetReleaseFileForTesting(mPrevRelease);
    }

private:
    FakeHostGuard(const FakeHostGuard&) = delete;
    FakeHostGuard& operator=(const FakeHostGuard&) = delete;

    IPlatformImpl* mPrevPlatform;
    QRMLXOperatingSystemVersion::UnameFunction mPrevUname;
    std::string mPrevRelease;
};

#endif
