// The managed-storage model answers a separate, unmodified program through
// umockdev's /dev/ipmi0, as it answers in-process behind the device seam.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "EmulatedIPMIDevice.h"
#include "SimManagementController.h"
#include "SimTessaController.h"
#include "TempDir.h"

TEST(SimTessaUmockdev, AProgramDrivesASessionThroughTheEmulatedDevice)
{
    SimManagementController controller;
    SimTessaController tessa(controller);
    tessa.AddDynamicPartition(0, "SECUPD");
    tessa.ScriptCodes(SimTessaController::DeleteDynamicPartition, {0x08});   // busy once

    TempDir dir;
    EmulatedRun run;
    {
        EmulatedIPMIHost host(controller);
        run = host.run(IPMI_FRAME_CLIENT,
                       {"30BD", "30A21202B0040000", "30A20334120000", "30A2083412000100000000",
                        "30A2083412000100000000", "30A20134120000"},
                       dir.path());
    }
    SCOPED_TRACE(run.out + run.err);
    ASSERT_EQ(run.exitStatus, 0);
    std::vector<std::string> lines;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line);)
        lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "result=0 answer=00000000000020",
                         "result=0 answer=00341200000000",
                         "result=0 answer=0034120007000000010000",
                         "result=0 answer=08341200000000",
                         "result=0 answer=003412000000000000",
                         "result=0 answer=003412",
                     }));

    EXPECT_EQ(tessa.DeletedWords(), std::vector<uint16_t>{0x0001});
    EXPECT_EQ(tessa.DynamicBits(), 0u);
    EXPECT_FALSE(tessa.SessionOpen());
    ASSERT_EQ(controller.Frames().size(), 6u);
    EXPECT_EQ(SimHex(controller.Frames()[1]), "30 A2 12 02 B0 04 00 00");
}
