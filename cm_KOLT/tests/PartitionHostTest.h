#ifndef CM_KOLT_TESTS_PARTITIONHOSTTEST_H
#define CM_KOLT_TESTS_PARTITIONHOSTTEST_H

// A Linux host for the attach, detach and mount tests: the management
// controller model behind the IPMI library's device seam with a session
// open, USB disks behind the SCSI seam, every shell command, pause and
// umount(2) recorded by the platform layer, and a private, empty /tmp
// (a tmpfs inside the test's mount namespace) where the mount folders are
// checked and made.

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FakeScsiHost.h"
#include "FatTestImages.h"
#include "KoltTestSupport.h"
#include "SimTessaController.h"

namespace parthost {

const char* const kUsbBuiltin =
    "grep -i \"usb[-_]storage.ko\" /lib/modules/$(uname -r)/modules.builtin  > /dev/null 2>&1";
const char* const kUsbLoaded = "lsmod | grep usb_storage  > /dev/null 2>&1";
const char* const kUsbLoad = "modprobe usb_storage  > /dev/null 2>&1";
const char* const kSgProbe = "lsmod | grep -w sg >/dev/null;echo $?";
const char* const kBlockdev = "/sbin/blockdev --report /dev/sd* > /dev/null 2>&1";
const char* const kRemoveLinks = "rm -f /dev/sectesupd-* > /dev/null 2>&1";

// A tmpfs over /tmp for the life of the object, inside the namespace of
// the test; made after every HostNamespace operation, whose scratch folder
// it hides.
class PrivateTmp {
public:
    PrivateTmp()
    {
        if (::mount("zagotmp", "/tmp", "tmpfs", 0, "size=16m,mode=1777") != 0)
            ADD_FAILURE() << "private /tmp: " << std::strerror(errno);
        else
            m_mounted = true;
    }
    ~PrivateTmp()
    {
        if (m_mounted)
            ::umount2("/tmp", MNT_DETACH);
    }
    PrivateTmp(const PrivateTmp&) = delete;
    PrivateTmp& operator=(const PrivateTmp&) = delete;

private:
    bool m_mounted = false;
};

} // namespace parthost

class PartitionHostTest : public KoltHostTest {
protected:
    PartitionHostTest() : tessa(controller) {}

    void SetUp() override
    {
        // usb_storage is a module, loaded already.
        host.answer(parthost::kUsbBuiltin, 256);
        host.answer(parthost::kUsbLoaded, 0);
        dir.write("zordebuglog", "");
        tmp.reset(new parthost::PrivateTmp);
        ASSERT_EQ(::mkdir(kImages, 0700), 0);
        ASSERT_TRUE(fatimg::makeFat(image("SECUPD"), 12, 1024, "SECUPD"));
        ASSERT_TRUE(fatimg::makeFat(image("TES022"), 12, 1024, "TES022"));
        host.answer(parthost::kSgProbe, 0, "0\n");
        host.answer(parthost::kBlockdev, 0);

        savedRows.assign(tessaPartInfo, tessaPartInfo + TESSA_PARTITION_ROWS);
        client = ClientWithoutLifeCycle();
        LoadLibrary();
        client->hostOsIndex = REDHAT;
        OpenSession();
        tessaPartInfo[0].partIdWord = 0x0200;   // drop box on dynamic bit 1
        tessaPartInfo[0].present = true;
        tessa.AddDynamicPartition(1, "SECUPD");
        tessaPartInfo[22].partIdWord = 0x0400;  // "TES022" on static bit 2
        tessaPartInfo[22].present = true;
        host.take();
        host.sleeps.clear();
        firstFrame = controller.Frames().size();
    }

    void TearDown() override
    {
        client.reset();
        tmp.reset();
        // The table is process-wide: the next test starts from the same rows.
        if (savedRows.size() == TESSA_PARTITION_ROWS)
            std::copy(savedRows.begin(), savedRows.end(), tessaPartInfo);
        KoltHostTest::TearDown();
    }

    void OpenSession()
    {
        std::memset(&IPMIReqBuf, 0, sizeof(IPMIReqBuf));
        ASSERT_EQ(client->IPMIRequest(0x00, &IPMIReqBuf, 8, 10), 0);
        client->session.active = 1;
        ASSERT_EQ(client->session.handle, 0x1234);
    }

    static std::string image(const std::string& label) { return std::string(kImages) + "/" + label + ".img"; }

    // The controller's USB disk for a label, as usb-storage shows it: each
    // disk on an adapter of its own.
    void exposeDisk(const std::string& label, const std::string& sg, const std::string& disk)
    {
        scsi.addUsbDisk(sg, disk, nextAdapter++, image(label));
    }

    // The drop box on /dev/sdb and "TES022" on /dev/sdc, exposed and ready
    // to mount: mkdir, ln, mount and rm succeed.
    void exposeAndMountable()
    {
        exposeDisk("SECUPD", "sg3", "/dev/sdb");
        exposeDisk("TES022", "sg4", "/dev/sdc");
        mkdirMakesFolders();
        host.answerPrefix("ln -sf ", 0);
        host.answerPrefix("mount ", 0);
        host.answerPrefix("rm ", 0);
    }

    // Copies into the drop box happen for real in the private /tmp: "/bin/cp"
    // and the drop box's mkdir commands run in the shell; "sync" is only
    // recorded.
    void copiesRunInTheShell()
    {
        host.answer("sync", 0);
        for (const char* prefix : {"/bin/cp ", "/bin/mkdir -p /tmp/SECUPD/", "mkdir /tmp/SECUPD/"})
            host.answerPrefix(prefix, RunInShell);
    }

    // Runs a command in the test's namespace, where /tmp is private.
    static int RunInShell(const std::string& command) { return std::system(command.c_str()); }

    // mkdir makes the folder in the private /tmp, as the shell would.
    void mkdirMakesFolders()
    {
        host.answerPrefix("mkdir -p /tmp/", [](const std::string& command) {
            const std::string folder = command.substr(std::strlen("mkdir -p "));
            return ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST ? 0 : 256;
        });
    }

    // The frames of the test, as hexadecimal text.
    std::vector<std::string> framesSinceSetUp() const
    {
        std::vector<std::string> frames;
        const std::vector<std::vector<uint8_t>> all = controller.Frames();
        for (size_t i = firstFrame; i < all.size(); ++i)
            frames.push_back(SimHex(all[i]));
        return frames;
    }

    // The working directory lies below the hidden /tmp: read through it.
    std::vector<std::string> Log() const { return KoltLogMessages("KOLT_DBG.log"); }

    static constexpr const char* kImages = "/tmp/images";

    SimTessaController tessa;
    FakeScsiHost scsi;
    ScopedSeam<CScsiHostAccess> scsiInstalled{scsi};
    std::unique_ptr<parthost::PrivateTmp> tmp;
    std::unique_ptr<secureTessa> client;
    size_t firstFrame = 0;
    int nextAdapter = 6;
    std::vector<TessaPartitionEntry> savedRows;
};

#endif
