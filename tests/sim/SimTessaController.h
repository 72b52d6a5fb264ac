#ifndef ZAGO_SIM_SIMTESSACONTROLLER_H
#define ZAGO_SIM_SIMTESSACONTROLLER_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "SimManagementController.h"

// Test model of the management controller's OEM protocol (NetFn 0x30): the
// identity commands and the managed-storage family 0xA2 with its sessions
// and partitions. It installs its handlers on a SimManagementController, so
// the same model answers in-process behind the IPMI library's device seam
// (SimIPMIDevice) and behind umockdev's /dev/ipmi0 (SimIPMIUmockdev).
//
// Frames are checked as a controller would: a request shorter than its
// sub-command needs gets 0xC7, a managed-storage request other than a
// begin that does not carry the open session's handle gets 0x05 (abort),
// an undefined sub-command 0x01 (not implemented). Every 0xA2 answer starts
// with the session handle (data bytes 0-1, little-endian); bit words travel
// big-endian.
//
// Faults are scripted per request: completion-code sequences per
// sub-command (ScriptCodes), status sequences for GetTESSAStatus polling
// (ScriptStatuses), refused begins, a create that changes nothing. Faults
// of the transport (no answer, refused send, stale, over-long or short
// answers) are the base model's: controller.ScriptSub(0x30, 0xA2, sub,
// step) or controller.Script(0x30, cmd, step); SimIpmiStep::Short(n) cuts
// the model's own answer to n bytes, completion code included. The base model logs every frame
// (controller.Frames(), controller.Requests() with the answers).
//
// Thread-safe: the handlers may run on umockdev's thread while a test reads
// the state.
class SimTessaController {
public:
    static constexpr uint8_t kNetFn = 0x30;
    static constexpr uint8_t kTessa = 0xA2;

    // Sub-commands of 0xA2 the model carries out.
    enum Sub : uint8_t {
        BeginSession = 0x00,
        EndSession = 0x01,
        PartitionIndexInfo = 0x03,
        PartitionInfo = 0x04,
        AttachPartitions = 0x05,
        DetachPartitions = 0x06,
        CreateDynamicPartition = 0x07,
        DeleteDynamicPartition = 0x08,
        GetStatus = 0x0A,
        SecureTessaUpdate = 0x09,
        SetStateFlag = 0x11,
        BeginSessionExtended = 0x12,
        BeginSecureUpdate = 0x20,
        ProcessSecureUpdate = 0x22,
        EndSecureUpdate = 0x23,
    };

    // Completion codes the model gives of its own accord.
    static constexpr uint8_t kAbort = 0x05;            // no session / wrong handle
    static constexpr uint8_t kNotImplemented = 0x01;   // undefined sub-command
    static constexpr uint8_t kInvalidIndex = 0x0C;     // partition bit that does not exist
    static constexpr uint8_t kDeviceFull = 0x13;       // no free dynamic bit
    static constexpr uint8_t kBadLength = 0xC7;        // request too short
    static constexpr uint8_t kInvalidField = 0xCC;     // unknown parameter / power supply

    struct DynamicPartition {
        std::string name;
        uint16_t units = 0;       // size in units of 32 KiB, as asked for
        uint8_t attribute = 0;
    };

    // The older secure-update sequence as the controller saw it.
    struct SecureUpdate {
        unsigned begins = 0;          // accepted begins
        uint16_t units = 0;           // size of the last begin, units of 32 KiB
        uint16_t beginValue = 0;      // data bytes 3-4 of the last begin
        std::vector<uint8_t> digest;  // the 16 bytes of the last process request
        unsigned ends = 0;            // accepted ends
    };

    struct PowerSupply {
        uint8_t presence[2] = {0, 0};   // answer data bytes 1-2
        uint32_t version = 0;           // data bytes 6-9, little-endian
        std::string text;               // data bytes 10-17 (8 bytes, zero-padded, no terminator when 8 long)
        uint8_t flags = 0;              // data byte 21
    };

    // A handler for a further sub-command (or to replace one but a begin):
    // called for requests that carry the open session's handle, it gets the
    // request data (sub-command first) and returns the completion code and
    // the answer data after the session handle.
    using SubHandler = std::function<SimIpmiReply(const std::vector<uint8_t>& data)>;

    // Starts as a healthy WaveC controller: generation byte 0x20, standard
    // managed storage (type byte 0), access state 0 (enabled), session
    // handle 0x1234, static partitions bit 0 "TES001", bit 1 "TES003",
    // bit 2 "TES022", no dynamic partition, nothing attached.
    explicit SimTessaController(SimManagementController& controller);
    SimTessaController(const SimTessaController&) = delete;
    SimTessaController& operator=(const SimTessaController&) = delete;

    SimManagementController& Controller() { return mController; }

    // --- identity --------------------------------------------------------
    // 0xBD: answer data byte 5 (0x60 and up: WaveG...).
    void SetGenerationByte(uint8_t value);
    // 0xAD: answer data byte 0 (0 standard, 1 Lite, 2 Liter, other: none).
    void SetTypeByte(uint8_t value);
    // 0xAE: answer data byte 0 (0 enabled, 2 recovery, other disabled).
    void SetAccessState(uint8_t value);
    // 0xBF: the answer data (20 zero bytes by default; bytes 0-1 are the
    // capability levels a dependency check reads).
    void SetCapability(const std::vector<uint8_t>& data);
    // 0xA9: VC states (answer data byte 1), one per request; the last one
    // stays. Default: 0 (ready).
    void SetVCStates(const std::vector<uint8_t>& states);
    // 0xB0 sub-function 0x0A: one power supply; unknown numbers get 0xCC.
    void SetPowerSupply(uint8_t number, const PowerSupply& psu);
    // NetFn 0x06 / 0x59 parameter 0xEA: the count (answer data byte 8).
    void SetPowerSupplyCount(uint8_t count);

    // --- sessions --------------------------------------------------------
    // The handle every begin issues and every 0xA2 answer carries; changing
    // it while a session is open makes the controller's answers carry the
    // new one (0 allowed: answers then carry 0).
    void SetSessionHandle(uint16_t handle);
    // The next `count` begin requests (0x00 or 0x12, counted together) are
    // refused with `code`.
    void RefuseBegins(unsigned count, uint8_t code = 0x01);
    bool SessionOpen() const;
    uint16_t SessionHandle() const;
    unsigned SessionsBegun() const;
    unsigned SessionsEnded() const;
    unsigned ColdResets() const;   // NetFn 0x06 / 0x02: ends the session, detaches all

    // --- partitions ------------------------------------------------------
    void AddStaticPartition(unsigned bit, const std::string& name);
    // A dynamic partition that exists from the start (a stale "SECUPD").
    void AddDynamicPartition(unsigned bit, const std::string& name);
    void ClearPartitions();
    // The create command succeeds but no partition appears.
    void SetCreateLeavesBitmapUnchanged(bool unchanged);
    uint16_t StaticBits() const;    // plain words
    uint16_t DynamicBits() const;
    uint16_t AttachedStaticBits() const;
    uint16_t AttachedDynamicBits() const;
    std::map<unsigned, DynamicPartition> DynamicPartitions() const;
    // Plain bit words of the successful deletes, in order.
    std::vector<uint16_t> DeletedWords() const;

    // --- scripted answers ------------------------------------------------
    // Completion codes for the next requests of a sub-command, one each
    // (0 = answer normally). A pending code (2 or 0xFF) carries the request
    // out and answers with that code; the same frame sent again straight
    // after (a resend) is not carried out a second time, while after any
    // other 0xA2 frame (a status poll) it is a new request. Any other code
    // carries nothing out and answers the code, the session handle and zeros.
    void ScriptCodes(uint8_t sub, const std::vector<uint8_t>& codes);
    // Statuses for GetTESSAStatus polls of `polledSub`, one per poll; 0
    // (done) once they run out.
    void ScriptStatuses(uint8_t polledSub, const std::vector<uint8_t>& statuses);
    void SetSubHandler(uint8_t sub, SubHandler handler);

    std::vector<uint8_t> StateFlags() const;   // flags set with 0x11, in order

    // --- digest hand-over of a request document (0x09) --------------------
    // A header (data byte 3 = 0) starts a digest, each part (data byte 3 =
    // 1) carries up to ten of its characters; with the fourth part the
    // digest is complete and the observer runs with it, after the answer is
    // made and before it is delivered, without the model's lock (it may
    // read the model). A sub-handler set for 0x09 replaces all of this.
    using HandOverObserver = std::function<void(const std::string& digest)>;
    void SetHandOverObserver(HandOverObserver observer);
    std::vector<std::string> HandedOverDigests() const;

    // --- secure update ---------------------------------------------------
    // An accepted begin (0x20) offers the drop box "SECUPD" on dynamic bit
    // `bit` (0 by default) already attached, without a create or an attach
    // from the host; the end (0x23) takes it back (detached and gone).
    void SetSecureUpdateDropBoxBit(unsigned bit);
    SecureUpdate SecureUpdateState() const;

    // --- host side -------------------------------------------------------
    // Called with the plain attached bit words (static, dynamic) whenever a
    // request changed them (attach, detach, end of session, delete, cold
    // reset), after the answer is made and before it is delivered; on the
    // thread that carries the request (umockdev's for an emulated device).
    // The observer may read this model, but not the SimManagementController
    // (it holds its own lock while a request is carried).
    using AttachObserver = std::function<void(uint16_t attachedStatic, uint16_t attachedDynamic)>;
    void SetAttachObserver(AttachObserver observer);

    // --- frame log helpers -----------------------------------------------
    std::vector<std::vector<uint8_t>> Frames() const { return mController.Frames(); }
    size_t CountFrames(uint8_t netfn, uint8_t cmd) const;
    size_t CountSub(uint8_t sub) const;   // 0x30 / 0xA2 frames of a sub-command

private:
    SimIpmiReply Tessa(const std::vector<uint8_t>& data);
    // Runs a handler and tells the attach observer when the attached bits changed.
    SimIpmiReply Observed(const std::function<SimIpmiReply()>& handle);
    SimIpmiReply Carry(uint8_t sub, const std::vector<uint8_t>& data);
    std::vector<uint8_t> Handled(std::vector<uint8_t> rest) const;   // handle + rest
    SimIpmiReply Answer(uint8_t code, std::vector<uint8_t> rest) const;

    SimManagementController& mController;
    mutable std::mutex mMutex;

    uint8_t mGeneration = 0x20;
    uint8_t mType = 0x00;
    uint8_t mAccess = 0x00;
    std::vector<uint8_t> mCapability = std::vector<uint8_t>(20, 0);
    std::deque<uint8_t> mVCStates{0};
    std::map<uint8_t, PowerSupply> mPowerSupplies;
    uint8_t mPowerSupplyCount = 0;

    uint16_t mHandle = 0x1234;
    bool mOpen = false;
    unsigned mRefusals = 0;
    uint8_t mRefusalCode = 0x01;
    unsigned mBegun = 0;
    unsigned mEnded = 0;
    unsigned mResets = 0;

    std::map<unsigned, std::string> mStatic;
    std::map<unsigned, DynamicPartition> mDynamic;
    bool mCreateUnchanged = false;
    uint16_t mAttachedStatic = 0;
    uint16_t mAttachedDynamic = 0;
    std::vector<uint16_t> mDeleted;

    std::map<uint8_t, std::deque<uint8_t>> mCodes;
    std::map<uint8_t, std::deque<uint8_t>> mStatuses;
    std::map<uint8_t, SubHandler> mSubHandlers;
    std::vector<uint8_t> mLastPendingFrame;
    SimIpmiReply mLastPendingReply;
    std::vector<uint8_t> mStateFlags;
    SecureUpdate mSecureUpdate;
    std::string mDigest;              // the hand-over in progress
    unsigned mDigestParts = 0;
    std::string mCompletedDigest;     // for the observer, once complete
    std::vector<std::string> mHandedOver;
    HandOverObserver mHandOverObserver;
    unsigned mSecureUpdateBit = 0;
    AttachObserver mAttachObserver;
};

#endif
