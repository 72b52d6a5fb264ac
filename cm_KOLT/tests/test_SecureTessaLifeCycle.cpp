// The client's life: construction (library, host, udev rules), the
// initialisation that opens the working session and cleans up what an
// earlier run left, and destruction, against the controller model.

#include "KoltTestSupport.h"

namespace {

const std::string kRuleUsb = std::string(kUdevRulesEtc) + "98-secupdusb.rules";
const std::string kRuleKave = std::string(kUdevRulesEtc) + "00-secupd-kave.rules";
const std::string kEndFrame = "30 A2 01 34 12 00 00";
const std::string kRmmodUsb = "rmmod usb_storage  > /dev/null 2>&1";

bool Exists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

class LifeCycleTest : public TessaClientTest {
protected:
    // The platform's usb_storage check, as an attach makes it: the module
    // is built in, present, or loaded now by this run.
    void ScriptUsbStorage(bool present)
    {
        host.answer("grep -i \"usb[-_]storage.ko\" /lib/modules/$(uname -r)/modules.builtin  > /dev/null 2>&1",
                    256);
        usbLoaded = present;
        host.answer("lsmod | grep usb_storage  > /dev/null 2>&1", [this](const std::string&) {
            return usbLoaded ? 0 : 256;
        });
        host.answer("modprobe usb_storage  > /dev/null 2>&1", [this](const std::string&) {
            usbLoaded = true;
            return 0;
        });
        host.answer(kRmmodUsb, [this](const std::string&) {
            usbLoaded = false;
            return 0;
        });
    }

    size_t Count(const std::vector<std::string>& frames, const std::string& prefix)
    {
        return static_cast<size_t>(std::count_if(frames.begin(), frames.end(), [&](const std::string& f) {
            return f.compare(0, prefix.size(), prefix) == 0;
        }));
    }

    bool usbLoaded = false;
};

} // namespace

TEST_F(LifeCycleTest, HealthyWaveCWithStaleDropBoxFromConstructionToDestruction)
{
    tessa.AddDynamicPartition(0, "SECUPD");
    NewClient();
    secureTessa& t = *client;
    EXPECT_EQ(t.ready, 1);
    EXPECT_EQ(t.hostOsIndex, REDHAT);
    EXPECT_TRUE(Exists(kRuleUsb));
    EXPECT_TRUE(Exists(kRuleKave));

    ASSERT_TRUE(t.secureTessaInit());
    EXPECT_EQ(t.ready, 1);
    EXPECT_EQ(t.getKOLTError(), 0);
    EXPECT_EQ(GenerationType, 2);
    EXPECT_EQ(t.tessaType, 1u);
    EXPECT_EQ(t.maxDropBoxBytes, 306184192u);
    EXPECT_EQ(t.session.handle, 0x1234);
    EXPECT_EQ(NewFrames(), (std::vector<std::string>{
                               "30 AD 00 00",                           // type, when the library loads
                               "30 BD",                                 // generation
                               "30 AD 00 00",                           // type
                               "30 AE 00 00",                           // access state
                               "30 A2 12 02 B0 04 00 00",               // extended begin, 1200 s
                               "30 A2 03 34 12 00 00",                  // index info
                               "30 A2 04 34 12 00 00 00 00",            // static bits 0, 1, 2
                               "30 A2 04 34 12 00 01 00 00",
                               "30 A2 04 34 12 00 02 00 00",
                               "30 A2 06 34 12 00 FF 00 00 00 FF 00 00",   // detach all
                               "30 A2 03 34 12 00 00",                  // index info
                               "30 A2 04 34 12 80 00 00 00",            // dynamic bit 0
                               "30 A2 08 34 12 00 01 00 00 00 00",      // delete the stale box
                           }));
    EXPECT_EQ(tessa.DynamicBits(), 0);
    EXPECT_TRUE(tessaPartInfo[1].present);
    EXPECT_TRUE(tessaPartInfo[3].present);
    EXPECT_TRUE(tessaPartInfo[22].present);
    EXPECT_EQ(tessaPartInfo[22].partIdWord, 0x0400);
    const std::vector<std::string> log = NewLog();
    EXPECT_TRUE(Contains(log, "Tessa Session Handle(34, 12)"));
    EXPECT_TRUE(Contains(log, "secureTessaInit some dynamic paritions exists."));

    Mark();
    client.reset();
    EXPECT_EQ(NewFrames(), std::vector<std::string>{kEndFrame});
    EXPECT_FALSE(tessa.SessionOpen());
    EXPECT_EQ(pQRMIPMILibHandle, nullptr);
    EXPECT_FALSE(Exists(kRuleUsb));
    EXPECT_FALSE(Exists(kRuleKave));
    EXPECT_EQ(std::count(host.commands.begin(), host.commands.end(), kRmmodUsb), 0);
    EXPECT_FALSE(bTessaDebugLog);
    EXPECT_TRUE(Contains(NewLog(), "Udev and Hal udevhalUninstall "));
}

TEST_F(LifeCycleTest, NoStaleDropBoxIsSaidSo)
{
    NewClient();
    ASSERT_TRUE(client->secureTessaInit());
    EXPECT_EQ(tessa.CountSub(SimTessaController::DeleteDynamicPartition), 0u);
    EXPECT_TRUE(Contains(NewLog(), "secureTessaInit dynamic parition doesn't exists."));
}

// usb_storage comes out again only when this run loaded it.
TEST_F(LifeCycleTest, UsbStorageLoadedByThisRunIsUnloadedAtDestruction)
{
    for (const bool presentBefore : {true, false}) {
        SCOPED_TRACE(presentBefore ? "present before" : "loaded by this run");
        ScriptUsbStorage(presentBefore);
        NewClient();
        ASSERT_TRUE(client->secureTessaInit());
        EXPECT_FALSE(CPlatformLayer::isUSBblocklisted());
        Mark();
        client.reset();
        const bool unloaded = std::count(host.commands.begin(), host.commands.end(), kRmmodUsb) == 1;
        EXPECT_EQ(unloaded, !presentBefore);
        EXPECT_EQ(usbLoaded, presentBefore);
        GenerationType = -1;
    }
}

TEST_F(LifeCycleTest, WaveGIsReadyWithoutSession)
{
    tessa.SetGenerationByte(0x60);
    NewClient();
    EXPECT_TRUE(client->secureTessaInit());
    EXPECT_EQ(client->ready, 1);
    EXPECT_EQ(GenerationType, 6);
    // The copy code may read it on every path.
    EXPECT_EQ(client->maxDropBoxBytes, 306184192u);
    EXPECT_EQ(tessa.CountFrames(0x30, 0xA2), 0u);
    EXPECT_TRUE(Contains(NewLog(), "INFO - This is >WaveG server. SecureTessa IPMI calls are not supported."));

    client.reset();
    EXPECT_EQ(tessa.CountFrames(0x30, 0xA2), 0u);   // nothing to end
}

struct RefusedCase {
    const char* name;
    uint8_t generationByte;
    int generationType;
    unsigned char error;
    uint32_t maxDropBoxBytes;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class BothBeginsRefused : public LifeCycleTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(BothBeginsRefused, ThirtySixAttemptsTwoSecondsApart)
{
    const RefusedCase& c = GetParam();
    tessa.SetGenerationByte(c.generationByte);
    tessa.RefuseBegins(1000);
    NewClient();
    Mark();
    EXPECT_FALSE(client->secureTessaInit());
    EXPECT_EQ(client->ready, 0);
    EXPECT_EQ(GenerationType, c.generationType);
    EXPECT_EQ(client->getKOLTError(), c.error);
    EXPECT_EQ(client->maxDropBoxBytes, c.maxDropBoxBytes);

    const std::vector<std::string> frames = NewFrames();
    EXPECT_EQ(Count(frames, "30 A2 12 02 B0 04 00 00"), 36u);
    EXPECT_EQ(Count(frames, "30 A2 00 00 B0 04 00 00"), 36u);
    EXPECT_EQ(Count(frames, "30 A2"), 72u);
    EXPECT_EQ(host.sleeps, std::vector<int>(36, 2));
    EXPECT_TRUE(Contains(NewLog(), "Begin Tessa Session Failed."));

    Mark();
    client.reset();
    EXPECT_TRUE(NewFrames().empty());   // no session to end
}

INSTANTIATE_TEST_SUITE_P(
    ByGeneration, BothBeginsRefused,
    ::testing::Values(RefusedCase{"BeforeWaveB", 0x05, 0, KOLT_SESSIONFAILED_PREWAVEB, 30408704u},
                      RefusedCase{"WaveC", 0x20, 2, KOLT_SESSIONFAILED, 306184192u}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

TEST_F(LifeCycleTest, LibraryThatCannotLoadLeavesTheClientUnusable)
{
    host.loaded.clear();   // no IPMI driver modules, none loadable
    NewClient();
    EXPECT_EQ(client->ready, 0);
    EXPECT_EQ(client->getKOLTError(), KOLT_IPMILIBINITFAILED);
    EXPECT_EQ(client->hostOsIndex, -1);   // no host detection
    EXPECT_FALSE(Exists(kRuleUsb));       // no rules installed
    EXPECT_NE(pQRMIPMILibHandle, nullptr);
    EXPECT_TRUE(controller.Frames().empty());
    EXPECT_TRUE(Contains(NewLog(), "KOLT Library initialization failed"));

    client.reset();
    EXPECT_EQ(pQRMIPMILibHandle, nullptr);
}

// On VMware hosts the hypervisor's USB arbitrator would take the exposed
// partitions away: while it runs, the client stops at 56, not ready, and
// installs no udev rules; once it is stopped, the client is built as usual.
TEST_F(LifeCycleTest, RunningVMwareUsbArbitratorStopsTheConstruction)
{
    const char* const esxCheck = "ps aux | grep -v grep | grep -q vmware-usbarbitrator > /dev/null";
    const char* const esxiCheck = "ps | grep -i -q vmware-usbarbitrator  > /dev/null";
    const struct {
        const char* name;
        const char* release;   // /etc/vmware-release, or none
        const char* kernel;
        int index;
        const char* check;
    } hosts[] = {
        {"ESX 3", "VMware ESX Server 3 (Dali)\n", "Linux", ESX, esxCheck},
        {"ESX 4", "VMware ESX 4.0 (Kandinsky)\n", "Linux", ESX4, esxCheck},
        {"ESX 4.1", "VMware ESX 4.1 (Kandinsky)\n", "Linux", ESX4_1, esxCheck},
        {"ESXi", nullptr, "VMkernel", ESXi, esxiCheck},
    };
    ns.remove("/etc/redhat-release");
    for (const auto& h : hosts) {
        if (h.release != nullptr)
            ns.putFile("/etc/vmware-release", h.release);
        else
            ns.remove("/etc/vmware-release");
        host.kernelName = h.kernel;
        for (bool running : {true, false}) {
            SCOPED_TRACE(std::string(h.name) + (running ? ", running" : ", stopped"));
            host.answer(h.check, running ? 0 : 1 << 8);
            host.commands.clear();
            logMark = KoltLogMessages(dir.file("KOLT_DBG.log")).size();

            NewClient();
            EXPECT_EQ(client->hostOsIndex, h.index);
            EXPECT_TRUE(Contains(host.commands, h.check));
            EXPECT_EQ(Contains(NewLog(), "usbarbitrator serice is running.. please stop it"), running);
            if (running) {
                EXPECT_EQ(client->getKOLTError(), KOLT_USBARBITRATORRUNNING);
                EXPECT_EQ(client->ready, 0);
                // No rules: neither copied nor reloaded.
                EXPECT_FALSE(Exists(kRuleUsb));
                EXPECT_FALSE(Exists(kRuleKave));
                for (const std::string& command : host.commands)
                    EXPECT_EQ(command.find("udev"), std::string::npos) << command;
            } else {
                EXPECT_EQ(client->getKOLTError(), KOLT_SUCCESS);
                EXPECT_EQ(client->ready, 1);
            }
            client.reset();
            ReleaseQRMIPMILibrary();
        }
    }
}

TEST_F(LifeCycleTest, DisabledStorageGives55WithoutSession)
{
    tessa.SetAccessState(1);
    NewClient();
    EXPECT_FALSE(client->secureTessaInit());
    EXPECT_EQ(client->getKOLTError(), KOLT_TESSADISABLED);
    EXPECT_EQ(client->ready, 0);
    EXPECT_EQ(tessa.CountFrames(0x30, 0xA2), 0u);
    EXPECT_TRUE(Contains(NewLog(), "Tessa is disabled."));
}

// A controller that issues handle 0 leaves the session marked open with
// handle 0: it is ended all the same.
TEST_F(LifeCycleTest, SessionWithHandleZeroIsEndedAtDestruction)
{
    tessa.SetSessionHandle(0);
    NewClient();
    ASSERT_TRUE(client->secureTessaInit());
    EXPECT_EQ(client->session.handle, 0);
    EXPECT_EQ(client->session.active, 1);
    Mark();
    client.reset();
    EXPECT_EQ(NewFrames(), std::vector<std::string>{"30 A2 01 00 00 00 00"});
    EXPECT_FALSE(tessa.SessionOpen());
    EXPECT_EQ(tessa.SessionsEnded(), 1u);
}

TEST_F(LifeCycleTest, FailedSessionEndStillClearsAndReleases)
{
    NewClient();
    ASSERT_TRUE(client->secureTessaInit());
    tessa.ScriptCodes(SimTessaController::EndSession, {0x04});
    Mark();
    client.reset();
    EXPECT_EQ(pQRMIPMILibHandle, nullptr);
    EXPECT_FALSE(Exists(kRuleUsb));
    EXPECT_EQ(std::count(host.commands.begin(), host.commands.end(), kUdevReload) >= 1, true);
    const std::vector<std::string> log = NewLog();
    EXPECT_TRUE(Contains(log, "EndTessaSession failed"));
}

TEST_F(LifeCycleTest, RequestedRestartResetsTheControllerAndWaitsForIt)
{
    NewClient();
    ASSERT_TRUE(client->secureTessaInit());
    client->setRestart();
    Mark();
    client.reset();
    EXPECT_EQ(NewFrames(), (std::vector<std::string>{kEndFrame, "06 02", "30 A2 12 02 3C 00 00 00", kEndFrame}));
    EXPECT_EQ(host.sleeps, (std::vector<int>{60, 60}));
    EXPECT_EQ(tessa.ColdResets(), 1u);
    EXPECT_FALSE(tessa.SessionOpen());
}

TEST_F(LifeCycleTest, InterruptIsIgnoredOnceAClientWasBuilt)
{
    struct sigaction before;
    sigaction(SIGINT, nullptr, &before);
    ASSERT_NE(before.sa_handler, SIG_IGN);
    NewClient();
    client.reset();
    struct sigaction after;
    sigaction(SIGINT, nullptr, &after);
    EXPECT_EQ(after.sa_handler, SIG_IGN);
}
