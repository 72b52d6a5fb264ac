// The rollback wrapper's construction and the orchestration of one rollback
// against the management-controller model.

#include "RollbackWrapperTest.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "OpenDescriptors.h"
#include "PartitionHostTest.h"

#include <functional>

namespace {

const std::string kRuleUsb = std::string(kUdevRulesEtc) + "98-secupdusb.rules";

bool Exists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

class WrapperConstruction : public RollbackWrapperTest {};

class Orchestration : public RollbackWrapperTest {
protected:
    // doRollbackAndUpdate as the populator calls it, with the payload file
    // beside the executable.
    int Run(std::vector<std::string> paths)
    {
        return wrapper->doRollbackAndUpdate(paths, nullptr, nullptr, true, message, false, false, "");
    }
    std::vector<std::string> Payload()
    {
        dir.write("payload/fw.bin", "firmware");
        return {dir.path() + "/payload/fw.bin"};
    }

    std::string message = "untouched";
};

struct RefusedCase {
    const char* name;
    std::function<void(RollbackWrapperTest&)> arrange;
    int thrown;
    std::string line;   // the constructor's failure line
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class RefusedConstruction : public RollbackWrapperTest, public ::testing::WithParamInterface<RefusedCase> {
public:
    using RollbackWrapperTest::host;
    using RollbackWrapperTest::tessa;
};

const char* const kNotReady = " Error in Update Rollback Wrapper Constructor Could not initialize Secure Tessa error code ";

} // namespace

TEST_F(WrapperConstruction, HealthyControllerGivesAReadyWrapperWithSessionOpen)
{
    UpdRollbackWrapper& w = NewWrapper();
    EXPECT_EQ(w.ready, 1);
    EXPECT_EQ(w.rollbackMethod, 0);
    EXPECT_EQ(w.getKOLTError(), 0);
    EXPECT_EQ(GenerationType, 2);
    EXPECT_TRUE(tessa.SessionOpen());
    EXPECT_TRUE(Contains(Log(), "Secure Tessa initialized successfully"));

    wrapper.reset();
    EXPECT_FALSE(tessa.SessionOpen());
    EXPECT_EQ(pQRMIPMILibHandle, nullptr);
    EXPECT_FALSE(Exists(kRuleUsb));
}

TEST_P(RefusedConstruction, ThrowsTheNumberAndLeavesNothingBehind)
{
    const RefusedCase& c = GetParam();
    c.arrange(*this);
    EXPECT_EQ(ConstructionError(), c.thrown);
    EXPECT_EQ(wrapper, nullptr);
    const std::vector<std::string> log = Log();
    EXPECT_TRUE(Contains(log, c.line)) << testing::PrintToString(log);
    // The base part already built was taken down by the throw.
    EXPECT_EQ(pQRMIPMILibHandle, nullptr);
    EXPECT_FALSE(Exists(kRuleUsb));
    EXPECT_FALSE(tessa.SessionOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Causes, RefusedConstruction,
    ::testing::Values(
        // The client stored an error while it was built.
        RefusedCase{"LibraryCannotLoad", [](RollbackWrapperTest& t) {
                        static_cast<RefusedConstruction&>(t).host.loaded.clear();
                    },
                    KOLT_IPMILIBINITFAILED, "Could not create Secure Tessa object"},
        // Initialisation stored an error.
        RefusedCase{"StorageDisabled", [](RollbackWrapperTest& t) {
                        static_cast<RefusedConstruction&>(t).tessa.SetAccessState(1);
                    },
                    KOLT_TESSADISABLED, kNotReady + std::string("55")},
        RefusedCase{"NoSession", [](RollbackWrapperTest& t) {
                        static_cast<RefusedConstruction&>(t).tessa.RefuseBegins(1000);
                    },
                    KOLT_SESSIONFAILED, kNotReady + std::string("63")},
        // Not ready without an error of its own: never 0, which the caller
        // would take as a staged copy.
        RefusedCase{"NoManagedStorageType", [](RollbackWrapperTest& t) {
                        static_cast<RefusedConstruction&>(t).tessa.SetTypeByte(5);
                    },
                    KOLT_NOTESSAPRESENT, kNotReady + std::string("20")}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

TEST_F(Orchestration, WaveGIsLeftAloneWith20)
{
    tessa.SetGenerationByte(0x60);
    NewWrapper();
    dir.write("rollback_attempt.txt", "left from before");
    EXPECT_EQ(Run(Payload()), 20);
    EXPECT_TRUE(NewFrames().empty());
    EXPECT_TRUE(host.sleeps.empty());
    EXPECT_EQ(NewLog(), (std::vector<std::string>{
                            "Entering to doRollbackAndUpdate",
                            "Exiting doRollbackAndUpdate - this is WaveG server [KOLT_NOTESSAPRESENT]"}));
    EXPECT_TRUE(dir.exists("rollback_attempt.txt"));
    EXPECT_EQ(dir.read("rollback_attempt.txt"), "");
    EXPECT_EQ(message, "untouched");
    EXPECT_EQ(wrapper->rollbackMethod, 0);
}

// The marker lies in a working directory others may write to: a link or a
// foreign file planted at its name is neither followed nor emptied, and the
// rollback goes on without the marker.
TEST_F(Orchestration, PlantedMarkerNamesAreLeftAlone)
{
    tessa.SetGenerationByte(0x60);
    NewWrapper();
    dir.write("victim", "precious");
    const struct {
        const char* name;
        std::function<int()> plant;
    } cases[] = {
        {"link", [&] { return symlink(dir.file("victim").c_str(), dir.file("rollback_attempt.txt").c_str()); }},
        {"dangling link",
         [&] { return symlink(dir.file("nowhere").c_str(), dir.file("rollback_attempt.txt").c_str()); }},
        {"hard link", [&] { return link(dir.file("victim").c_str(), dir.file("rollback_attempt.txt").c_str()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(dir.file("rollback_attempt.txt").c_str());
        ASSERT_EQ(c.plant(), 0);
        Mark();
        EXPECT_EQ(Run(Payload()), 20);
        EXPECT_EQ(dir.read("victim"), "precious");
        EXPECT_FALSE(dir.exists("nowhere"));
        const std::vector<std::string> log = NewLog();
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(log[0], "Entering to doRollbackAndUpdate");
        EXPECT_EQ(log[1].compare(0, 36, "Creating rollback_attempt.txt failed"), 0) << log[1];
        EXPECT_EQ(log[2], "Exiting doRollbackAndUpdate - this is WaveG server [KOLT_NOTESSAPRESENT]");
    }
}

// The marker is open while the rollback runs its shell commands: none of
// them inherits it.
TEST_F(Orchestration, MarkerIsNotInheritedByShellCommands)
{
    NewWrapper();
    std::vector<std::vector<int>> open;
    std::vector<bool> closeOnExec;
    const std::string marker = dir.file("rollback_attempt.txt");
    host.answer(parthost::kUsbBuiltin, [&](const std::string&) {
        const std::vector<int> fds = DescriptorsOpenOn(marker);
        open.push_back(fds);
        for (int fd : fds)
            closeOnExec.push_back(IsCloseOnExec(fd));
        return 256;
    });
    host.answer(parthost::kUsbLoaded, 256);
    host.answer(parthost::kUsbLoad, 256);
    EXPECT_EQ(Run(Payload()), KOLT_USBBLOCKLISTED);
    ASSERT_FALSE(open.empty());
    EXPECT_EQ(open[0].size(), 1u);
    EXPECT_EQ(closeOnExec, std::vector<bool>(closeOnExec.size(), true));
    EXPECT_TRUE(DescriptorsOpenOn(marker).empty());
}

TEST_F(Orchestration, VCNeverReadyIs69After100PollsFiveSecondsApart)
{
    tessa.SetVCStates({1});
    NewWrapper();
    EXPECT_EQ(Run(Payload()), 69);
    EXPECT_EQ(NewFrames(), std::vector<std::string>(100, "30 A9 1E"));
    EXPECT_EQ(host.sleeps, std::vector<int>(100, 5));
    const std::vector<std::string> log = NewLog();
    EXPECT_TRUE(Contains(log, "Not able to update.Please make the VC available"));
    EXPECT_FALSE(Contains(log, "Leaving doRollbackAndUpdate"));
    EXPECT_EQ(dir.read("rollback_attempt.txt"), "");
    EXPECT_EQ(message, "untouched");
    EXPECT_EQ(wrapper->rollbackMethod, 0);
}

// A VC service in use is there to take the package: the wait ends at
// once, as for one that is ready. The empty list stops the run right after.
TEST_F(Orchestration, VCInUseCountsAsAvailable)
{
    const struct {
        std::vector<uint8_t> states;
        std::vector<int> sleeps;
    } cases[] = {
        {{5}, {}},
        {{0}, {}},
        {{1, 5}, {5}},
        {{2, 4, 5}, {5, 5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.states));
        tessa.SetVCStates(c.states);
        NewWrapper();
        message = "untouched";
        EXPECT_EQ(Run({}), -1);
        EXPECT_EQ(message, "Payload list is empty");
        EXPECT_EQ(NewFrames(), std::vector<std::string>(c.states.size(), "30 A9 1E"));
        EXPECT_EQ(host.sleeps, c.sleeps);
        EXPECT_FALSE(Contains(NewLog(), "Not able to update.Please make the VC available"));
    }
}

TEST_F(Orchestration, OlderMethodSkipsESXiHostsWithSuccess)
{
    UpdRollbackWrapper& w = NewWrapper();
    w.hostOsIndex = ESXi;
    std::string text = "untouched";
    char category[] = "BIOS";
    char file[] = "/x/fw.bin";
    for (bool ssibTask : {false, true}) {
        SCOPED_TRACE(ssibTask);
        EXPECT_EQ(w.rollbackUsingWaveBMethod(Payload(), category, file, true, text, ssibTask, false, ""), 0);
    }
    EXPECT_EQ(text, "untouched");
    EXPECT_TRUE(NewFrames().empty());
    EXPECT_TRUE(w.cfgEntries.empty());
    EXPECT_TRUE(Contains(NewLog(), "Rollback Is not Supported On ESXi. Exiting"));
}

// An SSIB task on the older method: the package is planned into the
// component folders on "TES022", then the component-id and SSIB documents
// join the same copy transaction before the copy starts. The wrapper works
// in a folder of a private /tmp, where "TES022" is mounted.
class SsibTask : public RollbackWrapperTest {
protected:
    void SetUp() override
    {
        host.answer(parthost::kUsbBuiltin, 256);
        host.answer(parthost::kUsbLoaded, 0);
        host.answer(parthost::kBlockdev, 0);
        host.answer(parthost::kSgProbe, 0, "0\n");
        NewWrapper();
        // The log stays in the test's folder, which the private /tmp hides.
        logFolder = ::open(".", O_RDONLY | O_DIRECTORY);
        ASSERT_GE(logFolder, 0);
        tmp.reset(new parthost::PrivateTmp);
        ASSERT_EQ(::mkdir("/tmp/images", 0700), 0);
        ASSERT_TRUE(fatimg::makeFat("/tmp/images/TES022.img", 12, 1024, "TES022"));
        scsi.addUsbDisk("sg4", "/dev/sdc", 6, "/tmp/images/TES022.img");
        host.answerPrefix("mkdir -p /tmp/", [](const std::string& command) {
            const std::string folder = command.substr(std::strlen("mkdir -p "));
            return ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST ? 0 : 256;
        });
        for (const char* prefix : {"ln -sf ", "mount ", "umount ", "rm "})
            host.answerPrefix(prefix, 0);
        tessaPartInfo[22].partIdWord = 0x0400;   // static bit 2
        tessaPartInfo[22].present = true;
        ASSERT_EQ(::mkdir("/tmp/TES022", 0755), 0);
        ASSERT_EQ(::mkdir("/tmp/work", 0755), 0);
        ASSERT_EQ(::mkdir("/tmp/work/payload", 0755), 0);
        std::ofstream("/tmp/work/package.xml") << RollbackPackage();
        std::ofstream("/tmp/work/payload/fw.bin") << "firmware";
        ASSERT_EQ(::chdir("/tmp/work"), 0);
        host.processDirectory = "/tmp/work/";
        logMark = Lines().size();
    }
    ~SsibTask() override
    {
        wrapper.reset();
        if (logFolder >= 0)
            ::close(logFolder);
    }

    std::vector<std::string> Lines() const
    {
        return KoltLogMessages("/proc/self/fd/" + std::to_string(logFolder) + "/KOLT_DBG.log");
    }
    std::vector<std::string> Queue() const
    {
        std::vector<std::string> texts;
        for (const cfgEntry& entry : wrapper->cfgEntries)
            texts.push_back(std::to_string(entry.mode) + ' ' + entry.source + " -> " + entry.destination);
        return texts;
    }
    size_t Creates() const
    {
        size_t count = 0;
        for (const std::string& frame : NewFrames())
            count += frame.compare(0, 8, "30 A2 07") == 0;
        return count;
    }

    FakeScsiHost scsi;
    ScopedSeam<CScsiHostAccess> scsiInstalled{scsi};
    std::unique_ptr<parthost::PrivateTmp> tmp;
    int logFolder = -1;
};

TEST_F(SsibTask, DocumentsJoinThePackageInTheOpenTransaction)
{
    const std::vector<std::string> package = {
        "8  -> tes022/1234", "8  -> tes022/1234/previous", "8  -> tes022/1234/current",
        "1 /tmp/work//package.xml -> tes022/1234/current/package.xml",
        "1 /tmp/work//package.xml -> tes022/1234/previous/package.xml",
        "1 /tmp/work/payload/fw.bin -> tes022/1234/current/fw.bin",
        "1 /tmp/work/payload/fw.bin -> tes022/1234/previous/fw.bin"};
    const std::string componentEntry = "1 /tmp/work/1234.xml -> tes022/1234/1234.xml";
    const std::string taskEntry = "9 /tmp/work/ssibinput.xml -> ";
    enum Fault { None, ComponentUnwritable, TaskUnwritable };
    const struct {
        Fault fault;
        int result;
        const char* message;
        std::vector<std::string> documents;   // queued after the package
        size_t creates;                       // drop boxes asked for: the copy started
    } cases[] = {
        // The copy runs with both documents queued; the drop box is refused
        // here, which ends it.
        {None, KOLT_DROPBOXCREATEFAILED, "KOLT updateFirmwarePartition failed", {componentEntry, taskEntry}, 1},
        {ComponentUnwritable, 82, "KOLT createComponentIdFile failed", {}, 0},
        {TaskUnwritable, 83, "KOLT createSSIBUpdateFile failed", {componentEntry}, 0},
    };
    char category[] = "BIOS";
    char file[] = "/opt/fw/fw.bin";
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        wrapper->EndCopyFile();
        ASSERT_EQ(std::system("rm -rf /tmp/work/1234.xml /tmp/work/ssibinput.xml"), 0);
        // A folder in the document's place: it cannot be opened for writing.
        if (c.fault == ComponentUnwritable) {
            ASSERT_EQ(::mkdir("/tmp/work/1234.xml", 0755), 0);
        }
        if (c.fault == TaskUnwritable) {
            ASSERT_EQ(::mkdir("/tmp/work/ssibinput.xml", 0755), 0);
        }
        tessa.ScriptCodes(0x07, {0xC1});
        Mark();
        const size_t logged = Lines().size();
        std::string text;

        EXPECT_EQ(wrapper->rollbackUsingWaveBMethod({"/tmp/work/payload/fw.bin"}, category, file, true, text, true,
                                                    false, ""),
                  c.result);

        EXPECT_EQ(text, c.message);
        std::vector<std::string> queue = package;
        queue.insert(queue.end(), c.documents.begin(), c.documents.end());
        EXPECT_EQ(Queue(), queue);
        EXPECT_EQ(Creates(), c.creates);
        EXPECT_EQ(tessa.AttachedStaticBits(), 0);
        const std::vector<std::string> all = Lines();
        const std::vector<std::string> log(all.begin() + static_cast<long>(std::min(logged, all.size())), all.end());
        EXPECT_TRUE(Contains(log, "Creating the compid.xml & ssibinput.xml for creating the SSIB Task"));
        if (c.fault != ComponentUnwritable) {
            std::ifstream document("/tmp/work/1234.xml");
            std::string line;
            std::getline(document, line);
            const std::string begin = "<Wrapper name=\"BIOS\" filePathName=\"/opt/fw/fw.bin\" ";
            EXPECT_EQ(line.compare(0, begin.size(), begin), 0) << line;
        }
    }
}

// Without a category or a file path there is no task: no documents.
TEST_F(SsibTask, NoTaskWithoutCategoryOrFilePath)
{
    char category[] = "BIOS";
    char file[] = "/opt/fw/fw.bin";
    const struct {
        char* category;
        char* file;
        bool stageAndUpdate;
    } cases[] = {{nullptr, file, true}, {category, nullptr, true}, {category, file, false}};
    for (const auto& c : cases) {
        wrapper->EndCopyFile();
        tessa.ScriptCodes(0x07, {0xC1});
        std::string text;
        EXPECT_EQ(wrapper->rollbackUsingWaveBMethod({"/tmp/work/payload/fw.bin"}, c.category, c.file, true, text,
                                                    c.stageAndUpdate, false, ""),
                  KOLT_DROPBOXCREATEFAILED);
        EXPECT_EQ(wrapper->cfgEntries.size(), 7u);
        struct stat info;
        EXPECT_NE(::stat("/tmp/work/1234.xml", &info), 0);
        EXPECT_NE(::stat("/tmp/work/ssibinput.xml", &info), 0);
    }
}
