// The built program's result file on a disk that cannot take it. The disks
// are small tmpfs mounts of a private mount namespace, which the test
// process must enter before any thread starts: this file holds only this
// test.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "EmulatedNVMeHost.h"
#include "HostNamespace.h"
#include "TempDir.h"

namespace {

const std::string kProgram = NVMEPCISSD_EXECUTABLE;

const std::string kEmptyInventory =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SVMInventory lang=\"en\"></SVMInventory>";

} // namespace

// A result file that cannot be written ends the run with status 1: the
// earlier document stays as it was (no truncated file), no temporary file
// is left, the document reaches standard output and the log says why.
TEST(MainE2EResultFile, FullOrReadOnlyDiskFailsTheRunAndKeepsTheEarlierDocument)
{
    HostNamespace ns;
    const std::string full = ns.smallDisk(64 * 1024);
    const std::string readOnly = ns.smallDisk(64 * 1024);
    for (const std::string& disk : {full, readOnly}) {
        std::ofstream(disk + "/out.xml") << "<earlier/>";
    }
    ns.fill(full);
    ns.makeReadOnly(readOnly);
    TempDir dir(false);
    EmulatedNVMeHost host;

    struct Case {
        std::string disk;
        std::vector<std::string> expectedEntries;
        std::string reason;
    } cases[] = {
        {full, {"filler", "out.xml"}, "No space left on device"},
        {readOnly, {"out.xml"}, "Read-only file system"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.disk);
        EmulatedRun run = host.run(kProgram, {"-i", "-o", c.disk + "/out.xml", "-d", "run.log"}, dir.path());

        EXPECT_EQ(run.exitStatus, 1) << run.err;
        EXPECT_EQ(run.out, kEmptyInventory);
        EXPECT_EQ(readWholeFile(c.disk + "/out.xml"), "<earlier/>");
        std::vector<std::string> entries;
        for (const auto& e : std::filesystem::directory_iterator(c.disk))
            entries.push_back(e.path().filename().string());
        std::sort(entries.begin(), entries.end());
        EXPECT_EQ(entries, c.expectedEntries);
        std::string log = dir.read("run.log");
        EXPECT_NE(log.find("ERROR: CInventoryXMLWriter::print() "), std::string::npos) << log;
        EXPECT_NE(log.find(c.reason), std::string::npos) << log;
        EXPECT_NE(log.find("ERROR: pDeviceXmlWriter->GetXML() created an exception and it is caught !"),
                  std::string::npos);
    }
}
