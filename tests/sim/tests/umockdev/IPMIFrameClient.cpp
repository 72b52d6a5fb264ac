// Sends IPMI frames through the IPMI library to whatever answers on the
// IPMI device, one frame per argument ("30A20302"... NetFn, command, data
// in hexadecimal), and prints one line per frame:
//   result=<n> answer=<completion code and data in hexadecimal>
// Started by the model's end-to-end test under umockdev's preload.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>

#include "QRMIPMIInterfaceImpl.h"

namespace {

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

int main(int argc, char** argv)
{
    if (!InsideTestbed()) {
        printf("not-in-testbed\n");
        return 3;
    }
    QRMIPMIInterfaceImpl* library = new QRMIPMIInterfaceImpl;
    for (int i = 1; i < argc; ++i) {
        _QRMIPMICommandData record;
        memset(&record, 0, sizeof(record));
        const size_t digits = strlen(argv[i]);
        for (size_t at = 0; at + 1 < digits && record.requestLength < sizeof(record.request); at += 2) {
            char pair[3] = {argv[i][at], argv[i][at + 1], 0};
            record.request[record.requestLength++] = static_cast<unsigned char>(strtoul(pair, nullptr, 16));
        }
        unsigned result = library->IPMIRequest(&record);
        printf("result=%u answer=", result);
        for (unsigned b = 2; b < record.responseLength && b < sizeof(record.response); ++b)
            printf("%02X", record.response[b]);
        printf("\n");
    }
    library->Release();
    delete library;
    return 0;
}
