#ifndef CM_KOLT_TESTS_ROLLBACKWRAPPERTEST_H
#define CM_KOLT_TESTS_ROLLBACKWRAPPERTEST_H

// A rollback wrapper over the real IPMI library and the management-controller
// model, on a simulated Red Hat host whose executable lies in the test's
// working directory (as it does once the update run changed there). The
// KOLT log is on; pauses are recorded in host.sleeps.

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "KoltTestSupport.h"
#include "UpdRollbackWrapper.h"

// The module host with the executable's folder of the test's choosing.
class RollbackHost : public FakeModuleHost {
public:
    std::string processDirectory;
    std::string getCurrentProcessDirectory() override
    {
        return processDirectory.empty() ? FakeModuleHost::getCurrentProcessDirectory() : processDirectory;
    }
};

// A package descriptor with one device of `componentId` and the version.
inline std::string RollbackPackage(const std::string& componentId = "1234",
                                   const std::string& vendorVersion = "2.5.0")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<SoftwareComponent vendorVersion=\"" + vendorVersion + "\">\n"
           "  <SupportedDevices>\n"
           "    <Device componentID=\"" + componentId + "\" embedded=\"1\">\n"
           "      <Display lang=\"en\"><![CDATA[ZAGO BOSS-N1 Modular]]></Display>\n"
           "    </Device>\n"
           "  </SupportedDevices>\n"
           "</SoftwareComponent>\n";
}

// One plan entry as "<mode> <source> -> <destination>".
inline std::string PlanText(const fDetails& entry)
{
    std::ostringstream text;
    text << entry.mode << ' ' << entry.source << " -> " << entry.destination;
    return text.str();
}

// Owns a plan and frees it the way every caller does.
class Plan {
public:
    explicit Plan(UpdRollbackWrapper& wrapper) : m_wrapper(wrapper) {}
    ~Plan() { m_wrapper.freeUpList(list); }
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;

    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const fDetails* entry : list)
            out.push_back(PlanText(*entry));
        return out;
    }

    std::vector<fDetails*> list;

private:
    UpdRollbackWrapper& m_wrapper;
};

class RollbackWrapperTest : public ::testing::Test {
protected:
    RollbackWrapperTest() : tessa(controller), device(controller)
    {
        sigaction(SIGINT, nullptr, &previousSigint);
        GenerationType = -1;
        ResetPartitionTable();
        StageRedHatHost(ns, host, dir);
        host.processDirectory = dir.path() + "/";
        dir.write("package.xml", RollbackPackage());
    }

    ~RollbackWrapperTest() override
    {
        wrapper.reset();
        ReleaseQRMIPMILibrary();
        ResetPartitionTable();
        GenerationType = -1;
        sigaction(SIGINT, &previousSigint, nullptr);
    }

    // A wrapper built as the update run builds it; frames, pauses, commands
    // and log lines of its construction are not the test's.
    UpdRollbackWrapper& NewWrapper()
    {
        wrapper.reset();
        wrapper.reset(new UpdRollbackWrapper);
        Mark();
        return *wrapper;
    }

    // The number the construction threw, or -1 when it built.
    int ConstructionError()
    {
        wrapper.reset();
        try {
            wrapper.reset(new UpdRollbackWrapper);
        } catch (unsigned char error) {
            return error;
        }
        return -1;
    }

    void Mark()
    {
        frameMark = controller.Frames().size();
        host.sleeps.clear();
        host.commands.clear();
        logMark = KoltLogMessages(dir.file("KOLT_DBG.log")).size();
    }
    std::vector<std::string> NewFrames() const
    {
        std::vector<std::string> frames;
        const std::vector<Bytes> all = controller.Frames();
        for (size_t i = frameMark; i < all.size(); ++i)
            frames.push_back(SimHex(all[i]));
        return frames;
    }
    std::vector<std::string> NewLog() const
    {
        const std::vector<std::string> all = KoltLogMessages(dir.file("KOLT_DBG.log"));
        return std::vector<std::string>(all.begin() + std::min(logMark, all.size()), all.end());
    }
    std::vector<std::string> Log() const { return KoltLogMessages(dir.file("KOLT_DBG.log")); }

    struct sigaction previousSigint;
    HostNamespace ns;
    TempDir dir;
    bool logOn = (dir.write("zordebuglog", ""), true);
    RollbackHost host;
    FakeHostGuard hostGuard{host, ns};
    SimManagementController controller;
    SimTessaController tessa;
    SimIPMIDevice device;
    SimIPMISleepRecorder libSleeps;
    SimIPMISeamGuard seams{&device, &libSleeps};
    std::unique_ptr<UpdRollbackWrapper> wrapper;
    size_t frameMark = 0;
    size_t logMark = 0;
};

#endif
