#ifndef CM_QRMIPMI_TESTS_IPMIHOSTFAKES_H
#define CM_QRMIPMI_TESTS_IPMIHOSTFAKES_H

// Host stand-ins for the IPMI library's tests: kernel-module commands and
// operating-system detection. Header-only, included by the test programs.

#include <sys/utsname.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "HostNamespace.h"
#include "PlatformLayer.h"
#include "QRMEnvironmentInfo.h"
#include "ScopedSeam.h"
#include "SimPlatform.h"

// Host whose module state is a set of loaded module names; records every
// command instead of running it.
class FakeModuleHost : public SimPlatform {
public:
    std::set<std::string> loaded{"ipmi_msghandler", "ipmi_devintf", "ipmi_si"};
    std::set<std::string> loadable;

    FakeModuleHost()
    {
        answerPrefix("lsmod ", [this](const std::string& command) {
            return loaded.count(ModuleOf(command)) ? 0 : 256;
        });
        answerPrefix("modprobe ", [this](const std::string& command) {
            const std::string name = ModuleOf(command);
            if (!loadable.count(name))
                return 256;
            loaded.insert(name);
            return 0;
        });
        answerPrefix("rmmod ", [this](const std::string& command) {
            loaded.erase(ModuleOf(command));
            return 0;
        });
    }

private:
    static std::string ModuleOf(const std::string& command)
    {
        for (const char* name : {"ipmi_msghandler", "ipmi_devintf", "ipmi_si"})
            if (command.find(std::string(" ") + name + " ") != std::string::npos)
                return name;
        return "";
    }
};

// uname() system name the fake reports.
inline std::string& FakeSysname()
{
    static std::string name = "Linux";
    return name;
}

// uname() reporting FakeSysname(), or failing.
class FakeUname : public IQRMUname {
public:
    bool works = true;

    int Uname(struct utsname* name) override
    {
        if (!works)
            return -1;
        std::memset(name, 0, sizeof(*name));
        std::strncpy(name->sysname, FakeSysname().c_str(), sizeof(name->sysname) - 1);
        return 0;
    }
};

// Installs the module host and an ordinary Linux identity for the lifetime
// of a scope: uname() says "Linux", and the test's mount namespace has no
// ESX release file ("/etc/vmware-release"; tests may write one with
// ns.writeFile).
class FakeHostGuard {
public:
    FakeHostGuard(FakeModuleHost& host, HostNamespace& ns) : mPlatform(host), mUnameSeam(mUname)
    {
        FakeSysname() = "Linux";
        ns.overlay("/etc");
        ns.remove(strESXVerFile.GetUTF8String());
    }

private:
    ScopedSeam<CPlatformLayer> mPlatform;
    FakeUname mUname;
    ScopedSeam<QRMUnameAccess> mUnameSeam;
};

#endif
