#include "RefusingNVMeHost.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "TestProcessState.h"

namespace {

int refuse(const std::string& call)
{
    ADD_FAILURE() << "the NVMe host seam was reached without a fake installed (" << call
                  << "); refused so that no real controller is touched";
    errno = EPERM;
    return -1;
}

void installRefusingNVMeHost() { CNVMeHostAccess::SetForTesting(&RefusingNVMeHost::instance()); }

// The seam is a constant-initialised pointer: safe to set before main.
[[maybe_unused]] const bool installed = (installRefusingNVMeHost(), true),
                            registered = resetBeforeEachTest(&installRefusingNVMeHost);

} // namespace

RefusingNVMeHost& RefusingNVMeHost::instance()
{
    // Never destroyed: the seam may still point at it during static
    // destruction.
    static RefusingNVMeHost* refusing = new RefusingNVMeHost;
    return *refusing;
}

int RefusingNVMeHost::openDevice(const char* path, int /*flags*/)
{
    return refuse(std::string("open ") + (path ? path : "(null)"));
}

int RefusingNVMeHost::closeDevice(int fd) { return refuse("close " + std::to_string(fd)); }

int RefusingNVMeHost::adminCommand(int fd, nvme_passthru_cmd* cmd)
{
    return refuse("admin command " + std::to_string(cmd ? cmd->opcode : -1) + " on " + std::to_string(fd));
}

FILE* RefusingNVMeHost::openListing(const char* command)
{
    refuse(std::string("listing ") + (command ? command : "(null)"));
    return nullptr;
}

int RefusingNVMeHost::closeListing(FILE* /*stream*/) { return refuse("closing a listing"); }

FILE* RefusingNVMeHost::openAttribute(const char* path)
{
    refuse(std::string("attribute ") + (path ? path : "(null)"));
    return nullptr;
}

int RefusingNVMeHost::statAttribute(const char* path, struct stat* /*info*/)
{
    return refuse(std::string("stat ") + (path ? path : "(null)"));
}
