#ifndef CM_KOLT_TESTS_KOLTTESTSUPPORT_H
#define CM_KOLT_TESTS_KOLTTESTSUPPORT_H

// Shared set-up of the managed-storage client tests: a simulated host
// (modules present, shell commands and pauses recorded), the IPMI library
// loaded over its device seam, and a management controller that answers
// the Tessa command family from per-sub-command scripts.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "HostNamespace.h"
#include "IPMIHostFakes.h"
#include "PlatformLayer.h"
#include "ScopedSeam.h"
#include "SecureTessa.h"
#include "SimIPMIDeviceAdapter.h"
#include "SimManagementController.h"
#include "SimPlatform.h"
#include "SimTessaController.h"
#include "TempDir.h"

using Bytes = std::vector<uint8_t>;

// NetFn, command and data of one request as the device saw it.
inline Bytes FrameOf(const SimIpmiRequest& request)
{
    Bytes frame{request.netfn, request.cmd};
    frame.insert(frame.end(), request.data.begin(), request.data.end());
    return frame;
}

// Answers NetFn 0x30 command 0xA2: every answer carries `handle` in its
// first two data bytes; completion codes come from a queue per sub-command
// (0 once it is empty); GetTESSAStatus (10) answers the next status of
// `statuses` (0 once it is empty) after the handle.
class TessaFamilyStub {
public:
    explicit TessaFamilyStub(SimManagementController& controller)
    {
        controller.SetHandler(0x30, 0xA2, [this](const SimIpmiRequest& request) { return Answer(request); });
    }

    uint16_t handle = 0x1234;
    std::map<uint8_t, std::deque<uint8_t>> codes;
    std::deque<uint8_t> statuses;
    std::map<uint8_t, Bytes> extraData;   // after the handle, per sub-command

    void Codes(uint8_t subCommand, std::initializer_list<uint8_t> sequence)
    {
        codes[subCommand].insert(codes[subCommand].end(), sequence.begin(), sequence.end());
    }
    void Codes(uint8_t subCommand, uint8_t code, unsigned times)
    {
        codes[subCommand].insert(codes[subCommand].end(), times, code);
    }

private:
    SimIpmiReply Answer(const SimIpmiRequest& request)
    {
        SimIpmiReply reply;
        const uint8_t sub = request.data.empty() ? 0xFF : request.data[0];
        std::deque<uint8_t>& queue = codes[sub];
        if (!queue.empty()) {
            reply.completionCode = queue.front();
            queue.pop_front();
        }
        reply.data = {static_cast<uint8_t>(handle & 0xFF), static_cast<uint8_t>(handle >> 8)};
        if (sub == 10) {
            uint8_t status = 0;
            if (!statuses.empty()) {
                status = statuses.front();
                statuses.pop_front();
            }
            reply.data.push_back(status);
        }
        const Bytes& extra = extraData[sub];
        reply.data.insert(reply.data.end(), extra.begin(), extra.end());
        return reply;
    }
};

// The host a client is built on in tests of single operations: the IPMI
// driver modules are missing and cannot be loaded, so construction stops at
// the library (KOLT error 46): no host detection, no udev rules, nothing
// sent. Destruction asks only for a udev reload, which is answered. SIGINT,
// which a client ignores for the rest of the process, is given back.
class OfflineClientHost {
public:
    OfflineClientHost() : device(controller)
    {
        sigaction(SIGINT, nullptr, &previousSigint);
        host.loaded.clear();
        device.existingPaths.clear();
        ns.remove("/etc/init.d/haldaemon");
        host.answerPrefix("/sbin/udevadm ", 0);
        host.answerPrefix("/sbin/udevcontrol ", 0);
    }
    ~OfflineClientHost() { sigaction(SIGINT, &previousSigint, nullptr); }
    OfflineClientHost(const OfflineClientHost&) = delete;
    OfflineClientHost& operator=(const OfflineClientHost&) = delete;

    struct sigaction previousSigint;
    HostNamespace ns;
    FakeModuleHost host;
    FakeHostGuard hostGuard{host, ns};
    SimManagementController controller;
    SimIPMIDevice device;
    SimIPMISleepRecorder libSleeps;
    SimIPMISeamGuard seams{&device, &libSleeps};
};

// A simulated host with the IPMI library's device seam on `controller`: no
// HAL daemon, udev reloads answered, SIGINT given back afterwards (a client
// ignores it for the rest of the process).
class KoltHostTest : public ::testing::Test {
protected:
    KoltHostTest() : device(controller)
    {
        sigaction(SIGINT, nullptr, &previousSigint);
        ns.remove("/etc/init.d/haldaemon");
        host.answerPrefix("/sbin/udevadm ", 0);
        host.answerPrefix("/sbin/udevcontrol ", 0);
    }
    ~KoltHostTest() override { sigaction(SIGINT, &previousSigint, nullptr); }

    // Loads the library on the simulated host; pauses of the set-up are
    // forgotten so that tests see only their own.
    void LoadLibrary()
    {
        ASSERT_EQ(InitQRMIPMILibrary(), 0u);
        ASSERT_NE(pQRMIPMILibHandle, nullptr);
        host.sleeps.clear();
    }

    // A client for tests of single operations: built while the host's IPMI
    // driver modules are held back, so its construction stops at the
    // library (which it leaves unloaded) and detects nothing, installs
    // nothing and sends nothing. Its destruction ends a session the test
    // marked open and releases the library the test loaded.
    std::unique_ptr<secureTessa> ClientWithoutLifeCycle()
    {
        const std::set<std::string> modules = host.loaded;
        host.loaded.clear();
        std::unique_ptr<secureTessa> client(new secureTessa);
        host.loaded = modules;
        EXPECT_EQ(client->getKOLTError(), KOLT_IPMILIBINITFAILED);
        ReleaseQRMIPMILibrary();
        host.commands.clear();
        return client;
    }

    void TearDown() override { ReleaseQRMIPMILibrary(); }

    std::vector<Bytes> Frames() const
    {
        std::vector<Bytes> frames;
        for (const SimIpmiRequest& request : controller.Requests())
            frames.push_back(FrameOf(request));
        return frames;
    }

    struct sigaction previousSigint;
    HostNamespace ns;
    TempDir dir;
    FakeModuleHost host;
    FakeHostGuard hostGuard{host, ns};
    SimManagementController controller;
    SimIPMIDevice device;
    SimIPMISleepRecorder libSleeps;
    SimIPMISeamGuard seams{&device, &libSleeps};
};

// The lines of a KOLT log with the prefix "[<time>] : <file>:<line>: "
// taken off each line that has one (continuation lines of messages that
// hold a newline stay as they are).
inline std::vector<std::string> KoltLogMessages(const std::string& path)
{
    static const std::regex prefix(R"(^\[\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\] : [^:/]+:\d+: )");
    std::vector<std::string> messages;
    std::istringstream in(readWholeFile(path));
    std::string line;
    while (std::getline(in, line))
        messages.push_back(std::regex_replace(line, prefix, "", std::regex_constants::format_first_only));
    return messages;
}

inline bool Contains(const std::vector<std::string>& lines, const std::string& text)
{
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

// The partition table's run-time fields back to their start-up state: the
// table is process-wide and outlives every test's client.
inline void ResetPartitionTable()
{
    for (TessaPartitionEntry& row : tessaPartInfo) {
        row.mountPath.clear();
        row.partIdWord = 0;
        row.present = false;
    }
}

// The words of a shell command.
inline std::vector<std::string> CommandWords(const std::string& command)
{
    std::istringstream in(command);
    std::vector<std::string> words;
    std::string word;
    while (in >> word)
        words.push_back(word);
    return words;
}

const char* const kUdevRulesEtc = "/etc/udev/rules.d/";
const char* const kUdevRulesLib = "/lib/udev/rules.d/";
const char* const kUdevRulesRun = "/run/udev/rules.d/";
const char* const kUdevReload = "/sbin/udevadm control --reload-rules > /dev/null 2>&1";

// A Red Hat host at its real paths inside the test's namespace: the release
// file, private udev rule folders with the reload tool, no HAL daemon, and
// the package's two rule files in the working directory. Copies and mode
// changes asked of the platform layer are carried out in the namespace.
inline void StageRedHatHost(HostNamespace& ns, SimPlatform& host, TempDir& work)
{
    ns.putFile("/etc/redhat-release", "Red Hat Enterprise Linux Server release 7.9 (Maipo)\n");
    for (const char* file : {"/etc/SuSE-release", "/etc/vmware-release", "/etc/init.d/haldaemon"})
        ns.remove(file);
    for (const char* folder : {kUdevRulesEtc, kUdevRulesLib, kUdevRulesRun}) {
        const std::string path(folder);
        ns.emptyFolder(path.substr(0, path.size() - 1));
    }
    ns.putFile("/sbin/udevadm", "#!/bin/sh\nexit 0\n", 0755);
    work.write("98-secupdusb.rules", "usb rule\n");
    work.write("00-secupd-kave.rules", "kave rule\n");

    HostNamespace* space = &ns;
    host.answerPrefix("cp -fH ", [space](const std::string& command) {
        const std::vector<std::string> w = CommandWords(command);
        struct stat info;
        if (w.size() < 4 || ::stat(w[2].c_str(), &info) != 0)
            return 256;
        space->writeFile(w[3] + w[2], readWholeFile(w[2]));
        return 0;
    });
    host.answerPrefix("chmod 755 ", [](const std::string& command) {
        const std::vector<std::string> w = CommandWords(command);
        return w.size() >= 3 && ::chmod(w[2].c_str(), 0755) == 0 ? 0 : 256;
    });
    host.answer(kUdevReload, 0);
    // The detach of everything at session start unmounts what an earlier run
    // may have left mounted: nothing is, and a stale folder is removed.
    host.answer("umount /tmp/TES001 > /dev/null 2>&1", 32 << 8);
    host.answer("rm -rf /tmp/TES001 > /dev/null 2>&1", 0);
    host.answer("rm -f /dev/sectesupd-* > /dev/null 2>&1", 0);
    host.answer("rm -rf /tmp/SECUPD > /dev/null 2>&1", 0);
}

// A client talking to the management-controller model through the real IPMI
// library (its device seam), on a simulated Red Hat host, in its own working
// directory with the KOLT log on. `tessa` starts as a healthy WaveC
// controller; tests change it before building the client. SIGINT, which a
// client ignores for the rest of the process, comes back afterwards.
class TessaClientTest : public ::testing::Test {
protected:
    TessaClientTest() : tessa(controller), device(controller)
    {
        sigaction(SIGINT, nullptr, &previousSigint);
        GenerationType = -1;
        ResetPartitionTable();
        StageRedHatHost(ns, host, dir);
    }

    ~TessaClientTest() override
    {
        client.reset();
        ReleaseQRMIPMILibrary();
        ResetPartitionTable();
        GenerationType = -1;
        sigaction(SIGINT, &previousSigint, nullptr);
    }

    // A constructed client, not yet initialised.
    secureTessa& NewClient()
    {
        client.reset();
        client.reset(new secureTessa);
        return *client;
    }

    // An initialised client with a session open on the model; the table
    // rows, frames, pauses and log lines of the set-up are not the test's.
    secureTessa& OpenClient()
    {
        NewClient();
        EXPECT_TRUE(client->secureTessaInit());
        EXPECT_TRUE(tessa.SessionOpen());
        ResetPartitionTable();
        Mark();
        return *client;
    }

    // Frames, pauses, commands and log lines from here on.
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

    struct sigaction previousSigint;
    HostNamespace ns;
    TempDir dir;
    bool logOn = (dir.write("zordebuglog", ""), true);
    FakeModuleHost host;
    FakeHostGuard hostGuard{host, ns};
    SimManagementController controller;
    SimTessaController tessa;
    SimIPMIDevice device;
    SimIPMISleepRecorder libSleeps;
    SimIPMISeamGuard seams{&device, &libSleeps};
    std::unique_ptr<secureTessa> client;
    size_t frameMark = 0;
    size_t logMark = 0;
};

// A KOLT log read from a mark on: the messages that one source file wrote.
class KoltLogReader {
public:
    explicit KoltLogReader(std::string path = "KOLT_DBG.log") : m_path(std::move(path)) {}

    void skipToEnd() { m_skip = lines().size(); }

    std::vector<std::string> messagesFrom(const std::string& sourceFile) const
    {
        static const std::regex prefixed(R"(^\[\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\] : ([^:/]+):\d+: (.*)$)");
        std::vector<std::string> messages;
        const std::vector<std::string> all = lines();
        std::smatch parts;
        for (size_t i = m_skip; i < all.size(); ++i)
            if (std::regex_match(all[i], parts, prefixed) && parts[1] == sourceFile)
                messages.push_back(parts[2]);
        return messages;
    }

private:
    std::vector<std::string> lines() const
    {
        std::vector<std::string> all;
        std::istringstream in(readWholeFile(m_path));
        std::string line;
        while (std::getline(in, line))
            all.push_back(line);
        return all;
    }

    std::string m_path;
    size_t m_skip = 0;
};

// A client test without a controller: its own working directory with the
// KOLT log switched on, the recorded platform layer installed, and a client
// made on request (its construction stops at the IPMI library). A fixture that stages host files creates `ns` in its
// SetUp before calling this one's.
class KoltClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sigaction(SIGINT, nullptr, &previousSigint);
        // The client is built and taken down on a host whose IPMI library
        // cannot load: construction stops there, and the commands of its
        // destruction go nowhere.
        offline.loaded.clear();
        offline.answerOthers(0);
        // VMware hosts skip the modules and look for the device: there is
        // none.
        offlineDevice.existingPaths.clear();
        work.write("zordebuglog", "");
        previous = CPlatformLayer::SetForTesting(&platform);
    }
    void TearDown() override
    {
        {
            ScopedSeam<CPlatformLayer> ending(&offline);
            client.reset();
        }
        CPlatformLayer::SetForTesting(previous);
        sigaction(SIGINT, &previousSigint, nullptr);
    }

    // A fresh client whose host is not detected yet; the record of commands
    // and the log start after its construction.
    secureTessa& newClient()
    {
        {
            ScopedSeam<CPlatformLayer> building(&offline);
            client.reset();
            client = std::make_unique<secureTessa>();
        }
        client->hostOsIndex = -1;
        // The library's refusal is the offline host's, not the test's.
        client->storeErrorInfo(KOLT_SUCCESS);
        platform.take();
        log.skipToEnd();
        return *client;
    }

    struct sigaction previousSigint;
    FakeModuleHost offline;
    SimManagementController offlineController;
    SimIPMIDevice offlineDevice{offlineController};
    SimIPMISleepRecorder offlineSleeps;
    SimIPMISeamGuard offlineSeams{&offlineDevice, &offlineSleeps};
    TempDir work;
    std::unique_ptr<HostNamespace> ns;
    SimPlatform platform;
    IPlatformImpl* previous = nullptr;
    std::unique_ptr<secureTessa> client;
    KoltLogReader log;
};

#endif
