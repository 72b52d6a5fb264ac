// The FAT volume-label reader on arbitrary disk contents, read through the
// SCSI host seam: the input is the disk from byte 0. The first byte picks
// how the disk ends: right after the input (reads there come back short),
// or zero-filled up to 64 MiB, so that clusters and root directories far
// from the start can be reached with small inputs.

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "LinuxUtils.h"
#include "ScsiHostAccess.h"

namespace {

const int kFd = 9;
const char kDiskPath[] = "/dev/sdz";

class FuzzDisk : public IScsiHostAccess {
public:
    const uint8_t* data = nullptr;
    size_t size = 0;       // bytes of the input
    uint64_t extent = 0;   // where the disk ends
    int opens = 0;

    int openDevice(const char* path, int) override
    {
        if (std::strcmp(path, kDiskPath) != 0) {
            errno = ENOENT;
            return -1;
        }
        ++opens;
        return kFd;
    }
    int closeDevice(int fd) override
    {
        if (fd != kFd) {
            std::fprintf(stderr, "fuzz: close of a descriptor that was not opened\n");
            std::abort();
        }
        --opens;
        return 0;
    }
    int control(int, unsigned long, void*) override
    {
        errno = ENOTTY;
        return -1;
    }
    ssize_t readAt(int fd, void* buffer, size_t length, off_t offset) override
    {
        if (fd != kFd || offset < 0) {
            errno = EINVAL;
            return -1;
        }
        const uint64_t at = static_cast<uint64_t>(offset);
        if (at >= extent)
            return 0;
        const size_t count = static_cast<size_t>(std::min<uint64_t>(length, extent - at));
        unsigned char* out = static_cast<unsigned char*>(buffer);
        for (size_t i = 0; i < count; ++i)
            out[i] = at + i < size ? data[at + i] : 0;
        return static_cast<ssize_t>(count);
    }
    int statPath(const char*, struct stat*) override
    {
        errno = ENOENT;
        return -1;
    }
    bool listDirectory(const char*, std::vector<std::string>&) override { return false; }
};

FuzzDisk gDisk;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnterScratchDirectory();
    CScsiHostAccess::SetForTesting(&gDisk);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    gDisk.data = data + 1;
    gDisk.size = size - 1;
    gDisk.extent = (data[0] & 1) != 0 ? 64ull << 20 : gDisk.size;

    const std::string label = getLabel(kDiskPath);
    if (label.size() > 11 || label.find('\0') != std::string::npos) {
        std::fprintf(stderr, "fuzz: label of %zu bytes read\n", label.size());
        std::abort();
    }
    if (gDisk.opens != 0) {
        std::fprintf(stderr, "fuzz: the reader left the disk open\n");
        std::abort();
    }
    return 0;
}
