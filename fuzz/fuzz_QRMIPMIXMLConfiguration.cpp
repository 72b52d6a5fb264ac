// The IPMI library's settings reader on arbitrary "QRMIPMIConfig.xml"
// contents: parse, find the default node, read every key the library asks
// for, release, and read again from the same file; then the settings a
// session takes from the file, which must stay within their sane ranges
// whatever the file says.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "FuzzSupport.h"
#include "QRMIPMISession.h"
#include "QRMIPMIXMLConfiguration.h"

namespace {

// A setting the file did not set stays 0 (the session's own start value).
void RequireWithin(const char* key, uint32_t value, uint32_t lowest, uint32_t highest)
{
    if (value != 0 && (value < lowest || value > highest)) {
        std::fprintf(stderr, "fuzz: session took %s %u from the file, outside %u..%u\n", key, value, lowest, highest);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnterScratchDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::WriteFile("QRMIPMIConfig.xml", data, size);

    static const char* const kKeys[] = {"RetryCount", "RetryInterval", "PollingCount", "PollingInterval",
                                        "Default", ""};
    QRMIPMIXMLConfig config(QRMString("QRMIPMIConfig.xml", QRMString::QRM_ENCODING_UTF8));
    for (int round = 0; round < 2; ++round) {
        config.Initialize();
        config.GetDefaultConfigNode();
        for (const char* key : kKeys) {
            int value = 0;
            config.GetConfigInt(QRMString(key, QRMString::QRM_ENCODING_UTF8), &value);
        }
        config.Release();
    }

    // The settings file of the sessions is read once per process: start
    // afresh and leave nothing behind.
    QRMIPMISession::mIPMIXMLConfig.Release();
    {
        QRMIPMISession session;
        session.InitializeFromFile();
        const _QRMIPMIConfiguration* got = session.GetConfiguration();
        RequireWithin("RetryCount", got->RetryCount, QRMIPMISession::kLowestRetryCount,
                      QRMIPMISession::kHighestRetryCount);
        RequireWithin("PollingCount", got->PollCount, 0, QRMIPMISession::kHighestPollCount);
        RequireWithin("PollingInterval", got->PollInterval, 0, QRMIPMISession::kHighestInterval);
        RequireWithin("RetryInterval", got->RetryInterval, 0, QRMIPMISession::kHighestInterval);
    }
    QRMIPMISession::mIPMIXMLConfig.Release();
    return 0;
}
