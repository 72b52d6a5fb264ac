#include "SimManagementController.h"

#include <cerrno>
#include <cstring>

SimIpmiStep SimIpmiStep::Code(uint8_t code)
{
    SimIpmiStep s;
    s.kind = CompletionCode;
    s.completionCode = code;
    return s;
}

SimIpmiStep SimIpmiStep::Silence()
{
    SimIpmiStep s;
    s.kind = NoAnswer;
    return s;
}

SimIpmiStep SimIpmiStep::Stale(bool thenAnswer)
{
    SimIpmiStep s;
    s.kind = StaleAnswer;
    s.thenAnswer = thenAnswer;
    return s;
}

SimIpmiStep SimIpmiStep::OverLong(size_t answerLength)
{
    SimIpmiStep s;
    s.kind = OverLongAnswer;
    s.answerLength = answerLength;
    return s;
}

SimIpmiStep SimIpmiStep::Short(size_t answerLength)
{
    SimIpmiStep s;
    s.kind = ShortAnswer;
    s.answerLength = answerLength;
    return s;
}

SimIpmiStep SimIpmiStep::SendFailure(int err)
{
    SimIpmiStep s;
    s.kind = SendError;
    s.sendErrno = err;
    return s;
}

void SimManagementController::SetHandler(uint8_t netfn, uint8_t cmd, SimIpmiHandler handler)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mHandlers[Key(netfn, cmd)] = std::move(handler);
}

void SimManagementController::SetReply(uint8_t netfn, uint8_t cmd, uint8_t completionCode,
                                       std::vector<uint8_t> data)
{
    SimIpmiReply reply;
    reply.completionCode = completionCode;
    reply.data = std::move(data);
    SetHandler(netfn, cmd, [reply](const SimIpmiRequest&) { return reply; });
}

void SimManagementController::Script(uint8_t netfn, uint8_t cmd, const SimIpmiStep& step, unsigned times)
{
    std::lock_guard<std::mutex> lock(mMutex);
    for (unsigned i = 0; i < times; ++i)
        mScripts[Key(netfn, cmd)].push_back(step);
}

void SimManagementController::ScriptSub(uint8_t netfn, uint8_t cmd, uint8_t sub, const SimIpmiStep& step,
                                        unsigned times)
{
    std::lock_guard<std::mutex> lock(mMutex);
    for (unsigned i = 0; i < times; ++i)
        mSubScripts[SubKey(netfn, cmd, sub)].push_back(step);
}

void SimManagementController::QueueAnswer(const Answer& answer)
{
    // A stale answer carries another message id: it is no answer to this request.
    if (!mRequests.empty() && mRequests.back().msgid == answer.msgid && mRequests.back().answer.empty())
        mRequests.back().answer = answer.data;
    mAnswers.push_back(answer);
}

SimManagementController::Answer SimManagementController::MakeAnswer(const SimIpmiRequest& request,
                                                                    const SimIpmiReply& reply) const
{
    Answer a;
    a.msgid = request.msgid;
    a.netfn = static_cast<uint8_t>(request.netfn | 1);   // response NetFn
    a.cmd = request.cmd;
    a.channel = request.channel;
    a.lun = request.lun;
    a.data.push_back(reply.completionCode);
    a.data.insert(a.data.end(), reply.data.begin(), reply.data.end());
    return a;
}

int SimManagementController::Send(const struct ipmi_req* req)
{
    std::lock_guard<std::mutex> lock(mMutex);
    SimIpmiRequest r;
    r.addrLen = req->addr_len;
    r.msgid = req->msgid;
    r.netfn = req->msg.netfn;
    r.cmd = req->msg.cmd;
    if (req->addr != nullptr && req->addr_len >= sizeof(struct ipmi_system_interface_addr)) {
        struct ipmi_system_interface_addr addr;
        memcpy(&addr, req->addr, sizeof(addr));
        r.addrType = addr.addr_type;
        r.channel = addr.channel;
        r.lun = addr.lun;
    }
    if (req->msg.data != nullptr && req->msg.data_len <= IPMI_MAX_MSG_LENGTH)
        r.data.assign(req->msg.data, req->msg.data + req->msg.data_len);

    // The checks the message handler makes before anything reaches the
    // controller.
    int err = 0;
    if (req->addr == nullptr || req->addr_len < sizeof(struct ipmi_system_interface_addr) ||
        r.addrType != IPMI_SYSTEM_INTERFACE_ADDR_TYPE || r.channel != IPMI_BMC_CHANNEL || r.lun > 3)
        err = EINVAL;
    else if (req->msg.data_len > IPMI_MAX_MSG_LENGTH)
        err = EMSGSIZE;

    SimIpmiStep step;   // default: let the handler answer
    bool scripted = false;
    // A step for the sub-command comes before one for the whole command.
    std::deque<SimIpmiStep>* queue = nullptr;
    if (!r.data.empty()) {
        auto subScript = mSubScripts.find(SubKey(r.netfn, r.cmd, r.data[0]));
        if (subScript != mSubScripts.end() && !subScript->second.empty())
            queue = &subScript->second;
    }
    if (queue == nullptr) {
        auto script = mScripts.find(Key(r.netfn, r.cmd));
        if (script != mScripts.end() && !script->second.empty())
            queue = &script->second;
    }
    if (err == 0 && queue != nullptr) {
        step = queue->front();
        queue->pop_front();
        scripted = true;
        if (step.kind == SimIpmiStep::SendError)
            err = step.sendErrno;
    }

    r.accepted = (err == 0);
    mRequests.push_back(r);
    if (err != 0) {
        errno = err;
        return -1;
    }

    // A request lost on its way (no answer) never reached the handler, so a
    // model with state does not act on it.
    SimIpmiReply reply;
    if (scripted && step.kind == SimIpmiStep::CompletionCode) {
        reply.completionCode = step.completionCode;
    } else if (!(scripted && step.kind == SimIpmiStep::NoAnswer)) {
        auto handler = mHandlers.find(Key(r.netfn, r.cmd));
        if (handler != mHandlers.end())
            reply = handler->second(r);
        else
            reply.completionCode = 0xC1;
    }

    if (!scripted) {
        QueueAnswer(MakeAnswer(r, reply));
        return 0;
    }
    switch (step.kind) {
    case SimIpmiStep::NoAnswer:
        break;
    case SimIpmiStep::StaleAnswer: {
        SimIpmiReply staleReply;
        staleReply.data.assign(4, kStaleFill);
        Answer stale = MakeAnswer(r, staleReply);
        stale.msgid = r.msgid - 1;   // the answer to an earlier request
        QueueAnswer(stale);
        if (step.thenAnswer)
            QueueAnswer(MakeAnswer(r, reply));
        break;
    }
    case SimIpmiStep::OverLongAnswer: {
        Answer a = MakeAnswer(r, reply);
        a.data.assign(step.answerLength, kOverLongFill);
        if (!a.data.empty())
            a.data[0] = 0x00;
        QueueAnswer(a);
        break;
    }
    case SimIpmiStep::ShortAnswer: {
        Answer a = MakeAnswer(r, reply);
        if (a.data.size() > step.answerLength)
            a.data.resize(step.answerLength);
        QueueAnswer(a);
        break;
    }
    default:
        QueueAnswer(MakeAnswer(r, reply));
        break;
    }
    return 0;
}

int SimManagementController::Receive(struct ipmi_recv* recv)
{
    std::lock_guard<std::mutex> lock(mMutex);
    if (mAnswers.empty()) {
        errno = EAGAIN;
        return -1;
    }
    const Answer& a = mAnswers.front();

    struct ipmi_system_interface_addr addr;
    memset(&addr, 0, sizeof(addr));
    addr.addr_type = IPMI_SYSTEM_INTERFACE_ADDR_TYPE;
    addr.channel = static_cast<short>(a.channel);
    addr.lun = static_cast<unsigned char>(a.lun);
    if (recv->addr_len < sizeof(addr)) {
        errno = EINVAL;   // the answer stays queued
        return -1;
    }
    memcpy(recv->addr, &addr, sizeof(addr));
    recv->addr_len = sizeof(addr);
    recv->recv_type = IPMI_RESPONSE_RECV_TYPE;
    recv->msgid = a.msgid;
    recv->msg.netfn = a.netfn;
    recv->msg.cmd = a.cmd;

    int err = 0;
    size_t length = a.data.size();
    if (length > recv->msg.data_len) {
        length = recv->msg.data_len;
        err = EMSGSIZE;
    }
    if (length > 0)
        memcpy(recv->msg.data, a.data.data(), length);
    recv->msg.data_len = static_cast<unsigned short>(length);
    mAnswers.pop_front();

    if (err != 0) {
        errno = err;
        return -1;
    }
    return 0;
}

bool SimManagementController::HasPendingAnswer() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return !mAnswers.empty();
}

size_t SimManagementController::PendingAnswers() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mAnswers.size();
}

std::vector<SimIpmiRequest> SimManagementController::Requests() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mRequests;
}

size_t SimManagementController::AcceptedSends() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    size_t n = 0;
    for (const auto& r : mRequests)
        n += r.accepted ? 1 : 0;
    return n;
}

std::vector<std::vector<uint8_t>> SimManagementController::Frames() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    std::vector<std::vector<uint8_t>> frames;
    for (const auto& r : mRequests) {
        if (!r.accepted)
            continue;
        std::vector<uint8_t> frame{r.netfn, r.cmd};
        frame.insert(frame.end(), r.data.begin(), r.data.end());
        frames.push_back(frame);
    }
    return frames;
}

std::string SimHex(const std::vector<uint8_t>& bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        if (!text.empty())
            text += ' ';
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}
