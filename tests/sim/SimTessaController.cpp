#include "SimTessaController.h"

#include <algorithm>

namespace {

// Data bytes (sub-command included) each sub-command's request carries.
size_t NeededLength(uint8_t sub)
{
    switch (sub) {
    case SimTessaController::BeginSession:
    case SimTessaController::BeginSessionExtended:
    case SimTessaController::GetStatus:
        return 6;
    case SimTessaController::EndSession:
    case SimTessaController::PartitionIndexInfo:
    case SimTessaController::SetStateFlag:
        return 5;
    case SimTessaController::PartitionInfo:
        return 7;
    case SimTessaController::AttachPartitions:
    case SimTessaController::DetachPartitions:
        return 11;
    case SimTessaController::CreateDynamicPartition:
        return 12;
    case SimTessaController::DeleteDynamicPartition:
        return 9;
    case SimTessaController::SecureTessaUpdate:
        return 4;
    case SimTessaController::BeginSecureUpdate:
        return 10;
    case SimTessaController::ProcessSecureUpdate:
        return 27;
    case SimTessaController::EndSecureUpdate:
        return 7;
    default:
        return 1;
    }
}

bool Pending(uint8_t code) { return code == 0x02 || code == 0xFF; }

uint16_t BigEndian(const std::vector<uint8_t>& data, size_t at)
{
    return static_cast<uint16_t>((data[at] << 8) | data[at + 1]);
}

uint16_t Word(const std::map<unsigned, std::string>& partitions)
{
    uint16_t word = 0;
    for (const auto& p : partitions)
        word = static_cast<uint16_t>(word | (1u << p.first));
    return word;
}

uint16_t Word(const std::map<unsigned, SimTessaController::DynamicPartition>& partitions)
{
    uint16_t word = 0;
    for (const auto& p : partitions)
        word = static_cast<uint16_t>(word | (1u << p.first));
    return word;
}

SimIpmiReply Reply(uint8_t code, std::vector<uint8_t> data = {})
{
    SimIpmiReply reply;
    reply.completionCode = code;
    reply.data = std::move(data);
    return reply;
}

} // namespace

SimTessaController::SimTessaController(SimManagementController& controller) : mController(controller)
{
    mStatic = {{0, "TES001"}, {1, "TES003"}, {2, "TES022"}};

    controller.SetHandler(kNetFn, kTessa,
                          [this](const SimIpmiRequest& r) { return Observed([&] { return Tessa(r.data); }); });
    controller.SetHandler(kNetFn, 0xBD, [this](const SimIpmiRequest&) {
        std::lock_guard<std::mutex> lock(mMutex);
        return Reply(0x00, {0x00, 0x00, 0x00, 0x00, 0x00, mGeneration});
    });
    controller.SetHandler(kNetFn, 0xAD, [this](const SimIpmiRequest&) {
        std::lock_guard<std::mutex> lock(mMutex);
        return Reply(0x00, {mType, 0x00, 0x00});
    });
    controller.SetHandler(kNetFn, 0xAE, [this](const SimIpmiRequest&) {
        std::lock_guard<std::mutex> lock(mMutex);
        return Reply(0x00, {mAccess, 0x00, 0x00});
    });
    controller.SetHandler(kNetFn, 0xBF, [this](const SimIpmiRequest& r) {
        std::lock_guard<std::mutex> lock(mMutex);
        if (r.data.empty())
            return Reply(kBadLength);
        return Reply(0x00, mCapability);
    });
    controller.SetHandler(kNetFn, 0xA9, [this](const SimIpmiRequest& r) {
        std::lock_guard<std::mutex> lock(mMutex);
        if (r.data.empty())
            return Reply(kBadLength);
        uint8_t state = mVCStates.front();
        if (mVCStates.size() > 1)
            mVCStates.pop_front();
        return Reply(0x00, {0x00, state});
    });
    controller.SetHandler(kNetFn, 0xB0, [this](const SimIpmiRequest& r) {
        std::lock_guard<std::mutex> lock(mMutex);
        if (r.data.size() < 2)
            return Reply(kBadLength);
        auto psu = mPowerSupplies.find(r.data[1]);
        if (r.data[0] != 0x0A || psu == mPowerSupplies.end())
            return Reply(kInvalidField);
        std::vector<uint8_t> data(27, 0x00);
        data[1] = psu->second.presence[0];
        data[2] = psu->second.presence[1];
        for (int i = 0; i < 4; ++i)
            data[6 + i] = static_cast<uint8_t>(psu->second.version >> (8 * i));
        for (size_t i = 0; i < 8 && i < psu->second.text.size(); ++i)
            data[10 + i] = static_cast<uint8_t>(psu->second.text[i]);
        data[21] = psu->second.flags;
        return Reply(0x00, data);
    });
    // Get System Info Parameters: only the power-supply count.
    controller.SetHandler(0x06, 0x59, [this](const SimIpmiRequest& r) {
        std::lock_guard<std::mutex> lock(mMutex);
        if (r.data.size() < 4)
            return Reply(kBadLength);
        if (r.data[1] != 0xEA)
            return Reply(0x80);   // parameter not supported
        std::vector<uint8_t> data(9, 0x00);
        data[0] = 0x11;   // parameter revision
        data[8] = mPowerSupplyCount;
        return Reply(0x00, data);
    });
    // Cold reset: the controller restarts and forgets its session and what
    // it exposed.
    controller.SetHandler(0x06, 0x02, [this](const SimIpmiRequest&) {
        return Observed([this] {
            std::lock_guard<std::mutex> lock(mMutex);
            ++mResets;
            mOpen = false;
            mAttachedStatic = 0;
            mAttachedDynamic = 0;
            return Reply(0x00);
        });
    });
}

std::vector<uint8_t> SimTessaController::Handled(std::vector<uint8_t> rest) const
{
    rest.insert(rest.begin(), {static_cast<uint8_t>(mHandle & 0xFF), static_cast<uint8_t>(mHandle >> 8)});
    return rest;
}

SimIpmiReply SimTessaController::Answer(uint8_t code, std::vector<uint8_t> rest) const
{
    return Reply(code, Handled(std::move(rest)));
}

SimIpmiReply SimTessaController::Observed(const std::function<SimIpmiReply()>& handle)
{
    uint16_t staticBefore, dynamicBefore;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        staticBefore = mAttachedStatic;
        dynamicBefore = mAttachedDynamic;
    }
    SimIpmiReply reply = handle();
    AttachObserver observer;
    HandOverObserver handOverObserver;
    std::string digest;
    uint16_t staticAfter, dynamicAfter;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        staticAfter = mAttachedStatic;
        dynamicAfter = mAttachedDynamic;
        observer = mAttachObserver;
        handOverObserver = mHandOverObserver;
        digest.swap(mCompletedDigest);
    }
    // Called without the lock: the observers may read the model's state.
    if (observer && (staticAfter != staticBefore || dynamicAfter != dynamicBefore))
        observer(staticAfter, dynamicAfter);
    if (handOverObserver && !digest.empty())
        handOverObserver(digest);
    return reply;
}

void SimTessaController::SetAttachObserver(AttachObserver observer)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mAttachObserver = std::move(observer);
}

SimIpmiReply SimTessaController::Tessa(const std::vector<uint8_t>& data)
{
    std::lock_guard<std::mutex> lock(mMutex);
    if (data.empty())
        return Reply(kBadLength);
    const uint8_t sub = data[0];

    uint8_t code = 0x00;
    auto codes = mCodes.find(sub);
    if (codes != mCodes.end() && !codes->second.empty()) {
        code = codes->second.front();
        codes->second.pop_front();
    }

    // The same frame again right after a pending answer is the same request
    // sent once more (by the library's own resends): it is not carried out twice.
    const bool again = !mLastPendingFrame.empty() && data == mLastPendingFrame;
    mLastPendingFrame.clear();
    if (code != 0x00 && !Pending(code))
        return Answer(code, std::vector<uint8_t>(4, 0x00));

    SimIpmiReply reply = again ? mLastPendingReply : Carry(sub, data);
    if (Pending(code) && reply.completionCode == 0x00) {
        mLastPendingFrame = data;
        mLastPendingReply = reply;
        reply.completionCode = code;
    }
    return reply;
}

SimIpmiReply SimTessaController::Carry(uint8_t sub, const std::vector<uint8_t>& data)
{
    auto custom = mSubHandlers.find(sub);
    const bool known = sub == BeginSession || sub == BeginSessionExtended || sub == EndSession ||
                       sub == PartitionIndexInfo || sub == PartitionInfo || sub == AttachPartitions ||
                       sub == DetachPartitions || sub == CreateDynamicPartition ||
                       sub == DeleteDynamicPartition || sub == GetStatus || sub == SetStateFlag ||
                       sub == SecureTessaUpdate ||
                       sub == BeginSecureUpdate || sub == ProcessSecureUpdate || sub == EndSecureUpdate;
    if (!known && custom == mSubHandlers.end())
        return Answer(kNotImplemented, {});
    if (data.size() < std::max<size_t>(NeededLength(sub), 3))
        return Reply(kBadLength);

    if (custom == mSubHandlers.end() && (sub == BeginSession || sub == BeginSessionExtended)) {
        if (mRefusals > 0) {
            --mRefusals;
            return Answer(mRefusalCode, std::vector<uint8_t>(4, 0x00));
        }
        mOpen = true;
        ++mBegun;
        return Answer(0x00, std::vector<uint8_t>(4, 0x00));
    }

    const uint16_t handle = static_cast<uint16_t>(data[1] | (data[2] << 8));
    if (!mOpen || handle != mHandle)
        return Answer(kAbort, std::vector<uint8_t>(4, 0x00));

    if (custom != mSubHandlers.end()) {
        SimIpmiReply reply = custom->second(data);
        reply.data = Handled(reply.data);
        return reply;
    }

    switch (sub) {
    case EndSession:
        mOpen = false;
        ++mEnded;
        mAttachedStatic = 0;
        mAttachedDynamic = 0;
        return Answer(0x00, {});

    case PartitionIndexInfo: {
        const uint16_t s = Word(mStatic);
        const uint16_t d = Word(mDynamic);
        return Answer(0x00, {static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s & 0xFF), 0x00, 0x00,
                             static_cast<uint8_t>(d >> 8), static_cast<uint8_t>(d & 0xFF), 0x00, 0x00});
    }

    case PartitionInfo: {
        const uint8_t kind = data[3];
        const unsigned bit = data[4];
        std::string name;
        if (kind == 0x00 && mStatic.count(bit))
            name = mStatic[bit];
        else if (kind == 0x80 && mDynamic.count(bit))
            name = mDynamic[bit].name;
        else
            return Answer(kInvalidIndex, std::vector<uint8_t>(9, 0x00));
        std::vector<uint8_t> rest{kind, static_cast<uint8_t>(bit)};
        for (size_t i = 0; i < 6; ++i)
            rest.push_back(i < name.size() ? static_cast<uint8_t>(name[i]) : 0x00);
        rest.push_back(0x00);
        return Answer(0x00, rest);
    }

    case AttachPartitions: {
        const uint16_t s = BigEndian(data, 3);
        const uint16_t d = BigEndian(data, 7);
        if ((s & ~Word(mStatic)) != 0 || (d & ~Word(mDynamic)) != 0)
            return Answer(kInvalidIndex, {0x00, 0x00});
        mAttachedStatic = static_cast<uint16_t>(mAttachedStatic | s);
        mAttachedDynamic = static_cast<uint16_t>(mAttachedDynamic | d);
        return Answer(0x00, {0x00, 0x00});
    }

    case DetachPartitions: {
        // Bits without a partition are simply not attached: a detach of
        // everything names them all.
        mAttachedStatic = static_cast<uint16_t>(mAttachedStatic & ~BigEndian(data, 3));
        mAttachedDynamic = static_cast<uint16_t>(mAttachedDynamic & ~BigEndian(data, 7));
        return Answer(0x00, {0x00, 0x00});
    }

    case CreateDynamicPartition: {
        if (mCreateUnchanged)
            return Answer(0x00, std::vector<uint8_t>(4, 0x00));
        unsigned bit = 0;
        while (bit < 16 && mDynamic.count(bit))
            ++bit;
        if (bit == 16)
            return Answer(kDeviceFull, std::vector<uint8_t>(4, 0x00));
        DynamicPartition p;
        for (size_t i = 5; i < 11 && data[i] != 0; ++i)
            p.name += static_cast<char>(data[i]);
        p.units = static_cast<uint16_t>(data[3] | (data[4] << 8));
        p.attribute = data[11];
        mDynamic[bit] = p;
        return Answer(0x00, std::vector<uint8_t>(4, 0x00));
    }

    case DeleteDynamicPartition: {
        const uint16_t named = static_cast<uint16_t>(BigEndian(data, 3) & Word(mDynamic));
        if (named == 0)
            return Answer(kInvalidIndex, std::vector<uint8_t>(6, 0x00));
        for (unsigned bit = 0; bit < 16; ++bit)
            if (named & (1u << bit))
                mDynamic.erase(bit);
        mAttachedDynamic = static_cast<uint16_t>(mAttachedDynamic & ~named);
        mDeleted.push_back(named);
        return Answer(0x00, std::vector<uint8_t>(6, 0x00));
    }

    case GetStatus: {
        uint8_t status = 0x00;
        auto statuses = mStatuses.find(data[3]);
        if (statuses != mStatuses.end() && !statuses->second.empty()) {
            status = statuses->second.front();
            statuses->second.pop_front();
        }
        return Answer(0x00, {status, 0x00});
    }

    case SetStateFlag:
        mStateFlags.push_back(data[4]);
        return Answer(0x00, {0x00, 0x00});

    case SecureTessaUpdate: {
        if (data[3] == 0x00) {
            mDigest.clear();
            mDigestParts = 0;
            return Answer(0x00, {0x00});
        }
        for (size_t i = 4; i < data.size() && i < 14 && data[i] != 0; ++i)
            mDigest += static_cast<char>(data[i]);
        if (++mDigestParts == 4) {
            mHandedOver.push_back(mDigest);
            mCompletedDigest = mDigest;
            mDigestParts = 0;
            mDigest.clear();
        }
        return Answer(0x00, {0x00});
    }

    case BeginSecureUpdate: {
        ++mSecureUpdate.begins;
        mSecureUpdate.beginValue = static_cast<uint16_t>(data[3] | (data[4] << 8));
        mSecureUpdate.units = static_cast<uint16_t>(data[6] | (data[7] << 8));
        DynamicPartition box;
        box.name = "SECUPD";
        box.units = mSecureUpdate.units;
        mDynamic[mSecureUpdateBit] = box;
        mAttachedDynamic = static_cast<uint16_t>(mAttachedDynamic | (1u << mSecureUpdateBit));
        return Answer(0x00, {0x00, 0x00, 0x00});
    }

    case ProcessSecureUpdate:
        mSecureUpdate.digest.assign(data.begin() + 5, data.begin() + 21);
        return Answer(0x00, {0x00});

    case EndSecureUpdate:
        ++mSecureUpdate.ends;
        mDynamic.erase(mSecureUpdateBit);
        mAttachedDynamic = static_cast<uint16_t>(mAttachedDynamic & ~(1u << mSecureUpdateBit));
        return Answer(0x00, {0x00});

    default:
        return Answer(kNotImplemented, {});
    }
}

void SimTessaController::SetHandOverObserver(HandOverObserver observer)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mHandOverObserver = std::move(observer);
}

std::vector<std::string> SimTessaController::HandedOverDigests() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mHandedOver;
}

void SimTessaController::SetSecureUpdateDropBoxBit(unsigned bit)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mSecureUpdateBit = bit;
}

SimTessaController::SecureUpdate SimTessaController::SecureUpdateState() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mSecureUpdate;
}

void SimTessaController::SetGenerationByte(uint8_t value)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mGeneration = value;
}

void SimTessaController::SetTypeByte(uint8_t value)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mType = value;
}

void SimTessaController::SetAccessState(uint8_t value)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mAccess = value;
}

void SimTessaController::SetCapability(const std::vector<uint8_t>& data)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mCapability = data;
}

void SimTessaController::SetVCStates(const std::vector<uint8_t>& states)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mVCStates.assign(states.begin(), states.end());
    if (mVCStates.empty())
        mVCStates.push_back(0x00);
}

void SimTessaController::SetPowerSupply(uint8_t number, const PowerSupply& psu)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mPowerSupplies[number] = psu;
}

void SimTessaController::SetPowerSupplyCount(uint8_t count)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mPowerSupplyCount = count;
}

void SimTessaController::SetSessionHandle(uint16_t handle)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mHandle = handle;
}

void SimTessaController::RefuseBegins(unsigned count, uint8_t code)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mRefusals = count;
    mRefusalCode = code;
}

bool SimTessaController::SessionOpen() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mOpen;
}

uint16_t SimTessaController::SessionHandle() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mHandle;
}

unsigned SimTessaController::SessionsBegun() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mBegun;
}

unsigned SimTessaController::SessionsEnded() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mEnded;
}

unsigned SimTessaController::ColdResets() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mResets;
}

void SimTessaController::AddStaticPartition(unsigned bit, const std::string& name)
{
    std::lock_guard<std::mutex> lock(mMutex);
    if (bit < 16)
        mStatic[bit] = name;
}

void SimTessaController::AddDynamicPartition(unsigned bit, const std::string& name)
{
    std::lock_guard<std::mutex> lock(mMutex);
    if (bit < 16) {
        DynamicPartition p;
        p.name = name;
        mDynamic[bit] = p;
    }
}

void SimTessaController::ClearPartitions()
{
    std::lock_guard<std::mutex> lock(mMutex);
    mStatic.clear();
    mDynamic.clear();
    mAttachedStatic = 0;
    mAttachedDynamic = 0;
}

void SimTessaController::SetCreateLeavesBitmapUnchanged(bool unchanged)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mCreateUnchanged = unchanged;
}

uint16_t SimTessaController::StaticBits() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return Word(mStatic);
}

uint16_t SimTessaController::DynamicBits() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return Word(mDynamic);
}

uint16_t SimTessaController::AttachedStaticBits() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mAttachedStatic;
}

uint16_t SimTessaController::AttachedDynamicBits() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mAttachedDynamic;
}

std::map<unsigned, SimTessaController::DynamicPartition> SimTessaController::DynamicPartitions() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mDynamic;
}

std::vector<uint16_t> SimTessaController::DeletedWords() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mDeleted;
}

void SimTessaController::ScriptCodes(uint8_t sub, const std::vector<uint8_t>& codes)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mCodes[sub].insert(mCodes[sub].end(), codes.begin(), codes.end());
}

void SimTessaController::ScriptStatuses(uint8_t polledSub, const std::vector<uint8_t>& statuses)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mStatuses[polledSub].insert(mStatuses[polledSub].end(), statuses.begin(), statuses.end());
}

void SimTessaController::SetSubHandler(uint8_t sub, SubHandler handler)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mSubHandlers[sub] = std::move(handler);
}

std::vector<uint8_t> SimTessaController::StateFlags() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mStateFlags;
}

size_t SimTessaController::CountFrames(uint8_t netfn, uint8_t cmd) const
{
    size_t n = 0;
    for (const auto& frame : mController.Frames())
        n += (frame[0] == netfn && frame[1] == cmd) ? 1 : 0;
    return n;
}

size_t SimTessaController::CountSub(uint8_t sub) const
{
    size_t n = 0;
    for (const auto& frame : mController.Frames())
        n += (frame[0] == kNetFn && frame[1] == kTessa && frame.size() > 2 && frame[2] == sub) ? 1 : 0;
    return n;
}
