#ifndef TESTS_SIM_ADMINCOMMANDEXPECTATIONS_H
#define TESTS_SIM_ADMINCOMMANDEXPECTATIONS_H

// Test-only (gtest): checks of a received admin command, field by field.

#include <gtest/gtest.h>

#include <cstdint>

#include "NVMeControllerModel.h"

// The fields an admin command of the program sets; everything else of the
// pass-through record must be zero (timeout 0: the driver's default).
struct ExpectedAdminCommand {
    uint8_t opcode = 0;
    uint32_t nsid = 0;
    uint32_t cdw10 = 0;
    uint32_t cdw11 = 0;
    uint32_t cdw12 = 0;
    uint32_t cdw14 = 0;
    uint32_t dataLength = 0;  // 0: no data buffer
};

inline void expectAdminCommand(const ReceivedAdminCommand& received, const ExpectedAdminCommand& expected)
{
    const nvme_passthru_cmd& c = received.cmd;
    EXPECT_EQ(c.opcode, expected.opcode);
    EXPECT_EQ(c.flags, 0u);
    EXPECT_EQ(c.rsvd1, 0u);
    EXPECT_EQ(c.nsid, expected.nsid);
    EXPECT_EQ(c.cdw2, 0u);
    EXPECT_EQ(c.cdw3, 0u);
    EXPECT_EQ(c.metadata, 0u);
    EXPECT_EQ(c.metadata_len, 0u);
    EXPECT_EQ(c.data_len, expected.dataLength);
    if (expected.dataLength != 0)
        EXPECT_NE(c.addr, 0u);
    else
        EXPECT_EQ(c.addr, 0u);
    EXPECT_EQ(c.cdw10, expected.cdw10);
    EXPECT_EQ(c.cdw11, expected.cdw11);
    EXPECT_EQ(c.cdw12, expected.cdw12);
    EXPECT_EQ(c.cdw13, 0u);
    EXPECT_EQ(c.cdw14, expected.cdw14);
    EXPECT_EQ(c.cdw15, 0u);
    EXPECT_EQ(c.timeout_ms, 0u);
}

// The two commands discovery sends to every listed controller.
inline ExpectedAdminCommand adapterInformationCommand()
{
    ExpectedAdminCommand e;
    e.opcode = 0xE2;
    e.cdw10 = 0x400;
    e.cdw12 = 0xE0;
    e.cdw14 = 0x0D;
    e.dataLength = 4096;
    return e;
}

inline ExpectedAdminCommand identifyControllerCommand()
{
    ExpectedAdminCommand e;
    e.opcode = 0x06;
    e.cdw10 = 1;
    e.dataLength = 4096;
    return e;
}

#endif
