#include "ScsiNodeModel.h"

#include <fcntl.h>
#include <scsi/scsi.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

int fail(int error)
{
    errno = error;
    return -1;
}

} // namespace

int ScsiNodeModel::control(unsigned long request, void* argument) const
{
    if (argument == nullptr)
        return fail(EFAULT);
    switch (request) {
    case SG_EMULATED_HOST:
        if (failEmulatedHost)
            return fail(failEmulatedHost);
        *static_cast<int*>(argument) = kind == Generic ? emulated : 1;
        return 0;
    case SG_GET_SCSI_ID: {
        if (kind != Generic)
            return fail(ENOTTY);
        if (failScsiId)
            return fail(failScsiId);
        sg_scsi_id answer;
        std::memset(&answer, 0, sizeof answer);
        answer.host_no = host;
        answer.channel = channel;
        answer.scsi_id = id;
        answer.lun = lun;
        answer.scsi_type = scsiType;
        answer.h_cmd_per_lun = 1;
        answer.d_queue_depth = 1;
        std::memcpy(argument, &answer, sizeof answer);
        return 0;
    }
    case SCSI_IOCTL_GET_IDLUN: {
        if (failIdLun)
            return fail(failIdLun);
        uint32_t words[2];
        words[0] = (static_cast<uint32_t>(host & 0xFF) << 24) | (static_cast<uint32_t>(channel & 0xFF) << 16) |
                   (static_cast<uint32_t>(lun & 0xFF) << 8) | static_cast<uint32_t>(id & 0xFF);
        words[1] = hostUniqueId;
        std::memcpy(argument, words, sizeof words);
        return 0;
    }
    case SCSI_IOCTL_GET_BUS_NUMBER:
        if (failBusNumber)
            return fail(failBusNumber);
        *static_cast<int*>(argument) = host;
        return 0;
    default:
        return fail(ENOTTY);
    }
}

ssize_t ScsiNodeModel::readAt(void* buffer, size_t length, off_t offset) const
{
    if (failReads)
        return fail(failReads);
    if (offset < 0)
        return fail(EINVAL);
    if (image.empty())
        return 0;
    int fd = ::open(image.c_str(), O_RDONLY);
    if (fd < 0)
        return 0;
    ssize_t n = ::pread(fd, buffer, length, offset);
    int error = errno;
    ::close(fd);
    errno = error;
    return n;
}
