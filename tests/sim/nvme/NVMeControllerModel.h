#ifndef TESTS_SIM_NVMECONTROLLERMODEL_H
#define TESTS_SIM_NVMECONTROLLERMODEL_H

#include <sys/ioctl.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <linux/nvme_ioctl.h>

// One admin command as a controller model received it.
struct ReceivedAdminCommand {
    nvme_passthru_cmd cmd;         // the record as the host sent it (addr: the host's pointer)
    std::vector<uint8_t> dataOut;  // bytes sent to the controller (commands with data-out direction)
};

// NVMe status values a model answers with (status field as the Linux driver
// returns it: status code type in bits 8-10, do-not-retry in bit 14).
namespace NVMeStatus {
const int SUCCESS = 0;
const int INVALID_OPCODE_DNR = 0x4001;
const int INVALID_FIELD_DNR = 0x4002;
const int INVALID_FIRMWARE_SLOT = 0x106;
const int INVALID_FIRMWARE_IMAGE = 0x107;
const int REQUIRES_CONVENTIONAL_RESET = 0x10B;
const int REQUIRES_SUBSYSTEM_RESET = 0x110;
const int REQUIRES_CONTROLLER_RESET = 0x111;
const int ACTIVATION_PROHIBITED = 0x113;
const int OVERLAPPING_RANGE = 0x114;
} // namespace NVMeStatus

// A plain NVMe SSD: answers Identify Controller, accepts Firmware Image
// Download and Firmware Commit, and rejects every other admin opcode (so
// also the ZAGO vendor commands) with Invalid Command Opcode.
//
// Thread-safe: the emulated host answers from umockdev's worker thread while
// the test reads the model.
class NVMeControllerModel {
public:
    NVMeControllerModel();
    virtual ~NVMeControllerModel();
    NVMeControllerModel(const NVMeControllerModel&) = delete;
    NVMeControllerModel& operator=(const NVMeControllerModel&) = delete;

    // Identify Controller data. Texts are space-padded to their field
    // length (longer texts are cut to it).
    void setIdentify(const std::string& serial, const std::string& model, const std::string& firmware,
                     uint16_t controllerId);
    // Raw Identify text fields (no padding), e.g. to put NUL bytes into them.
    void setIdentifyRaw(const std::string& serial20, const std::string& model40, const std::string& firmware8);
    void setIdentifyPciIds(uint16_t vendorId, uint16_t subVendorId);

    // Faults.
    void failOpen(int error);                       // the node does not open
    int openError() const;
    void failIoctl(uint8_t opcode, int error);      // ioctl returns -1 with errno
    void setStatus(uint8_t opcode, int status);     // controller completes with this NVMe status
    void setShortReply(uint8_t opcode, size_t bytes);  // only the first bytes of the reply arrive
    // The n-th Firmware Image Download (0-based, counted over the model's
    // life) completes with this status.
    void setDownloadPieceStatus(size_t piece, int status);
    void clearFaults();

    // Answers one admin command. `data` holds cmd.data_len bytes, the host's
    // buffer (reply space for data-in commands, the sent bytes for data-out
    // ones); null when the command carries none. Returns the ioctl result;
    // `error` is the errno for a result of -1. `cmd.result` receives the
    // completion dword.
    int execute(nvme_passthru_cmd& cmd, uint8_t* data, int& error);

    std::vector<ReceivedAdminCommand> received() const;
    std::vector<ReceivedAdminCommand> received(uint8_t opcode) const;
    void clearReceived();

    // What Firmware Image Download placed into the model, by byte offset.
    std::vector<uint8_t> downloadedImage() const;
    size_t downloadPieces() const;
    // cdw10 of every Firmware Commit received, in order.
    std::vector<uint32_t> commits() const;

protected:
    // Answers a command that no fault intercepted: writes the reply into
    // `reply` (REPLY_SPACE bytes, zeroed; for data-out commands it holds the
    // sent bytes) and returns the NVMe status. Called with the lock held.
    virtual int answer(nvme_passthru_cmd& cmd, uint8_t* reply, size_t length);

    void fillIdentify(uint8_t* reply) const;
    int storeDownloadPiece(const nvme_passthru_cmd& cmd, const uint8_t* data, size_t length,
                           std::vector<uint8_t>& image);

    static void putText(uint8_t* reply, size_t offset, size_t length, const std::string& text);
    static void putLE16(uint8_t* reply, size_t offset, uint16_t value);

    static constexpr size_t REPLY_SPACE = 4096;

    mutable std::mutex m_mutex;

private:
    std::string m_serial;
    std::string m_model;
    std::string m_firmware;
    uint16_t m_controllerId;
    uint16_t m_identifyVendorId;
    uint16_t m_identifySubVendorId;

    int m_openError;
    std::map<uint8_t, int> m_ioctlErrors;
    std::map<uint8_t, int> m_statuses;
    std::map<uint8_t, size_t> m_shortReplies;
    std::map<size_t, int> m_pieceStatuses;

    std::vector<ReceivedAdminCommand> m_received;
    std::vector<uint8_t> m_image;
    size_t m_pieces;
    std::vector<uint32_t> m_commits;
};

// A disk behind a ZAGO controller, reached through the controller's
// vendor pass-through commands.
struct ZagoDisk {
    bool present = false;
    uint8_t statusByte = 0;  // physical-disk information reply byte 4
    uint16_t slotId = 0;
    std::string serial;
    std::string model;
    std::string firmware;
    uint16_t controllerId = 0;
    uint16_t vendorId = 0;
    uint16_t deviceId = 0;
    uint16_t subVendorId = 0;
    uint16_t subDeviceId = 0;
    std::vector<uint8_t> image;          // what the disk download placed, by byte offset
    std::vector<uint32_t> commits;       // cdw10 of each commit passed through
    // A controller that writes its reply and still completes the command
    // with this NVMe status (0: success): physical-disk information,
    // pass-through Identify, pass-through PCI identity read.
    int infoStatus = 0;
    int identifyStatus = 0;
    int pciIdentityStatus = 0;
};

// A ZAGO boot-storage controller: in addition to the plain controller it
// answers the adapter-information command (0xE2, selector 0xE0), the
// physical-disk information command (0xE2, selector 0xE1) and the disk
// pass-through read (0xC2) and write (0xC3) commands.
class ZagoControllerModel : public NVMeControllerModel {
public:
    ZagoControllerModel();

    // Adapter-information reply: PCI identity, serial, firmware numbers.
    void setAdapterIds(uint16_t vendorId, uint16_t deviceId, uint16_t subVendorId, uint16_t subDeviceId);
    void setAdapterSerial(const std::string& serial);
    void setFirmwareNumbers(uint16_t a, uint16_t b, uint16_t c, uint16_t d);

    void setDisk(unsigned index, const ZagoDisk& disk);
    ZagoDisk disk(unsigned index) const;

protected:
    int answer(nvme_passthru_cmd& cmd, uint8_t* reply, size_t length) override;

private:
    ZagoDisk* diskBySlot(uint32_t slotId);

    uint16_t m_vendorId;
    uint16_t m_deviceId;
    uint16_t m_subVendorId;
    uint16_t m_subDeviceId;
    std::string m_adapterSerial;
    std::array<uint16_t, 4> m_firmware;
    std::array<ZagoDisk, 2> m_disks;
};

#endif
