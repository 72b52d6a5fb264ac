#include <gtest/gtest.h>

#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <regex>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "EmulatedNVMeHost.h"
#include "EmulatedUsbDiskHost.h"
#include "HostNamespace.h"
#include "RedHatServer.h"
#include "NVMeControllerModel.h"
#include "NVMeTestData.h"
#include "Md5Wrapper.h"
#include "Sha.h"
#include "SimManagementController.h"
#include "SimTessaController.h"
#include "TempDir.h"

// The shipped program's update run and its rollback copy on a controller
// that takes the single stage-and-update command, all on one emulated host:
// the ZAGO controller behind /dev/nvme0, the management controller behind
// /dev/ipmi0, its drop box appearing as a USB disk when attached. The
// controller's side of staging is played here: it checks the handed-over
// digest against the request document it reads from the drop box, and on
// the stage command keeps the drop box's "payload" folder.

namespace {

namespace fs = std::filesystem;

const std::string kPackage = packageXml({{"0A1F", "2151", "1B4B", "1028"}}, "ZAGO BOSS-N1 Modular");

std::string sha256Of(const std::string& text)
{
    char digest[65] = {0};
    CSHA sha;
    sha.CalculateSHA256(text, false, digest);
    return digest;
}

// The controller's side of the single stage-and-update command.
class StagingController {
public:
    StagingController(SimTessaController& tessa, EmulatedUsbDiskHost& usb, const std::string& stagedFolder)
        : m_usb(usb), m_staged(stagedFolder)
    {
        tessa.SetSubHandler(0x26, [this](const std::vector<uint8_t>& data) { return answer(data); });
    }

    std::vector<std::string> operations() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_operations;
    }
    std::string handedDigest() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_digest;
    }
    // The status poll's answer once the document matched its digest: 0
    // (done) unless set, 3 for "staged, reboot required".
    void setMatchedStatus(uint8_t status)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_matchedStatus = status;
    }

private:
    SimIpmiReply answer(const std::vector<uint8_t>& data)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        SimIpmiReply reply;
        const uint8_t operation = data.size() > 3 ? data[3] : 0;
        uint8_t status = 0;
        switch (operation) {
        case 0x01: m_operations.push_back("capability"); break;
        case 0x20:
            m_operations.push_back("digest scheme");
            reply.data = {0, 0x01, 0};   // SHA-256
            return reply;
        case 0x10:
            if (data.size() > 4 && data[4] == 0x00) {
                m_operations.push_back("hand-over header");
                m_digest.clear();
            } else {
                m_operations.push_back("hand-over part");
                for (size_t i = 5; i < data.size() && i < 15 && data[i] != 0; ++i)
                    m_digest += static_cast<char>(data[i]);
            }
            break;
        case 0x08: {
            m_operations.push_back("status");
            const std::string document = readWholeFile(m_usb.backingFolder("SECUPD") + "/input_secupd.xml");
            status = !document.empty() && sha256Of(document) == m_digest ? m_matchedStatus : 38;
            break;
        }
        case 0x02:
        case 0x04:
            m_operations.push_back(operation == 0x02 ? "stage" : "stage and update");
            fs::remove_all(m_staged);
            fs::copy(m_usb.backingFolder("SECUPD") + "/payload", m_staged, fs::copy_options::recursive);
            status = 4;
            break;
        default: m_operations.push_back("other"); break;
        }
        reply.data = {status, 0, 0};
        return reply;
    }

    EmulatedUsbDiskHost& m_usb;
    std::string m_staged;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_operations;
    std::string m_digest;
    uint8_t m_matchedStatus = 0;
};

// An older controller's side of the copy: the MD5 of "update.xml" arrives
// in four parts after a header (sub-command 9); when it matches the
// document in the drop box, the document's entries are carried out on the
// "TES022" partition's folder.
class OlderController {
public:
    OlderController(SimTessaController& tessa, EmulatedUsbDiskHost& usb) : m_usb(usb)
    {
        tessa.SetHandOverObserver([this](const std::string& digest) { carryOut(digest); });
    }

    std::vector<std::string> carriedOut() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_done;
    }

    // A file copy the controller leaves out, as a faulty one would.
    void DropFileCopy(const std::string& destination)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dropped = destination;
    }

private:
    static std::string element(const std::string& text, const std::string& name)
    {
        const size_t start = text.find("<" + name + ">");
        if (start == std::string::npos)
            return "";
        const size_t from = start + name.size() + 2;
        return text.substr(from, text.find("</" + name + ">", from) - from);
    }

    // A managed-storage path ("tes022/...") on the partition's folder.
    std::string onPartition(const std::string& path) const
    {
        return m_usb.backingFolder("TES022") + "/" + path.substr(path.find('/') + 1);
    }

    void carryOut(const std::string& digest)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const std::string dropBox = m_usb.backingFolder("SECUPD") + "/";
        const std::string document = readWholeFile(dropBox + "update.xml");
        md5wrapper md5;
        if (document.empty() || md5.getHashFromString(document) != digest) {
            m_done.push_back("digest mismatch");
            return;
        }
        static const std::regex file("<File order=\"[0-9]+\">([\\s\\S]*?)</File>");
        for (std::sregex_iterator it(document.begin(), document.end(), file), end; it != end; ++it) {
            const std::string entry = (*it)[1];
            const std::string mode = element(entry, "Mode");
            const std::string destination = element(entry, "Destination");
            m_done.push_back(mode + " " + destination);
            if (mode == "dirmake") {
                fs::create_directories(onPartition(destination));
            } else if (mode == "filecopy" && destination == m_dropped) {
                continue;
            } else if (mode == "filecopy") {
                fs::copy_file(dropBox + element(entry, "Source"), onPartition(destination),
                              fs::copy_options::overwrite_existing);
            } else if (mode == "filedelete" || mode == "dirdelete") {
                fs::remove_all(onPartition(destination));
            } else if (mode == "dirmove") {
                fs::rename(onPartition(element(entry, "SourceTESSA")), onPartition(destination));
            }
        }
    }

    EmulatedUsbDiskHost& m_usb;
    mutable std::mutex m_mutex;
    std::string m_dropped;
    std::vector<std::string> m_done;
};

class RollbackRoad : public testing::Test {
protected:
    static void SetUpTestSuite() { suiteNamespace = new HostNamespace; }
    static void TearDownTestSuite()
    {
        delete suiteNamespace;
        suiteNamespace = nullptr;
    }

    RollbackRoad()
        : ns(*suiteNamespace), exeDir(false), workDir(false), stagedDir(false), tessa(controller), usb(ns, tessa),
          nvme(usb.testbed()), staging(tessa, usb, stagedDir.path() + "/package")
    {
        StageRedHatServer(ns, exeDir);

        fs::copy_file(NVMEPCISSD_EXECUTABLE, exeDir.file("nvmepcissd"));
        std::string image;
        for (int i = 0; i < 3000; ++i)
            image += "firmware block " + std::to_string(i) + "\n";
        image.resize(image.size() / 4 * 4, '\n');
        exeDir.write("payload/fw.bin", image);
        exeDir.write("package.xml", kPackage);
        exeDir.write("zordebuglog", "");
        workDir.write("package.xml", kPackage);

        auto model = std::make_shared<ZagoControllerModel>();
        model->setAdapterIds(0x1B4B, 0xA1F, 0x1028, 0x2151);
        model->setAdapterSerial("SN0001");
        model->setIdentify("SN0001", "ZAGO BOSS-N1", "0.9", 1);
        model->setFirmwareNumbers(2, 5, 0, 17);
        EmulatedController controllerNode;
        controllerNode.name = "nvme0";
        controllerNode.pciAddress = "0000:3b:00.0";
        controllerNode.sysfsIds.vendor = 0x1B4B;
        controllerNode.sysfsIds.device = 0xA1F;
        controllerNode.sysfsIds.subVendor = 0x1028;
        controllerNode.sysfsIds.subDevice = 0x2151;
        controllerNode.model = model;
        nvme.addController(controllerNode);
    }

    // The drop box the client creates takes the lowest free bit; exposed,
    // it shows up as a USB disk once attached.
    void ExposeDropBox() { usb.exposeDynamic(0, "SECUPD"); }

    // A run that staged what it applied through the drop box, and left no
    // drop box, attachment or session behind.
    void ExpectTheAppliedPackageStaged(const EmulatedRun& run)
    {
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_FALSE(run.timedOut);
        const std::string log = workDir.read("debug_update.log");
        EXPECT_NE(log.find("CRollBackPopulator::doRollbackAndUpdate Done succesfully with return code : 0"),
                  std::string::npos)
            << log << exeDir.read("KOLT_DBG.log");
        EXPECT_NE(exeDir.read("result.xml").find("Firmware update is successful."), std::string::npos);

        // The controller saw the road in order and the digest it was handed
        // is the document's.
        const std::vector<std::string> operations = staging.operations();
        EXPECT_EQ(operations, (std::vector<std::string>{"capability", "digest scheme", "hand-over header",
                                                        "hand-over part", "hand-over part", "hand-over part",
                                                        "hand-over part", "hand-over part", "hand-over part",
                                                        "hand-over part", "status", "stage"}));
        const std::string document = readWholeFile(usb.backingFolder("SECUPD") + "/input_secupd.xml");
        EXPECT_EQ(staging.handedDigest(), sha256Of(document));

        // What was staged is what was applied, byte for byte.
        EXPECT_EQ(readWholeFile(stagedDir.path() + "/package/fw.bin"), exeDir.read("payload/fw.bin"));
        EXPECT_EQ(readWholeFile(stagedDir.path() + "/package/package.xml"), kPackage);

        // The drop box is gone, nothing is attached, the session is over.
        EXPECT_TRUE(tessa.DynamicPartitions().empty());
        EXPECT_EQ(tessa.AttachedDynamicBits(), 0);
        EXPECT_FALSE(tessa.SessionOpen());
    }

    // One umount(2) call of the program as the preload records it: never
    // following a link, and the kernel's answer.
    static std::string Umount(const std::string& folder, int answer)
    {
        return "umount2 " + folder + " " + std::to_string(UMOUNT_NOFOLLOW) + " = " + std::to_string(answer);
    }

    // The managed-storage requests from the first VC status query on, named.
    std::vector<std::string> RoadFrames() const
    {
        std::vector<std::string> names;
        for (const std::vector<uint8_t>& frame : controller.Frames()) {
            if (frame.size() < 2 || frame[0] != 0x30)
                continue;
            if (frame[1] == 0xA9)
                names.push_back("VC status");
            if (names.empty() || frame[1] != 0xA2 || frame.size() < 3)
                continue;
            switch (frame[2]) {
            case 0x01: names.push_back("end session"); break;
            case 0x05: names.push_back("attach"); break;
            case 0x06: names.push_back("detach"); break;
            case 0x07: names.push_back("create"); break;
            case 0x08: names.push_back("delete"); break;
            case 0x26:
                if (frame.size() > 5)
                    names.push_back("single " + std::to_string(frame[5]));
                break;
            default: names.push_back("sub " + std::to_string(frame[2])); break;
            }
        }
        return names;
    }

    static HostNamespace* suiteNamespace;
    HostNamespace& ns;
    TempDir exeDir;
    TempDir workDir;
    TempDir stagedDir;
    SimManagementController controller;
    SimTessaController tessa;
    EmulatedUsbDiskHost usb;
    EmulatedNVMeHost nvme;
    StagingController staging;
};

HostNamespace* RollbackRoad::suiteNamespace = nullptr;

} // namespace

TEST_F(RollbackRoad, TheAppliedPackageIsStagedThroughTheDropBox)
{
    ExposeDropBox();
    EmulatedRun run = usb.run(exeDir.file("nvmepcissd"), {"-u", "-o", "result.xml", "-d"}, workDir.path(), 120);
    ExpectTheAppliedPackageStaged(run);
    const std::string document = readWholeFile(usb.backingFolder("SECUPD") + "/input_secupd.xml");

    // The request document lists the two files with their SHA-256.
    EXPECT_EQ(document, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TESSA_Update>\n"
                        "\t<File order=\"2\"><Hash>" + sha256Of(kPackage) +
                            "</Hash><Source>payload/package.xml</Source><Mode>filecopy</Mode>"
                            "<Algorithm>SHA256</Algorithm>\n</File>\n"
                            "\t<File order=\"3\"><Hash>" + sha256Of(exeDir.read("payload/fw.bin")) +
                            "</Hash><Source>payload/fw.bin</Source><Mode>filecopy</Mode>"
                            "<Algorithm>SHA256</Algorithm>\n</File>\n</TESSA_Update>\n\n");

    // One read-write mount of the drop box; the pauses a real host would
    // have taken: one search attempt, the pause after the mount, the
    // settle after the attach.
    EXPECT_EQ(usb.mountCalls(),
              std::vector<std::string>{"-n -t vfat -oshortname=mixed,rw /dev/sectesupd-SECUPD /tmp/SECUPD"});
    EXPECT_EQ(usb.sleeps(), (std::vector<std::string>{"sleep 5", "sleep 1", "sleep 10"}));
    // The session start holds TES001's folder with one of its own before it
    // asks, and finds no /tmp/SECUPD, so it leaves the kernel out of that:
    // the drop box's folder is asked about only once it was mounted there.
    EXPECT_EQ(usb.umountCalls(), (std::vector<std::string>{Umount("/tmp/TES001", EINVAL), Umount("/tmp/SECUPD", 0),
                                                           Umount("/tmp/SECUPD", EINVAL)}));

    // The requests in order: VC status, capability (1), digest scheme (32),
    // the create with its partition queries, attach, detach, the hand-over
    // header and seven parts (16), the status poll (8), the stage (2), the
    // delete and the end of the session.
    std::vector<std::string> road = {"VC status", "single 1", "single 32", "sub 3", "create", "sub 3", "sub 4",
                                     "attach", "detach"};
    road.insert(road.end(), 8, "single 16");
    road.insert(road.end(), {"single 8", "single 2", "delete", "end session"});
    EXPECT_EQ(RoadFrames(), road);
}

// Another user linked the fixed mount folders of the drop box and of TES001
// (the one every session start unmounts) to file systems of their own
// before the run: the links go, the file systems behind them stay mounted
// with their files, and the package is staged as on a clean host.
TEST_F(RollbackRoad, LinksPlantedAtTheMountFoldersAreNeverFollowed)
{
    ExposeDropBox();
    const std::string plant =
        "set -e\n"
        "for name in SECUPD TES001; do\n"
        "  mkdir /tmp/theirs-$name\n"
        "  mount -t tmpfs theirs /tmp/theirs-$name\n"
        "  echo their data > /tmp/theirs-$name/file\n"
        "  ln -s /tmp/theirs-$name /tmp/$name\n"
        "  chown -h 1000:1000 /tmp/$name\n"
        "done\n";
    const std::string look = "for name in SECUPD TES001; do\n"
                             "  mountpoint -q /tmp/theirs-$name && echo \"$name mounted: $(cat /tmp/theirs-$name/file)\"\n"
                             "  test -L /tmp/$name && echo \"$name still linked\"\n"
                             "done; exit 0\n";
    EmulatedRun run = usb.run(exeDir.file("nvmepcissd"), {"-u", "-o", "result.xml", "-d"}, workDir.path(), 120, {},
                              plant, look);
    ExpectTheAppliedPackageStaged(run);
    EXPECT_EQ(run.afterOut, "SECUPD mounted: their data\nTES001 mounted: their data\n");
    EXPECT_EQ(usb.mountCalls(),
              std::vector<std::string>{"-n -t vfat -oshortname=mixed,rw /dev/sectesupd-SECUPD /tmp/SECUPD"});
    EXPECT_EQ(usb.sleeps(), (std::vector<std::string>{"sleep 5", "sleep 1", "sleep 10"}));
    const std::string kolt = exeDir.read("KOLT_DBG.log");
    EXPECT_NE(kolt.find("Removing /tmp/SECUPD: it is not a folder"), std::string::npos) << kolt;
    EXPECT_NE(kolt.find("Removing /tmp/TES001: it is not a folder"), std::string::npos) << kolt;
    // The planted names were removed, never handed to umount(2): only the
    // program's own mount of the drop box came off.
    EXPECT_EQ(usb.umountCalls(), (std::vector<std::string>{Umount("/tmp/SECUPD", 0), Umount("/tmp/SECUPD", EINVAL)}));
}

// "Staged, reboot required" in answer to the status poll after the
// hand-over: the copy stands, the stage command follows, and only then the
// drop box goes.
TEST_F(RollbackRoad, AStatusOfStagedRebootRequiredGoesOnToTheStage)
{
    ExposeDropBox();
    staging.setMatchedStatus(3);
    EmulatedRun run = usb.run(exeDir.file("nvmepcissd"), {"-u", "-o", "result.xml", "-d"}, workDir.path(), 120);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(workDir.read("debug_update.log")
                  .find("CRollBackPopulator::doRollbackAndUpdate Done succesfully with return code : 0"),
              std::string::npos)
        << exeDir.read("KOLT_DBG.log");
    const std::vector<std::string> operations = staging.operations();
    ASSERT_GE(operations.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(operations.end() - 2, operations.end()),
              (std::vector<std::string>{"status", "stage"}));
    EXPECT_EQ(readWholeFile(stagedDir.path() + "/package/fw.bin"), exeDir.read("payload/fw.bin"));
    const std::vector<std::string> road = RoadFrames();
    ASSERT_GE(road.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(road.end() - 4, road.end()),
              (std::vector<std::string>{"single 8", "single 2", "delete", "end session"}));
    EXPECT_TRUE(tessa.DynamicPartitions().empty());
}

// A document the controller finds altered is no staged package: the copy
// fails with 24 and the drop box is deleted; the update stands.
TEST_F(RollbackRoad, ADigestMismatchFailsTheCopyAndRemovesTheDropBox)
{
    ExposeDropBox();
    tessa.SetSubHandler(0x26, [](const std::vector<uint8_t>& data) {
        SimIpmiReply reply;
        const uint8_t operation = data.size() > 3 ? data[3] : 0;
        reply.data = {static_cast<uint8_t>(operation == 0x08 ? 38 : 0), static_cast<uint8_t>(operation == 0x20), 0};
        return reply;
    });
    EmulatedRun run = usb.run(exeDir.file("nvmepcissd"), {"-u", "-o", "result.xml", "-d"}, workDir.path(), 120);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(workDir.read("debug_update.log")
                  .find("CRollBackPopulator::doRollbackAndUpdate Done succesfully with return code : 18"),
              std::string::npos);
    EXPECT_NE(exeDir.read("result.xml").find("Firmware update is successful."), std::string::npos);
    EXPECT_EQ(tessa.CountSub(0x07), 1u);
    EXPECT_TRUE(tessa.DynamicPartitions().empty());
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0);
    EXPECT_FALSE(fs::exists(stagedDir.path() + "/package"));
}

// A drop box that never shows up on the host: five attaches of 60 search
// attempts each, 5 s apart (25 minutes on a real host), then 27; the drop
// box is detached and deleted again.
TEST_F(RollbackRoad, ADropBoxThatNeverAppearsIs27)
{
    EmulatedRun run = usb.run(exeDir.file("nvmepcissd"), {"-u", "-o", "result.xml", "-d"}, workDir.path(), 120);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(workDir.read("debug_update.log")
                  .find("CRollBackPopulator::doRollbackAndUpdate Done succesfully with return code : 1b"),
              std::string::npos);
    EXPECT_NE(exeDir.read("result.xml").find("Firmware update is successful."), std::string::npos);
    EXPECT_EQ(usb.attempts(), 300u);
    const std::vector<std::string> sleeps = usb.sleeps();
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), "sleep 5"), 300);
    EXPECT_EQ(tessa.CountSub(0x07), 1u);
    EXPECT_TRUE(tessa.DynamicPartitions().empty());
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0);
    EXPECT_TRUE(usb.mountCalls().empty());
    EXPECT_FALSE(fs::exists(stagedDir.path() + "/package"));
}

// An older controller without the single command: the package goes into the
// component's "current" and "previous" folders on "TES022" and is verified
// there; a later run with another version turns "current" into "previous",
// and one with the same version only refills "current".
TEST_F(RollbackRoad, OlderControllersKeepCurrentAndPreviousOnTheFirmwareImagePartition)
{
    ExposeDropBox();
    usb.exposeStatic(2, "TES022");
    tessa.SetSubHandler(0x26, [](const std::vector<uint8_t>&) {
        SimIpmiReply reply;
        reply.data = {1, 0, 0};   // the single command is not taken
        return reply;
    });
    OlderController older(tessa, usb);
    auto withVersion = [](const std::string& version) {
        std::string text = kPackage;
        text.replace(text.find("<SoftwareComponent>"), 19, "<SoftwareComponent vendorVersion=\"" + version + "\">");
        return text;
    };
    const std::string first = "first firmware!\n";   // whole dwords
    exeDir.write("payload/fw.bin", first);
    exeDir.write("package.xml", withVersion("A00"));

    EmulatedRun run = usb.run(exeDir.file("nvmepcissd"), {"-u", "-o", "result.xml", "-d"}, workDir.path(), 120);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(workDir.read("debug_update.log")
                  .find("CRollBackPopulator::doRollbackAndUpdate Done succesfully with return code : 0"),
              std::string::npos);
    const std::string component = usb.backingFolder("TES022") + "/104530/";
    for (const char* folder : {"current/", "previous/"}) {
        EXPECT_EQ(readWholeFile(component + folder + "fw.bin"), first) << folder;
        EXPECT_EQ(readWholeFile(component + folder + "package.xml"), withVersion("A00")) << folder;
    }
    EXPECT_NE(exeDir.read("KOLT_DBG.log").find("VerifyCopyFiles Succeeded"), std::string::npos);
    EXPECT_TRUE(tessa.DynamicPartitions().empty());
    EXPECT_EQ(tessa.AttachedStaticBits(), 0);

    // A new version: the old files move to "previous".
    exeDir.write("payload/fw.bin", "second firmware\n");
    exeDir.write("package.xml", withVersion("A01"));
    run = usb.run(exeDir.file("nvmepcissd"), {"-u", "-o", "result.xml", "-d"}, workDir.path(), 120);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(readWholeFile(component + "current/fw.bin"), "second firmware\n");
    EXPECT_EQ(readWholeFile(component + "current/package.xml"), withVersion("A01"));
    EXPECT_EQ(readWholeFile(component + "previous/fw.bin"), first);
    EXPECT_EQ(readWholeFile(component + "previous/package.xml"), withVersion("A00"));
    const std::vector<std::string> done = older.carriedOut();
    EXPECT_EQ(std::count(done.begin(), done.end(), "digest mismatch"), 0);
    EXPECT_NE(std::find(done.begin(), done.end(), "dirmove tes022/104530/previous"), done.end());

    // The same version again (case aside): "current" is emptied and filled
    // anew, "previous" stays.
    exeDir.write("payload/fw.bin", "third firmware!\n");
    exeDir.write("package.xml", withVersion("a01"));
    run = usb.run(exeDir.file("nvmepcissd"), {"-u", "-o", "result.xml", "-d"}, workDir.path(), 120);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(readWholeFile(component + "current/fw.bin"), "third firmware!\n");
    EXPECT_EQ(readWholeFile(component + "current/package.xml"), withVersion("a01"));
    EXPECT_EQ(readWholeFile(component + "previous/fw.bin"), first);
    EXPECT_EQ(readWholeFile(component + "previous/package.xml"), withVersion("A00"));
}

// A file the older controller failed to copy is found by the verification:
// 47, and the drop box is gone all the same.
TEST_F(RollbackRoad, AFileTheOlderControllerDroppedFailsTheVerification)
{
    ExposeDropBox();
    usb.exposeStatic(2, "TES022");
    tessa.SetSubHandler(0x26, [](const std::vector<uint8_t>&) {
        SimIpmiReply reply;
        reply.data = {1, 0, 0};
        return reply;
    });
    OlderController older(tessa, usb);
    older.DropFileCopy("tes022/104530/previous/fw.bin");
    exeDir.write("payload/fw.bin", "first firmware!\n");

    EmulatedRun run = usb.run(exeDir.file("nvmepcissd"), {"-u", "-o", "result.xml", "-d"}, workDir.path(), 120);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_NE(workDir.read("debug_update.log")
                  .find("CRollBackPopulator::doRollbackAndUpdate Done succesfully with return code : 2f"),
              std::string::npos);
    EXPECT_NE(exeDir.read("result.xml").find("Firmware update is successful."), std::string::npos);
    EXPECT_TRUE(tessa.DynamicPartitions().empty());
    EXPECT_EQ(tessa.AttachedStaticBits(), 0);
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0);
}
