#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "QRMIPMICommandData.h"

namespace {

_QRMIPMICommandData MakeRecord()
{
    _QRMIPMICommandData rec;
    memset(&rec, 0, sizeof(rec));
    return rec;
}

} // namespace

TEST(QRMIPMICommandData, LayoutMatchesThePublicRecord)
{
    // Callers fill these records field by field and keep them as globals.
    EXPECT_EQ(sizeof(_QRMIPMIConfiguration), 24u);
    EXPECT_EQ(offsetof(_QRMIPMIConfiguration, PollingStatus), 20u);
    EXPECT_EQ(offsetof(_QRMIPMICommandData, requestLength), sizeof(void*));
    EXPECT_EQ(offsetof(_QRMIPMICommandData, request), sizeof(void*) + 8);
    EXPECT_EQ(offsetof(_QRMIPMICommandData, response), sizeof(void*) + 8 + 255);
}

TEST(QRMIPMICommandData, WrappingClearsOnlyTheResponseBytes)
{
    _QRMIPMICommandData rec = MakeRecord();
    _QRMIPMIConfiguration cfg = {60, 5, 5, 50, 0x1234, 0x56};
    rec.configuration = &cfg;
    rec.requestLength = 3;
    rec.responseLength = 7;
    rec.request[0] = 0x30;
    rec.request[1] = 0xA2;
    rec.request[2] = 0x11;
    memset(rec.response, 0xEE, sizeof(rec.response));

    {
        CQRMIPMICommandData cmd(&rec);
        EXPECT_EQ(cmd.GetConfigurationData(), &cfg);
    }

    for (unsigned i = 0; i < sizeof(rec.response); ++i)
        ASSERT_EQ(rec.response[i], 0) << "response byte " << i;
    EXPECT_EQ(rec.responseLength, 7u);
    EXPECT_EQ(rec.requestLength, 3u);
    EXPECT_EQ(rec.request[0], 0x30);
    EXPECT_EQ(rec.request[1], 0xA2);
    EXPECT_EQ(rec.request[2], 0x11);
    EXPECT_EQ(rec.configuration, &cfg);
    // The polling fields of the attached configuration are reset, nothing else.
    EXPECT_EQ(cfg.PollInterval, 60u);
    EXPECT_EQ(cfg.PollCount, 5u);
    EXPECT_EQ(cfg.RetryCount, 5u);
    EXPECT_EQ(cfg.RetryInterval, 50u);
    EXPECT_EQ(cfg.PollingByte, 0u);
    EXPECT_EQ(cfg.PollingStatus, 0);
}

TEST(QRMIPMICommandData, NullRecordIsHarmless)
{
    CQRMIPMICommandData cmd(nullptr);
    EXPECT_EQ(cmd.GetRequestBufferData(), nullptr);
    EXPECT_EQ(cmd.GetResponseBufferData(2), nullptr);
    EXPECT_EQ(cmd.GetRequestBufferLength(), 0u);
    EXPECT_EQ(cmd.GetRetryCount(), 0u);
}

TEST(QRMIPMICommandData, ConfigurationAccessorsGoThroughTheAttachedRecord)
{
    _QRMIPMICommandData rec = MakeRecord();
    CQRMIPMICommandData cmd(&rec);

    // Without a configuration: zero and no effect.
    EXPECT_EQ(cmd.GetRetryCount(), 0u);
    EXPECT_EQ(cmd.GetRetryInterval(), 0u);
    cmd.SetRetryCount(9);
    EXPECT_EQ(cmd.GetConfigurationData(), nullptr);

    _QRMIPMIConfiguration cfg = {1, 2, 3, 4, 5, 6};
    cmd.SetConfigurationData(&cfg);
    EXPECT_EQ(rec.configuration, &cfg);
    EXPECT_EQ(cmd.GetPollInterval(), 1u);
    EXPECT_EQ(cmd.GetPollCount(), 2u);
    EXPECT_EQ(cmd.GetRetryCount(), 3u);
    EXPECT_EQ(cmd.GetRetryInterval(), 4u);
    EXPECT_EQ(cmd.GetPollingByte(), 5u);
    EXPECT_EQ(cmd.GetPollingStatus(), 6);

    cmd.SetPollInterval(11);
    cmd.SetPollCount(12);
    cmd.SetRetryCount(13);
    cmd.SetRetryInterval(14);
    cmd.SetPollingByteStatus(15, 16);
    EXPECT_EQ(cfg.PollInterval, 11u);
    EXPECT_EQ(cfg.PollCount, 12u);
    EXPECT_EQ(cfg.RetryCount, 13u);
    EXPECT_EQ(cfg.RetryInterval, 14u);
    EXPECT_EQ(cfg.PollingByte, 15u);
    EXPECT_EQ(cfg.PollingStatus, 16);
}

TEST(QRMIPMICommandData, PollingIsRequiredUnlessTheMarkerIsAllOnes)
{
    _QRMIPMICommandData rec = MakeRecord();
    _QRMIPMIConfiguration cfg = {};
    rec.configuration = &cfg;
    CQRMIPMICommandData cmd(&rec);

    for (unsigned value : {0u, 1u, 0xFFu, 0xFFFFFFFEu}) {
        cmd.SetPollingByteStatus(value, 0);
        EXPECT_TRUE(cmd.IsPollingRequired()) << value;
    }
    cmd.SetPollingByteStatus(0xFFFFFFFFu, 0);
    EXPECT_FALSE(cmd.IsPollingRequired());
}

TEST(QRMIPMICommandData, BufferWritersRefuseMoreThanTheBufferHolds)
{
    std::vector<unsigned char> source(300);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<unsigned char>(i + 1);

    _QRMIPMICommandData rec = MakeRecord();
    CQRMIPMICommandData cmd(&rec);

    cmd.SetRequestBufferData(source.data(), 255);
    EXPECT_EQ(rec.requestLength, 255u);
    EXPECT_EQ(memcmp(rec.request, source.data(), 255), 0);

    cmd.SetRequestBufferData(source.data() + 1, 256);
    EXPECT_EQ(rec.requestLength, 255u);
    EXPECT_EQ(rec.request[0], 1);

    cmd.SetRequestBufferData(nullptr, 4);
    EXPECT_EQ(rec.requestLength, 4u);
    EXPECT_EQ(rec.request[0], 1);

    cmd.SetResponseBufferData(source.data(), 255);
    EXPECT_EQ(rec.responseLength, 255u);
    EXPECT_EQ(memcmp(rec.response, source.data(), 255), 0);

    cmd.SetResponseBufferData(source.data() + 1, 256);
    EXPECT_EQ(rec.responseLength, 255u);
    EXPECT_EQ(rec.response[0], 1);

    cmd.SetResponseBufferLength(1000);   // unchecked by design
    EXPECT_EQ(cmd.GetResponseBufferLength(), 1000u);
}

TEST(QRMIPMICommandData, ResponseBytePointersStayInsideTheBuffer)
{
    _QRMIPMICommandData rec = MakeRecord();
    CQRMIPMICommandData cmd(&rec);
    EXPECT_EQ(cmd.GetRequestBufferData(), rec.request);
    EXPECT_EQ(cmd.GetResponseBufferData(0), rec.response);
    EXPECT_EQ(cmd.GetResponseBufferData(2), rec.response + 2);
    EXPECT_EQ(cmd.GetResponseBufferData(254), rec.response + 254);
    EXPECT_EQ(cmd.GetResponseBufferData(255), nullptr);
}
