// The IPMI library's settings reader on arbitrary "QRMIPMIConfig.xml"
// contents: parse, find the default node, read every key the library asks
// for, release, and read again from the same file.

#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "QRMIPMIXMLConfiguration.h"

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
    return 0;
}
