#include "RefusingScsiHost.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "TestProcessState.h"

namespace {

int refuse(const std::string& call)
{
    ADD_FAILURE() << "the SCSI host seam was reached without a fake installed (" << call
                  << "); refused so that no real disk is touched";
    errno = EPERM;
    return -1;
}

std::string named(const char* path) { return path ? path : "(null)"; }

void installRefusingScsiHost() { CScsiHostAccess::SetForTesting(&RefusingScsiHost::instance()); }

// The seam is a constant-initialised pointer: safe to set before main.
[[maybe_unused]] const bool installed = (installRefusingScsiHost(), true),
                            registered = resetBeforeEachTest(&installRefusingScsiHost);

} // namespace

RefusingScsiHost& RefusingScsiHost::instance()
{
    // Never destroyed: the seam may still point at it during static
    // destruction.
    static RefusingScsiHost* refusing = new RefusingScsiHost;
    return *refusing;
}

int RefusingScsiHost::openDevice(const char* path, int /*flags*/) { return refuse("open " + named(path)); }

int RefusingScsiHost::closeDevice(int fd) { return refuse("close " + std::to_string(fd)); }

int RefusingScsiHost::control(int fd, unsigned long request, void* /*argument*/)
{
    return refuse("ioctl " + std::to_string(request) + " on " + std::to_string(fd));
}

ssize_t RefusingScsiHost::readAt(int fd, void* /*buffer*/, size_t length, off_t offset)
{
    return refuse("read " + std::to_string(length) + " at " + std::to_string(offset) + " of " + std::to_string(fd));
}

int RefusingScsiHost::statPath(const char* path, struct stat* /*info*/) { return refuse("stat " + named(path)); }

bool RefusingScsiHost::listDirectory(const char* path, std::vector<std::string>& /*names*/)
{
    refuse("listing " + named(path));
    return false;
}
