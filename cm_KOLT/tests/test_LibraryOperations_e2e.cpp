// The library operations that go through the drop box, run by a separate
// program on an emulated Linux host: the management controller model
// behind /dev/ipmi0, its partitions as USB disks that the program finds,
// mounts and unmounts for real, and the controller's side of the drop box
// reading the requests the program leaves there.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "EmulatedUsbDiskHost.h"
#include "HostNamespace.h"
#include "RedHatServer.h"
#include "SimDropBoxRequests.h"
#include "SimManagementController.h"
#include "SimTessaController.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;

const char* const kPackage = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<SoftwareComponent vendorVersion=\"2.5.0\">\n"
                             "  <SupportedDevices><Device componentID=\"1234\"/></SupportedDevices>\n"
                             "</SoftwareComponent>\n";
const char* const kVclAnswer = "<?xml version=\"1.0\"?>\n<VCL><Record>7</Record></VCL>\n";

std::string Hex(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof(two), "%02x", b);
        text += two;
    }
    return text;
}

std::string Md5sumOf(const std::string& path)
{
    FILE* pipe = ::popen(("md5sum -- '" + path + "'").c_str(), "r");
    char digest[33] = {0};
    if (pipe != nullptr) {
        if (std::fread(digest, 1, 32, pipe) != 32)
            digest[0] = 0;
        ::pclose(pipe);
    }
    return digest;
}

class LibraryOperations : public testing::Test {
protected:
    // One namespace for the suite: it must come before any thread, and
    // umockdev's threads outlive a testbed.
    static void SetUpTestSuite() { suiteNamespace = new HostNamespace; }
    static void TearDownTestSuite()
    {
        delete suiteNamespace;
        suiteNamespace = nullptr;
    }

    LibraryOperations() : ns(*suiteNamespace), exeDir(false), workDir(false), tessa(controller), usb(ns, tessa)
    {
        StageRedHatServer(ns, exeDir);

        fs::copy_file(USB_DISCOVERY_DRIVER, exeDir.file("driver"));
        fs::permissions(exeDir.file("driver"), fs::perms::owner_all);
        workDir.write("package.xml", kPackage);
        workDir.write("zordebuglog", "");
        // The drop box takes the lowest free bit, the controller's own
        // offer of the secure update too.
        usb.exposeDynamic(0, "SECUPD");
        dropBox.reset(new SimDropBoxRequests(tessa, usb.backingFolder("SECUPD"), kVclAnswer));
    }

    // The program's output lines for the steps (after the client's).
    Strings Drive(const Strings& steps)
    {
        Strings args{"client", "-"};
        args.insert(args.end(), steps.begin(), steps.end());
        EmulatedRun run = usb.run(exeDir.file("driver"), args, workDir.path(), 120);
        EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
        EXPECT_FALSE(run.timedOut);
        Strings lines;
        std::istringstream in(run.out);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        EXPECT_FALSE(lines.empty());
        if (!lines.empty()) {
            EXPECT_EQ(lines.front(), "client=1 error=0") << workDir.read("KOLT_DBG.log");
            lines.erase(lines.begin());
        }
        return lines;
    }

    std::string Box(const std::string& name) const { return usb.backingFolder("SECUPD") + "/" + name; }

    static HostNamespace* suiteNamespace;
    HostNamespace& ns;
    TempDir exeDir;
    TempDir workDir;
    SimManagementController controller;
    SimTessaController tessa;
    EmulatedUsbDiskHost usb;
    // The controller's side of the requests left in the drop box.
    std::unique_ptr<SimDropBoxRequests> dropBox;
};

HostNamespace* LibraryOperations::suiteNamespace = nullptr;

} // namespace

TEST_F(LibraryOperations, ALogQueryGetsTheControllersAnswerThroughTheDropBox)
{
    const std::string machineDropBox = ns.lookOutside("/tmp/SECUPD");
    EXPECT_EQ(Drive({"query", "12"}),
              Strings{"query=1 error=0 answer=<?xml version=\"1.0\"?>\\n<VCL><Record>7</Record></VCL>\\n"});
    const std::vector<SimDropBoxRequests::Request> requests = dropBox->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].matched);
    EXPECT_NE(requests[0].document.find("<Mode>vcl_query_current_records</Mode>"), std::string::npos);
    // Mounted twice (request, answer), and gone afterwards.
    EXPECT_EQ(usb.mountCalls().size(), 2u);
    EXPECT_TRUE(tessa.DynamicPartitions().empty());
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0);
    // The machine's /tmp/SECUPD is as it was, whatever stood there.
    EXPECT_EQ(ns.lookOutside("/tmp/SECUPD"), machineDropBox);
}

TEST_F(LibraryOperations, ADependencyCheckReportsTheControllersVerdict)
{
    // A modular system with the capability levels the check needs.
    std::vector<uint8_t> capability(20, 0);
    capability[0] = 2;
    capability[1] = 20;
    tessa.SetCapability(capability);
    dropBox->SetAnswer("<?xml version=\"1.0\"?>\n<Result><status>1</status></Result>\n");
    EXPECT_EQ(Drive({"depcheck", "15"}),
              Strings{"depcheck=0 error=0 answer=\\n<Result><status>1</status></Result>\\n"});
    ASSERT_EQ(dropBox->Requests().size(), 1u);
    EXPECT_TRUE(dropBox->Requests()[0].matched);
    // The package the controller checks travelled with the request.
    EXPECT_EQ(readWholeFile(Box("package.xml")), kPackage);

    dropBox->SetAnswer("<?xml version=\"1.0\"?>\n<Result><status>0</status></Result>\n");
    EXPECT_EQ(Drive({"depcheck", "15"}), Strings{"depcheck=1 error=0 answer="});
    EXPECT_TRUE(tessa.DynamicPartitions().empty());
}

TEST_F(LibraryOperations, ASignedArchiveGoesIntoTheDropBoxTheSecureUpdateOffers)
{
    const std::string machineDropBox = ns.lookOutside("/tmp/SECUPD");
    workDir.write("archive.zip", std::string(70000, 'z'));
    workDir.write("archive.zip.sig", "signature\n");
    EXPECT_EQ(Drive({"signedunzip", workDir.file("archive.zip")}), Strings{"signedunzip=1 error=0"});

    EXPECT_TRUE(readWholeFile(Box("pkg/archive.zip")) == std::string(70000, 'z'));
    EXPECT_EQ(readWholeFile(Box("pkg/archive.zip.sig")), "signature\n");
    EXPECT_EQ(readWholeFile(Box("package.xml")), kPackage);
    const SimTessaController::SecureUpdate seen = tessa.SecureUpdateState();
    EXPECT_EQ(seen.begins, 1u);
    EXPECT_EQ(seen.ends, 1u);
    EXPECT_EQ(Hex(seen.digest), Md5sumOf(Box("update.xml")));
    // The controller offered the drop box: the program created and
    // attached nothing, and mounted once.
    EXPECT_EQ(tessa.CountSub(0x07), 0u);
    EXPECT_EQ(tessa.CountSub(0x05), 0u);
    EXPECT_EQ(usb.mountCalls().size(), 1u);
    EXPECT_EQ(ns.lookOutside("/tmp/SECUPD"), machineDropBox);
}

TEST_F(LibraryOperations, TheDirectCopyLeavesAFilledDropBoxForTheCaller)
{
    workDir.write("fw.bin", std::string(5000, 'f'));
    EXPECT_EQ(Drive({"directcopy", workDir.file("fw.bin")}), Strings{"directcopy=1 error=0"});
    EXPECT_TRUE(readWholeFile(Box("payload/fw.bin")) == std::string(5000, 'f'));
    EXPECT_NE(readWholeFile(Box("input_secupd.xml")).find("<Source>payload/fw.bin</Source>"), std::string::npos);
    EXPECT_EQ(tessa.CountSub(0x26), 0u);
    EXPECT_EQ(tessa.CountSub(0x09), 0u);
    // The drop box outlives the copy, and the program's end of its
    // session, until a caller deletes it.
    EXPECT_EQ(tessa.DynamicPartitions().size(), 1u);
    EXPECT_EQ(tessa.AttachedDynamicBits(), 0);

    EXPECT_EQ(Drive({"directcopy", workDir.file("fw.bin"), "deletedropbox", "-"}),
              (Strings{"directcopy=1 error=0", "deletedropbox=1"}));
    EXPECT_TRUE(tessa.DynamicPartitions().empty());
}
