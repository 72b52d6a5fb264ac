// Runs the IPMI transport unchanged against whatever answers on the IPMI
// device: started by the end-to-end test under umockdev's preload, it sends
// a fixed list of requests and prints one line per request:
//   <name> result=<n> length=<n> response=<hex bytes>
// plus one line about the device's readability before anything was sent.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/stat.h>

#include "LQRMIPMIProcessor.h"
#include "QRMIPMICommandProcessorCreator.h"

namespace {

struct Request {
    const char* name;
    unsigned retryCount;
    unsigned length;
    unsigned char bytes[8];
};

const Request kRequests[] = {
    {"device-id", 5, 2, {0x06, 0x01}},
    {"oem-busy-once", 5, 4, {0x30, 0xA2, 0x01, 0x02}},
    {"unknown", 5, 2, {0x30, 0x99}},
};

// Only ever talk to the emulated device: the preload must be active and the
// testbed must hold the node, or a real IPMI device could be reached.
bool InsideTestbed()
{
    const char* dir = getenv("UMOCKDEV_DIR");
    if (dir == nullptr)
        return false;
    struct stat st;
    if (lstat((std::string(dir) + "/dev/ipmi0").c_str(), &st) != 0)
        return false;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("libumockdev-preload") != std::string::npos)
            return true;
    return false;
}

} // namespace

int main()
{
    if (!InsideTestbed()) {
        printf("not-in-testbed\n");
        return 3;
    }
    IIPMICommandProcessor* processor = IPMICommandProcessorCreator::Create();
    if (processor == nullptr) {
        printf("no-device\n");
        return 2;
    }

    // What the wait sees on the device node while no answer is queued.
    struct pollfd pfd = {static_cast<IPMIProcessor*>(processor)->GetDescriptor(), POLLIN, 0};
    int ready = poll(&pfd, 1, 0);
    printf("idle-poll rc=%d revents=0x%x\n", ready, static_cast<unsigned>(pfd.revents));

    for (const Request& r : kRequests) {
        _QRMIPMIConfiguration config = {60, 5, r.retryCount, 50, 0, 0};
        _QRMIPMICommandData record;
        memset(&record, 0, sizeof(record));
        record.configuration = &config;
        record.requestLength = r.length;
        memcpy(record.request, r.bytes, r.length);

        CQRMIPMICommandData command(&record);
        QRMIPMIResult result = processor->ExecuteCommand(command);
        printf("%s result=%u length=%u response=", r.name, result, record.responseLength);
        unsigned shown = record.responseLength <= 255 ? record.responseLength : 255;
        for (unsigned i = 0; i < shown; ++i)
            printf("%02x", record.response[i]);
        printf("\n");
    }
    delete processor;
    return 0;
}
