#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FakeNVMeHost.h"
#include "Logger.h"
#include "NVMEZAGOLinuxAdapter.h"
#include "NVMeControllerModel.h"
#include "RefusingNVMeHost.h"
#include "TempDir.h"

namespace {

nvme_passthru_cmd vendorCommand(void* buffer)
{
    nvme_passthru_cmd cmd;
    std::memset(&cmd, 0, sizeof(cmd));
    cmd.opcode = 0xE2;
    cmd.cdw10 = 0x400;
    cmd.cdw12 = 0xE0;
    cmd.cdw14 = 0x0D;
    cmd.addr = reinterpret_cast<uint64_t>(buffer);
    cmd.data_len = 4096;
    return cmd;
}

class Adapter : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CLogger::GetInstance()->Initialize(dir.file("debug.log"))); }
    std::string log() { return dir.read("debug.log"); }
    // Position of `text` in the log after `from`, npos when absent.
    size_t at(const std::string& text, size_t from = 0) { return log().find(text, from); }

    TempDir dir;
    FakeNVMeHost host;
    NVMEZAGOLinuxAdapter adapter;
    std::vector<unsigned char> buffer = std::vector<unsigned char>(4096, 0);
};

} // namespace

TEST_F(Adapter, MissingDeviceFailsAndKeepsThePresetStatus)
{
    nvme_passthru_cmd cmd = vendorCommand(buffer.data());
    int status = -1;
    EXPECT_FALSE(adapter.executeIOCTL("/dev/nvme9", cmd, status));
    EXPECT_EQ(status, -1);
    EXPECT_NE(at("executeIOCTL: error on open 2"), std::string::npos);
    EXPECT_EQ(at("NVMEZAGOLinuxAdapter::executeIOCTL() Exiting"), std::string::npos);
}

TEST_F(Adapter, RejectedVendorOpcodeIsIssuedWithPositiveStatus)
{
    auto plain = std::make_shared<NVMeControllerModel>();
    host.addController("nvme0", "0000:3b:00.0", plain, {});
    nvme_passthru_cmd cmd = vendorCommand(buffer.data());
    int status = -1;
    EXPECT_TRUE(adapter.executeIOCTL("/dev/nvme0", cmd, status));
    EXPECT_EQ(status, NVMeStatus::INVALID_OPCODE_DNR);
    size_t value = at("executeIOCTL: ioctl return value = 16385");
    ASSERT_NE(value, std::string::npos);
    EXPECT_NE(at("executeIOCTL: cmd result 0", value), std::string::npos);
    EXPECT_EQ(at("executeIOCTL: error on ioctl"), std::string::npos);
    EXPECT_EQ(host.openDescriptors(), 0u);
    ASSERT_EQ(plain->received().size(), 1u);
    EXPECT_EQ(plain->received()[0].cmd.addr, reinterpret_cast<uint64_t>(buffer.data()));
}

TEST_F(Adapter, FailingIoctlIsReportedWithErrnoAndClosesTheNode)
{
    auto zago = std::make_shared<ZagoControllerModel>();
    zago->failIoctl(0xE2, EIO);
    host.addController("nvme0", "0000:3b:00.0", zago, {});
    nvme_passthru_cmd cmd = vendorCommand(buffer.data());
    int status = -1;
    EXPECT_FALSE(adapter.executeIOCTL("/dev/nvme0", cmd, status));
    EXPECT_EQ(status, -1);

    size_t first = at("executeIOCTL: ioctl return value = -1");
    size_t result1 = at("executeIOCTL: cmd result 0", first);
    size_t second = at("executeIOCTL: ioctl return value = -1", result1);
    size_t error = at("executeIOCTL: error on ioctl 5", second);
    size_t result2 = at("executeIOCTL: cmd result 0", error);
    size_t exiting = at("NVMEZAGOLinuxAdapter::executeIOCTL() Exiting", result2);
    EXPECT_NE(first, std::string::npos);
    EXPECT_NE(result1, std::string::npos);
    EXPECT_NE(second, std::string::npos);
    EXPECT_NE(error, std::string::npos);
    EXPECT_NE(result2, std::string::npos);
    EXPECT_NE(exiting, std::string::npos);
    EXPECT_EQ(host.openDescriptors(), 0u);
}

TEST_F(Adapter, SuccessfulCommandDeliversTheReply)
{
    auto zago = std::make_shared<ZagoControllerModel>();
    zago->setFirmwareNumbers(1, 2, 3, 4);
    host.addController("nvme0", "0000:3b:00.0", zago, {});
    nvme_passthru_cmd cmd = vendorCommand(buffer.data());
    int status = -1;
    EXPECT_TRUE(adapter.executeIOCTL("/dev/nvme0", cmd, status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(buffer[0xA8], 1);
    EXPECT_EQ(buffer[0xAE], 4);
}

TEST_F(Adapter, AlignedAllocGivesZeroedPageAlignedMemory)
{
    void* memory = adapter.alignedAlloc(10000);
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(memory) % static_cast<uintptr_t>(getpagesize()), 0u);
    const unsigned char* bytes = static_cast<const unsigned char*>(memory);
    for (size_t i = 0; i < 10000; ++i)
        ASSERT_EQ(bytes[i], 0) << i;
    free(memory);
}

TEST_F(Adapter, AlignedAllocReportsExhaustion)
{
#if defined(__SANITIZE_ADDRESS__) || defined(ZAGO_SANITIZED)
    GTEST_SKIP() << "the address sanitizer aborts on impossible allocations";
#endif
    EXPECT_EQ(adapter.alignedAlloc(~0UL), nullptr);
    EXPECT_NE(at("alignedAlloc: error on posix_memalign 12"), std::string::npos);
}

// sysfs attribute reads

TEST_F(Adapter, SysfsAttributeIsReadWithoutItsNewline)
{
    host.setAttribute("/sys/class/nvme/nvme0/address", "0000:3b:00.0\n");
    char text[100];
    std::memset(text, 'x', sizeof(text));
    ASSERT_TRUE(adapter.readFileContents("/sys/class/nvme/nvme0/address", text, sizeof(text)));
    EXPECT_STREQ(text, "0000:3b:00.0");
}

TEST_F(Adapter, AttributeReadNeverWritesPastTheCallersBuffer)
{
    // sysfs reports 4096 bytes; a 60-byte line does not fit 50 bytes.
    host.setAttribute("/sys/bus/pci/devices/x/vendor", std::string(60, 'A') + "\n");
    struct {
        char buffer[50];
        char guard[64];
    } area;
    std::memset(&area, 0x5A, sizeof(area));
    EXPECT_FALSE(adapter.readFileContents("/sys/bus/pci/devices/x/vendor", area.buffer, sizeof(area.buffer)));
    for (char c : area.guard)
        ASSERT_EQ(c, 0x5A);
    EXPECT_EQ(std::string(area.buffer, strnlen(area.buffer, sizeof(area.buffer))), "");
}

TEST_F(Adapter, AttributeThatJustFitsIsRead)
{
    host.setAttribute("/sys/a", std::string(49, 'B'));
    char text[50];
    ASSERT_TRUE(adapter.readFileContents("/sys/a", text, sizeof(text)));
    EXPECT_EQ(std::string(text), std::string(49, 'B'));
}

TEST_F(Adapter, AttributeReadFailures)
{
    char text[50];
    EXPECT_FALSE(adapter.readFileContents("/sys/missing", text, sizeof(text)));
    host.setAttribute("/sys/a", "1\n");
    EXPECT_FALSE(adapter.readFileContents("/sys/a", nullptr, 50));
    EXPECT_EQ(log().find("readFileContents"), std::string::npos);
}

// The plain system calls, on files of the test's own folder: never a device.
TEST(AdapterOnLinux, OrdinaryFileThatFitsIsReadWhole)
{
    UseLinuxNVMeHostAccess realCalls;
    TempDir dir;
    dir.write("attr", "0x1bd4\n");
    NVMEZAGOLinuxAdapter adapter;
    char text[50];
    ASSERT_TRUE(adapter.readFileContents(dir.file("attr").c_str(), text, sizeof(text)));
    EXPECT_STREQ(text, "0x1bd4");
}

TEST(AdapterOnLinux, MissingDeviceNodeFailsToOpen)
{
    UseLinuxNVMeHostAccess realCalls;
    TempDir dir;
    ASSERT_TRUE(CLogger::GetInstance()->Initialize(dir.file("debug.log")));
    NVMEZAGOLinuxAdapter adapter;
    nvme_passthru_cmd cmd;
    std::memset(&cmd, 0, sizeof(cmd));
    int status = -1;
    // A path inside the test's own directory: never a real device.
    EXPECT_FALSE(adapter.executeIOCTL(dir.file("nvme0"), cmd, status));
    EXPECT_EQ(status, -1);
    EXPECT_NE(dir.read("debug.log").find("executeIOCTL: error on open 2"), std::string::npos);
}
