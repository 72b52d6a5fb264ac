#include "FakeScsiHost.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {

const std::string kSysfs = "/sys/class/scsi_generic";

int fail(int error)
{
    errno = error;
    return -1;
}

} // namespace

void FakeScsiHost::addUsbDisk(const std::string& sg, const std::string& diskPath, int host, const std::string& image)
{
    ScsiNodeModel generic;
    generic.kind = ScsiNodeModel::Generic;
    generic.host = host;
    generic.emulated = 1;
    nodes["/dev/" + sg] = generic;
    ScsiNodeModel disk = generic;
    disk.kind = ScsiNodeModel::Disk;
    disk.image = image;
    nodes[diskPath] = disk;
}

void FakeScsiHost::addLocalDisk(const std::string& sg, const std::string& diskPath, int host, const std::string& image)
{
    addUsbDisk(sg, diskPath, host, image);
    nodes["/dev/" + sg].emulated = 0;
}

void FakeScsiHost::addPartition(const std::string& diskPath, const std::string& image)
{
    ScsiNodeModel partition = nodes[diskPath];
    partition.kind = ScsiNodeModel::Disk;
    partition.image = image;
    nodes[diskPath + "1"] = partition;
}

std::vector<std::string> FakeScsiHost::sysfsNames() const
{
    std::vector<std::string> names = {".", ".."};
    for (const auto& node : nodes) {
        if (node.second.kind == ScsiNodeModel::Generic && node.first.compare(0, 5, "/dev/") == 0)
            names.push_back(node.first.substr(5));
    }
    names.insert(names.end(), staleSysfsNames.begin(), staleSysfsNames.end());
    return names;
}

std::set<int> FakeScsiHost::openDescriptors() const
{
    std::set<int> fds;
    for (const auto& entry : m_open)
        fds.insert(entry.first);
    return fds;
}

size_t FakeScsiHost::attemptsWithPrefix(const std::string& prefix) const
{
    size_t count = 0;
    for (const auto& entry : openAttempts) {
        if (entry.first.compare(0, prefix.size(), prefix) == 0)
            count += static_cast<size_t>(entry.second);
    }
    return count;
}

int FakeScsiHost::openDevice(const char* path, int flags)
{
    if (path == nullptr)
        return fail(EFAULT);
    ++openAttempts[path];
    if ((flags & O_ACCMODE) != O_RDONLY || (flags & O_NONBLOCK) == 0)
        badFlags.push_back(flags);
    if (nodes.find(path) == nodes.end())
        return fail(ENOENT);
    int fd = m_nextFd++;
    m_open[fd] = path;
    ++opens;
    return fd;
}

int FakeScsiHost::closeDevice(int fd)
{
    if (m_open.erase(fd) == 0)
        return fail(EBADF);
    ++closes;
    return 0;
}

int FakeScsiHost::control(int fd, unsigned long request, void* argument)
{
    auto open = m_open.find(fd);
    if (open == m_open.end())
        return fail(EBADF);
    auto node = nodes.find(open->second);
    if (node == nodes.end())
        return fail(ENODEV);
    return node->second.control(request, argument);
}

ssize_t FakeScsiHost::readAt(int fd, void* buffer, size_t length, off_t offset)
{
    auto open = m_open.find(fd);
    if (open == m_open.end())
        return fail(EBADF);
    auto node = nodes.find(open->second);
    if (node == nodes.end())
        return 0;
    return node->second.readAt(buffer, length, offset);
}

int FakeScsiHost::statPath(const char* path, struct stat* info)
{
    if (path == nullptr || info == nullptr)
        return fail(EFAULT);
    std::memset(info, 0, sizeof *info);
    if (kSysfs == path && sysfsPresent) {
        info->st_mode = S_IFDIR | 0755;
        return 0;
    }
    if (nodes.count(path) != 0) {
        info->st_mode = S_IFBLK | 0660;
        return 0;
    }
    return fail(ENOENT);
}

bool FakeScsiHost::listDirectory(const char* path, std::vector<std::string>& names)
{
    if (path == nullptr || kSysfs != path || !sysfsPresent || sysfsListingFails)
        return false;
    std::vector<std::string> listed = sysfsNames();
    names.insert(names.end(), listed.begin(), listed.end());
    return true;
}
