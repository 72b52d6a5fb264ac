#include "ScsiHostAccess.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

IScsiHostAccess* CScsiHostAccess::m_pAccess = nullptr;

static CLinuxScsiHostAccess& linuxAccess()
{
    // Never destroyed: a search may still run from static destructors of
    // other units' objects.
    static CLinuxScsiHostAccess* instance = new CLinuxScsiHostAccess();
    return *instance;
}

IScsiHostAccess* CScsiHostAccess::Get()
{
    if (m_pAccess == nullptr)
        m_pAccess = &linuxAccess();
    return m_pAccess;
}

IScsiHostAccess* CScsiHostAccess::SetForTesting(IScsiHostAccess* access)
{
    IScsiHostAccess* previous = Get();
    m_pAccess = access != nullptr ? access : &linuxAccess();
    return previous;
}

int CLinuxScsiHostAccess::openDevice(const char* path, int flags) { return ::open(path, flags); }

int CLinuxScsiHostAccess::closeDevice(int fd) { return ::close(fd); }

int CLinuxScsiHostAccess::control(int fd, unsigned long request, void* argument)
{
    return ::ioctl(fd, request, argument);
}

ssize_t CLinuxScsiHostAccess::readAt(int fd, void* buffer, size_t length, off_t offset)
{
    return ::pread(fd, buffer, length, offset);
}

int CLinuxScsiHostAccess::statPath(const char* path, struct stat* info) { return ::stat(path, info); }

bool CLinuxScsiHostAccess::listDirectory(const char* path, std::vector<std::string>& names)
{
    struct dirent** entries = nullptr;
    int count = ::scandir(path, &entries, nullptr, nullptr);
    if (count < 0)
        return false;
    // scandir hands over one allocation per entry plus the array: all of
    // them are released when this scope ends, also when copying a name throws.
    struct Listing {
        struct dirent** entries;
        int count;
        ~Listing()
        {
            for (int i = 0; i < count; ++i)
                std::free(entries[i]);
            std::free(entries);
        }
    } listing{entries, count};
    for (int i = 0; i < listing.count; ++i)
        names.push_back(listing.entries[i]->d_name);
    return true;
}

CScsiDeviceHandle CScsiDeviceHandle::openReadOnly(const std::string& path)
{
    return CScsiDeviceHandle(CScsiHostAccess::Get()->openDevice(path.c_str(), O_RDONLY | O_NONBLOCK));
}

void CScsiDeviceHandle::reset(int fd)
{
    if (m_fd >= 0)
        CScsiHostAccess::Get()->closeDevice(m_fd);
    m_fd = fd;
}
