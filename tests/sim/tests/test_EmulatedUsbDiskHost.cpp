// The management controller's partitions as USB disks of an emulated host:
// a test-only program runs the client's real discovery against it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "EmulatedUsbDiskHost.h"
#include "HostNamespace.h"
#include "SimManagementController.h"
#include "SimTessaController.h"
#include "TempDir.h"

namespace {

const char* const kBegin = "30A21202B0040000";
// Attach and detach of dynamic bit 0 (the drop box) with handle 0x1234.
const char* const kAttachDropBox = "30A20534120000000000010000";
const char* const kDetachDropBox = "30A20634120000000000010000";
const char* const kAttachTES001 = "30A20534120001000000000000";

std::vector<std::string> outputLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, 5, "send ") != 0)
            lines.push_back(line);
    return lines;
}

bool existsHere(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

class EmulatedUsbDiskHostTest : public testing::Test {
protected:
    // One namespace for the whole suite: it must come before any thread,
    // and umockdev's threads outlive a testbed.
    static void SetUpTestSuite() { namespaceOfSuite = new HostNamespace; }
    static void TearDownTestSuite()
    {
        delete namespaceOfSuite;
        namespaceOfSuite = nullptr;
    }

    static HostNamespace& suiteNamespace()
    {
        if (namespaceOfSuite == nullptr)
            throw std::runtime_error("the suite has no host namespace");
        return *namespaceOfSuite;
    }

    EmulatedUsbDiskHostTest() : ns(suiteNamespace()), tessa(controller) { tessa.AddDynamicPartition(0, "SECUPD"); }

    // Runs the driver with the given steps; the output lines of the
    // discovery steps (frames are checked to be answered with success).
    std::vector<std::string> drive(EmulatedUsbDiskHost& host, const std::vector<std::string>& steps)
    {
        EmulatedRun run = host.run(USB_DISCOVERY_DRIVER, steps, work.path());
        EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
        EXPECT_FALSE(run.timedOut);
        std::istringstream in(run.out);
        for (std::string line; std::getline(in, line);) {
            if (line.compare(0, 5, "send ") == 0) {
                EXPECT_EQ(line.compare(0, 22, "send result=0 answer=0"), 0) << line;
            }
        }
        return outputLines(run.out);
    }

    static HostNamespace* namespaceOfSuite;
    HostNamespace& ns;
    SimManagementController controller;
    SimTessaController tessa;
    TempDir work{false};
};

HostNamespace* EmulatedUsbDiskHostTest::namespaceOfSuite = nullptr;

} // namespace

TEST_F(EmulatedUsbDiskHostTest, TheAttachedDropBoxIsFoundAsItsDiskAmongDecoys)
{
    EmulatedUsbDiskHost host(ns, tessa);
    host.addLocalDisk("SECUPD");    // same label, not on USB
    host.addUsbDisk("SECUPD2");     // on USB, a longer label
    host.exposeDynamic(0, "SECUPD");
    ASSERT_EQ(host.deviceOf("SECUPD"), "");

    std::vector<std::string> found =
        drive(host, {"send", kBegin, "send", kAttachDropBox, "search", "SECUPD", "label", "SECUPD"});

    ASSERT_EQ(host.deviceOf("SECUPD"), "/dev/sdc");
    EXPECT_EQ(found, (std::vector<std::string>{"search SECUPD=/dev/sdc", "label SECUPD=1:/dev/sdc"}));
    EXPECT_EQ(host.nodes(), (std::vector<std::string>{"/dev/sda", "/dev/sdb", "/dev/sdc", "/dev/sg0", "/dev/sg1",
                                                      "/dev/sg2"}));
    // One attempt: one scan, one pause of 5 s.
    EXPECT_EQ(host.attempts(), 1u);
    EXPECT_EQ(host.sleeps(), std::vector<std::string>{"sleep 5"});
}

TEST_F(EmulatedUsbDiskHostTest, WithAPartitionTableTheLabelSitsOnTheFirstPartition)
{
    EmulatedUsbDiskHost host(ns, tessa);
    host.exposeDynamic(0, "SECUPD", EmulatedUsbDiskHost::DiskOptions{true});

    std::vector<std::string> found = drive(host, {"send", kBegin, "send", kAttachDropBox, "search", "SECUPD"});

    EXPECT_EQ(host.deviceOf("SECUPD"), "/dev/sda1");
    EXPECT_EQ(found, std::vector<std::string>{"search SECUPD=/dev/sda1"});
}

TEST_F(EmulatedUsbDiskHostTest, APartitionAppearsAfterTheSetNumberOfSearchAttempts)
{
    EmulatedUsbDiskHost host(ns, tessa);
    host.exposeDynamic(0, "SECUPD");
    host.setAttemptsBeforeAppearing(3);

    std::vector<std::string> found = drive(host, {"send", kBegin, "send", kAttachDropBox, "search", "SECUPD"});

    EXPECT_EQ(found, std::vector<std::string>{"search SECUPD=/dev/sda"});
    EXPECT_EQ(host.attempts(), 4u);
    EXPECT_DOUBLE_EQ(host.sleptSeconds(), 20.0);
}

TEST_F(EmulatedUsbDiskHostTest, NothingAttachedNothingFoundAfterSixtyAttempts)
{
    EmulatedUsbDiskHost host(ns, tessa);
    host.addLocalDisk("SECUPD");
    host.addUsbDisk("SECUPD2");
    host.exposeDynamic(0, "SECUPD");

    std::vector<std::string> found = drive(host, {"search", "SECUPD"});

    EXPECT_EQ(found, std::vector<std::string>{"search SECUPD="});
    EXPECT_EQ(host.attempts(), 60u);
    EXPECT_EQ(host.sleeps(), std::vector<std::string>(60, "sleep 5"));
    EXPECT_DOUBLE_EQ(host.sleptSeconds(), 300.0);
}

TEST_F(EmulatedUsbDiskHostTest, DiskOnlyModeTakesALocalDiskThatNormalModeLeavesAlone)
{
    EmulatedUsbDiskHost host(ns, tessa);
    host.addLocalDisk("SECUPD");

    EXPECT_EQ(drive(host, {"label", "SECUPD", "disk-only", "SECUPD"}),
              (std::vector<std::string>{"label SECUPD=0:", "disk-only SECUPD=1:/dev/sda"}));
}

TEST_F(EmulatedUsbDiskHostTest, DetachTakesTheDiskAwayAndOnlyTheAttachedPartitionShows)
{
    tessa.AddStaticPartition(0, "TES001");
    EmulatedUsbDiskHost host(ns, tessa);
    host.exposeStatic(0, "TES001");
    host.exposeDynamic(0, "SECUPD");

    EXPECT_EQ(drive(host, {"send", kBegin, "send", kAttachTES001, "label", "SECUPD", "label", "TES001"}),
              (std::vector<std::string>{"label SECUPD=1:", "label TES001=1:/dev/sda"}));
    drive(host, {"send", kAttachDropBox});
    EXPECT_EQ(host.deviceOf("SECUPD"), "/dev/sdb");
    drive(host, {"send", kDetachDropBox});
    EXPECT_EQ(host.deviceOf("SECUPD"), "");
    EXPECT_EQ(host.nodes(), (std::vector<std::string>{"/dev/sda", "/dev/sg0"}));
    EXPECT_EQ(drive(host, {"label", "SECUPD"}), std::vector<std::string>{"label SECUPD=1:"});

    // Attached again, it comes back at the lowest free name.
    drive(host, {"send", kAttachDropBox});
    EXPECT_EQ(drive(host, {"label", "SECUPD"}), std::vector<std::string>{"label SECUPD=1:/dev/sdb"});
}

// The executable mounts through the shell; a file written on the mount lands
// in the partition's backing folder, and nothing reaches the machine's /dev
// or /tmp.
TEST_F(EmulatedUsbDiskHostTest, AMountThroughTheShellShowsThePartitionsBackingFolder)
{
    const std::string machineDropBox = ns.lookOutside("/tmp/SECUPD");
    const std::string machineNumbered = ns.lookOutside("/tmp/TES001");
    const std::string machineLink = ns.lookOutside("/dev/sectesupd-SECUPD");
    EmulatedUsbDiskHost host(ns, tessa);
    host.exposeDynamic(0, "SECUPD");
    drive(host, {"send", kBegin, "send", kAttachDropBox});
    ASSERT_EQ(host.deviceOf("SECUPD"), "/dev/sda");

    const std::string script =
        "mkdir -p /tmp/SECUPD && ln -sf /dev/sda /dev/sectesupd-SECUPD && "
        "mount -n -t vfat -oshortname=mixed,rw /dev/sectesupd-SECUPD /tmp/SECUPD && "
        "echo payload > /tmp/SECUPD/package.bin && umount /tmp/SECUPD && "
        "mkdir -p /tmp/TES001 && ln -sf /dev/sda /dev/sectesupd-TES001 && "
        "mount -n -t vfat -oshortname=mixed,ro /dev/sectesupd-TES001 /tmp/TES001 && "
        "cat /tmp/TES001/package.bin && ! touch /tmp/TES001/other 2>/dev/null && umount /tmp/TES001 && "
        "! mount -n -t vfat -orw /dev/sdz /tmp/SECUPD 2>/dev/null && "
        "ls /dev | grep sectesupd; rm -f /dev/sectesupd-*; ls /dev | grep -c sectesupd";
    // Run as the executable runs its commands: by a shell it starts (which
    // has no preload).
    EmulatedRun run = host.run("/bin/sh", {"-c", "exec /bin/sh -c \"$1\"", "sh", script}, work.path());

    EXPECT_EQ(run.exitStatus, 1) << run.err;   // grep -c found none
    EXPECT_EQ(run.out, "payload\nsectesupd-SECUPD\nsectesupd-TES001\n0\n") << run.err;
    EXPECT_EQ(readWholeFile(host.backingFolder("SECUPD") + "/package.bin"), "payload\n");
    EXPECT_EQ(host.mountCalls(),
              (std::vector<std::string>{"-n -t vfat -oshortname=mixed,rw /dev/sectesupd-SECUPD /tmp/SECUPD",
                                        "-n -t vfat -oshortname=mixed,ro /dev/sectesupd-TES001 /tmp/TES001",
                                        "-n -t vfat -orw /dev/sdz /tmp/SECUPD"}));
    // The run's names stay in the run: neither the test's namespace nor the
    // machine sees anything new or changed at them.
    EXPECT_EQ(ns.lookOutside("/tmp/SECUPD"), machineDropBox);
    EXPECT_EQ(ns.lookOutside("/tmp/TES001"), machineNumbered);
    EXPECT_EQ(ns.lookOutside("/dev/sectesupd-SECUPD"), machineLink);
    EXPECT_FALSE(existsHere("/tmp/SECUPD"));
    EXPECT_FALSE(existsHere("/tmp/TES001"));
}

// The client's own attach of the drop box: it finds the disk, mounts it
// through the shell, and a file written on the mount lands in the backing
// folder; the unmount takes it off again.
TEST_F(EmulatedUsbDiskHostTest, TheClientAttachesAndMountsTheDropBox)
{
    const std::string machineDropBox = ns.lookOutside("/tmp/SECUPD");
    const std::string machineLink = ns.lookOutside("/dev/sectesupd-SECUPD");
    EmulatedUsbDiskHost host(ns, tessa);
    host.addUsbDisk("SECUPD2");
    host.exposeDynamic(0, "SECUPD");
    host.setAttemptsBeforeAppearing(1);

    std::vector<std::string> out = drive(host, {"send", kBegin, "attach-dropbox", "1234", "write",
                                                "/tmp/SECUPD/package.bin", "unmount-dropbox", "-"});

    EXPECT_EQ(out, (std::vector<std::string>{"attach-dropbox=1 error=0", "write=1", "unmount-dropbox=1"}));
    EXPECT_EQ(readWholeFile(host.backingFolder("SECUPD") + "/package.bin"), "payload\n");
    EXPECT_EQ(readWholeFile(host.backingFolder("SECUPD2") + "/package.bin"), "");
    EXPECT_EQ(host.mountCalls(),
              std::vector<std::string>{"-n -t vfat -oshortname=mixed,rw /dev/sectesupd-SECUPD /tmp/SECUPD"});
    // The write landing in the backing folder shows the disk was attached
    // and mounted; the client's end of its session takes it off again.
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0u);
    // Two search attempts (5 s each), the pause after the mount, then the
    // settle of 10 s (after what the IPMI library's start asked for).
    EXPECT_EQ(host.attempts(), 2u);
    const std::vector<std::string> sleeps = host.sleeps();
    ASSERT_GE(sleeps.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(sleeps.end() - 4, sleeps.end()),
              (std::vector<std::string>{"sleep 5", "sleep 5", "sleep 1", "sleep 10"}));
    EXPECT_EQ(ns.lookOutside("/tmp/SECUPD"), machineDropBox);
    EXPECT_EQ(ns.lookOutside("/dev/sectesupd-SECUPD"), machineLink);
    EXPECT_FALSE(existsHere("/tmp/SECUPD"));
    // The program's own umount(2) calls, recorded with their flags
    // (UMOUNT_NOFOLLOW) and answers: the mount comes off, then nothing is
    // mounted there.
    EXPECT_EQ(host.umountCalls(),
              (std::vector<std::string>{"umount2 /tmp/SECUPD 8 = 0", "umount2 /tmp/SECUPD 8 = 22"}));
}

// A program that scanned one disk sees the next one after the first went
// away: the class folder the program lists is the testbed's own, even
// after it was emptied.
TEST_F(EmulatedUsbDiskHostTest, ADiskShownAfterAnotherWentAwayIsFoundInTheSameRun)
{
    tessa.AddStaticPartition(0, "TES001");
    EmulatedUsbDiskHost host(ns, tessa);
    host.exposeStatic(0, "TES001");
    host.exposeDynamic(0, "SECUPD");
    EXPECT_EQ(drive(host, {"send", kBegin, "send", kAttachTES001, "label", "TES001", "send",
                           "30A20634120001000000000000", "send", kAttachDropBox, "label", "SECUPD"}),
              (std::vector<std::string>{"label TES001=1:/dev/sda", "label SECUPD=1:/dev/sda"}));
}
