#include "NVMeControllerModel.h"

#include <algorithm>
#include <cstring>

namespace {

const uint8_t OPC_FIRMWARE_COMMIT = 0x10;
const uint8_t OPC_FIRMWARE_DOWNLOAD = 0x11;
const uint8_t OPC_IDENTIFY = 0x06;
const uint8_t OPC_VENDOR_INFO = 0xE2;
const uint8_t OPC_DISK_READ = 0xC2;
const uint8_t OPC_DISK_WRITE = 0xC3;

// Data direction of an admin opcode (its two low bits).
bool carriesDataOut(uint8_t opcode) { return (opcode & 0x01) != 0; }

} // namespace

NVMeControllerModel::NVMeControllerModel()
    : m_controllerId(0), m_identifyVendorId(0), m_identifySubVendorId(0), m_openError(0), m_pieces(0)
{
}

NVMeControllerModel::~NVMeControllerModel() {}

void NVMeControllerModel::setIdentify(const std::string& serial, const std::string& model,
                                      const std::string& firmware, uint16_t controllerId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto pad = [](std::string text, size_t length) {
        text.resize(length, ' ');
        return text;
    };
    m_serial = pad(serial, 20);
    m_model = pad(model, 40);
    m_firmware = pad(firmware, 8);
    m_controllerId = controllerId;
}

void NVMeControllerModel::setIdentifyRaw(const std::string& serial20, const std::string& model40,
                                         const std::string& firmware8)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_serial = serial20;
    m_model = model40;
    m_firmware = firmware8;
}

void NVMeControllerModel::setIdentifyPciIds(uint16_t vendorId, uint16_t subVendorId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_identifyVendorId = vendorId;
    m_identifySubVendorId = subVendorId;
}

void NVMeControllerModel::failOpen(int error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openError = error;
}

int NVMeControllerModel::openError() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_openError;
}

void NVMeControllerModel::failIoctl(uint8_t opcode, int error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ioctlErrors[opcode] = error;
}

void NVMeControllerModel::setStatus(uint8_t opcode, int status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statuses[opcode] = status;
}

void NVMeControllerModel::setShortReply(uint8_t opcode, size_t bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shortReplies[opcode] = bytes;
}

void NVMeControllerModel::setDownloadPieceStatus(size_t piece, int status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pieceStatuses[piece] = status;
}

void NVMeControllerModel::clearFaults()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openError = 0;
    m_ioctlErrors.clear();
    m_statuses.clear();
    m_shortReplies.clear();
    m_pieceStatuses.clear();
}

int NVMeControllerModel::execute(nvme_passthru_cmd& cmd, uint8_t* data, int& error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    error = 0;

    const bool dataOut = carriesDataOut(cmd.opcode);
    const size_t length = data != nullptr ? cmd.data_len : 0;

    ReceivedAdminCommand record;
    record.cmd = cmd;
    if (dataOut && length > 0)
        record.dataOut.assign(data, data + length);
    m_received.push_back(record);

    auto ioctlError = m_ioctlErrors.find(cmd.opcode);
    if (ioctlError != m_ioctlErrors.end()) {
        error = ioctlError->second;
        return -1;
    }

    cmd.result = 0;
    auto status = m_statuses.find(cmd.opcode);
    if (status != m_statuses.end() && status->second != 0)
        return status->second;

    if (cmd.opcode == OPC_FIRMWARE_DOWNLOAD) {
        auto pieceStatus = m_pieceStatuses.find(m_pieces++);
        if (pieceStatus != m_pieceStatuses.end() && pieceStatus->second != 0)
            return pieceStatus->second;
    }

    std::vector<uint8_t> reply(std::max(REPLY_SPACE, length), 0);
    if (dataOut && length > 0)
        std::memcpy(reply.data(), data, length);

    int result = answer(cmd, reply.data(), length);

    if (!dataOut && length > 0) {
        size_t delivered = length;
        auto shortReply = m_shortReplies.find(cmd.opcode);
        if (shortReply != m_shortReplies.end())
            delivered = std::min(delivered, shortReply->second);
        std::memcpy(data, reply.data(), delivered);
    }
    return result;
}

int NVMeControllerModel::answer(nvme_passthru_cmd& cmd, uint8_t* reply, size_t length)
{
    switch (cmd.opcode) {
    case OPC_IDENTIFY:
        if (cmd.cdw10 != 1 || length < REPLY_SPACE)
            return NVMeStatus::INVALID_FIELD_DNR;
        fillIdentify(reply);
        return NVMeStatus::SUCCESS;
    case OPC_FIRMWARE_DOWNLOAD:
        return storeDownloadPiece(cmd, reply, length, m_image);
    case OPC_FIRMWARE_COMMIT:
        m_commits.push_back(cmd.cdw10);
        return NVMeStatus::SUCCESS;
    default:
        return NVMeStatus::INVALID_OPCODE_DNR;
    }
}

void NVMeControllerModel::fillIdentify(uint8_t* reply) const
{
    putLE16(reply, 0, m_identifyVendorId);
    putLE16(reply, 2, m_identifySubVendorId);
    putText(reply, 4, 20, m_serial);
    putText(reply, 24, 40, m_model);
    putText(reply, 64, 8, m_firmware);
    putLE16(reply, 78, m_controllerId);
}

int NVMeControllerModel::storeDownloadPiece(const nvme_passthru_cmd& cmd, const uint8_t* data, size_t length,
                                            std::vector<uint8_t>& image)
{
    // The dword count and the buffer length must agree, as the driver and
    // the controller both rely on them.
    if (length == 0 || (static_cast<size_t>(cmd.cdw10) + 1) * 4 != length)
        return NVMeStatus::INVALID_FIELD_DNR;
    size_t offset = static_cast<size_t>(cmd.cdw11) * 4;
    if (image.size() < offset + length)
        image.resize(offset + length, 0);
    std::memcpy(image.data() + offset, data, length);
    return NVMeStatus::SUCCESS;
}

void NVMeControllerModel::putText(uint8_t* reply, size_t offset, size_t length, const std::string& text)
{
    std::memcpy(reply + offset, text.data(), std::min(length, text.size()));
}

void NVMeControllerModel::putLE16(uint8_t* reply, size_t offset, uint16_t value)
{
    reply[offset] = static_cast<uint8_t>(value & 0xFF);
    reply[offset + 1] = static_cast<uint8_t>(value >> 8);
}

std::vector<ReceivedAdminCommand> NVMeControllerModel::received() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

std::vector<ReceivedAdminCommand> NVMeControllerModel::received(uint8_t opcode) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<ReceivedAdminCommand> matching;
    for (const ReceivedAdminCommand& command : m_received)
        if (command.cmd.opcode == opcode)
            matching.push_back(command);
    return matching;
}

void NVMeControllerModel::clearReceived()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.clear();
}

std::vector<uint8_t> NVMeControllerModel::downloadedImage() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_image;
}

size_t NVMeControllerModel::downloadPieces() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pieces;
}

std::vector<uint32_t> NVMeControllerModel::commits() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commits;
}

// ZAGO controller

ZagoControllerModel::ZagoControllerModel()
    : m_vendorId(0), m_deviceId(0), m_subVendorId(0), m_subDeviceId(0), m_firmware{{0, 0, 0, 0}}
{
}

void ZagoControllerModel::setAdapterIds(uint16_t vendorId, uint16_t deviceId, uint16_t subVendorId,
                                        uint16_t subDeviceId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vendorId = vendorId;
    m_deviceId = deviceId;
    m_subVendorId = subVendorId;
    m_subDeviceId = subDeviceId;
}

void ZagoControllerModel::setAdapterSerial(const std::string& serial)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_adapterSerial = serial;
}

void ZagoControllerModel::setFirmwareNumbers(uint16_t a, uint16_t b, uint16_t c, uint16_t d)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_firmware = {{a, b, c, d}};
}

void ZagoControllerModel::setDisk(unsigned index, const ZagoDisk& disk)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_disks.at(index) = disk;
}

ZagoDisk ZagoControllerModel::disk(unsigned index) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_disks.at(index);
}

ZagoDisk* ZagoControllerModel::diskBySlot(uint32_t slotId)
{
    for (ZagoDisk& disk : m_disks)
        if (disk.present && disk.slotId == slotId)
            return &disk;
    return nullptr;
}

int ZagoControllerModel::answer(nvme_passthru_cmd& cmd, uint8_t* reply, size_t length)
{
    switch (cmd.opcode) {
    case OPC_VENDOR_INFO: {
        if (cmd.cdw10 != 0x400 || length < REPLY_SPACE)
            return NVMeStatus::INVALID_FIELD_DNR;
        if (cmd.cdw12 == 0xE0 && cmd.cdw14 == 0x0D) {
            putLE16(reply, 0x18, m_vendorId);
            putLE16(reply, 0x1A, m_subVendorId);
            putLE16(reply, 0x1C, m_deviceId);
            putLE16(reply, 0x1E, m_subDeviceId);
            putText(reply, 0x40, 20, m_adapterSerial);
            for (size_t i = 0; i < m_firmware.size(); ++i)
                putLE16(reply, 0xA8 + 2 * i, m_firmware[i]);
            return NVMeStatus::SUCCESS;
        }
        if (cmd.cdw12 == 0xE1 && cmd.cdw14 < m_disks.size()) {
            const ZagoDisk& disk = m_disks[cmd.cdw14];
            reply[4] = disk.present ? disk.statusByte : (disk.statusByte != 0 ? disk.statusByte : 1);
            putLE16(reply, 104, disk.present ? disk.slotId : 0xFFFF);
            return disk.infoStatus;
        }
        return NVMeStatus::INVALID_FIELD_DNR;
    }
    case OPC_DISK_READ: {
        ZagoDisk* disk = diskBySlot(cmd.nsid);
        if (disk == nullptr || length < REPLY_SPACE)
            return NVMeStatus::INVALID_FIELD_DNR;
        if (cmd.cdw14 == 0x06 && cmd.cdw10 == 1) {
            std::string serial = disk->serial;
            std::string model = disk->model;
            std::string firmware = disk->firmware;
            serial.resize(20, ' ');
            model.resize(40, ' ');
            firmware.resize(8, ' ');
            putText(reply, 4, 20, serial);
            putText(reply, 24, 40, model);
            putText(reply, 64, 8, firmware);
            putLE16(reply, 78, disk->controllerId);
            return disk->identifyStatus;
        }
        uint32_t expected = (3u << 24) | (static_cast<uint32_t>(disk->controllerId >> 8) << 16) |
                            (disk->controllerId & 0xFFu);
        if (cmd.cdw14 == 0x1E && cmd.cdw10 == 0x804 && cmd.cdw12 == expected) {
            putLE16(reply, 8, disk->vendorId);
            putLE16(reply, 10, disk->deviceId);
            putLE16(reply, 12, disk->subVendorId);
            putLE16(reply, 14, disk->subDeviceId);
            return disk->pciIdentityStatus;
        }
        return NVMeStatus::INVALID_FIELD_DNR;
    }
    case OPC_DISK_WRITE: {
        ZagoDisk* disk = diskBySlot(cmd.nsid);
        if (disk == nullptr)
            return NVMeStatus::INVALID_FIELD_DNR;
        if (cmd.cdw14 == 0x11)
            return storeDownloadPiece(cmd, reply, length, disk->image);
        if (cmd.cdw14 == 0x10) {
            disk->commits.push_back(cmd.cdw10);
            return NVMeStatus::SUCCESS;
        }
        return NVMeStatus::INVALID_FIELD_DNR;
    }
    default:
        return NVMeControllerModel::answer(cmd, reply, length);
    }
}
