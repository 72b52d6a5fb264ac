#ifndef TESTS_SIM_SCSI_SCSINODEMODEL_H
#define TESTS_SIM_SCSI_SCSINODEMODEL_H

#include <scsi/sg.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

// One SCSI device node of a simulated host, answering the requests the
// partition search makes the way a Linux 6.1 kernel does:
// - a generic node (/dev/sgN): SG_EMULATED_HOST gives the adapter's flag
//   (usb-storage 1, virtio-scsi 0), SG_GET_SCSI_ID its address,
//   SCSI_IOCTL_GET_IDLUN and SCSI_IOCTL_GET_BUS_NUMBER work too;
// - a disk node (/dev/sdX, /dev/sdX1): SG_EMULATED_HOST always 1,
//   SG_GET_SCSI_ID fails with ENOTTY, the IDLUN and bus requests work, and
//   raw reads come from a backing image file (end of file past its end).
// Any other request fails with ENOTTY. Settable faults make a request fail.
struct ScsiNodeModel {
    enum Kind { Generic, Disk };
    Kind kind = Disk;

    // SCSI address: host (bus) number, channel, target id, LUN.
    int host = 0;
    int channel = 0;
    int id = 0;
    int lun = 0;
    int scsiType = 0;   // TYPE_DISK
    int emulated = 1;   // SG_EMULATED_HOST answer of a generic node
    uint32_t hostUniqueId = 0;

    // Raw contents; empty: the node reads as an empty device.
    std::string image;

    // Faults: the request fails with this errno instead of answering.
    int failEmulatedHost = 0;
    int failScsiId = 0;
    int failIdLun = 0;
    int failBusNumber = 0;
    int failReads = 0;

    // ioctl(2) as the kernel answers it: 0 or -1 with errno set.
    int control(unsigned long request, void* argument) const;
    // pread(2) of the node.
    ssize_t readAt(void* buffer, size_t length, off_t offset) const;
};

#endif
