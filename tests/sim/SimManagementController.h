#ifndef ZAGO_SIM_SIMMANAGEMENTCONTROLLER_H
#define ZAGO_SIM_SIMMANAGEMENTCONTROLLER_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <linux/ipmi.h>

// Test model of the server's management controller as seen through the
// Linux IPMI message-handler device. It takes requests at the level of
// IPMICTL_SEND_COMMAND, queues answers, and hands them out with the
// semantics of IPMICTL_RECEIVE_MSG_TRUNC (EAGAIN when empty, truncation and
// EMSGSIZE when an answer does not fit).
//
// Answers come from a handler table keyed by NetFn and command; a request
// without handler gets completion code 0xC1 (invalid command), as a real
// controller answers. Per NetFn/command a script of outcomes can be queued;
// each request consumes one step before the handler is asked.
//
// Thread-safe: an umockdev ioctl handler may drive it from its own thread.

struct SimIpmiRequest {
    int addrType = 0;
    int channel = 0;
    int lun = 0;
    unsigned int addrLen = 0;
    long msgid = 0;
    uint8_t netfn = 0;
    uint8_t cmd = 0;
    std::vector<uint8_t> data;
    bool accepted = false;   // false when the send was refused
    // The answer queued for it (completion code first); empty when none was.
    std::vector<uint8_t> answer;
};

struct SimIpmiReply {
    uint8_t completionCode = 0x00;
    std::vector<uint8_t> data;   // answer data after the completion code
};

using SimIpmiHandler = std::function<SimIpmiReply(const SimIpmiRequest&)>;

struct SimIpmiStep {
    enum Kind {
        CompletionCode,   // answer with this completion code and no data
        NoAnswer,         // accept the request, never answer
        StaleAnswer,      // first an answer carrying a foreign message id
        OverLongAnswer,   // answer whose data part (code included) has answerLength bytes
        ShortAnswer,      // the handler's answer cut to answerLength bytes (code included)
        SendError         // refuse the send with sendErrno
    };
    Kind kind = CompletionCode;
    uint8_t completionCode = 0x00;
    int sendErrno = 0;
    size_t answerLength = 0;
    bool thenAnswer = true;   // StaleAnswer: the right answer follows

    static SimIpmiStep Code(uint8_t code);
    static SimIpmiStep Silence();
    static SimIpmiStep Stale(bool thenAnswer = true);
    static SimIpmiStep OverLong(size_t answerLength);
    // The request is carried out as usual, but its answer ends after
    // answerLength bytes, completion code included (0: an empty answer).
    static SimIpmiStep Short(size_t answerLength);
    static SimIpmiStep SendFailure(int err);
};

class SimManagementController {
public:
    // Data bytes the model puts into answers it makes up (stale answers,
    // over-long answers), so tests can tell them apart.
    static constexpr uint8_t kStaleFill = 0x5A;
    static constexpr uint8_t kOverLongFill = 0xA5;

    SimManagementController() = default;

    void SetHandler(uint8_t netfn, uint8_t cmd, SimIpmiHandler handler);
    // Fixed answer for a NetFn/command.
    void SetReply(uint8_t netfn, uint8_t cmd, uint8_t completionCode,
                  std::vector<uint8_t> data = {});
    // Queue a step for the next `times` requests of this NetFn/command.
    void Script(uint8_t netfn, uint8_t cmd, const SimIpmiStep& step, unsigned times = 1);
    // The same for the requests whose first data byte is `sub` (a
    // sub-command); these steps come before those of Script.
    void ScriptSub(uint8_t netfn, uint8_t cmd, uint8_t sub, const SimIpmiStep& step, unsigned times = 1);

    // IPMICTL_SEND_COMMAND: 0, or -1 with errno set.
    int Send(const struct ipmi_req* request);
    // IPMICTL_RECEIVE_MSG_TRUNC: 0, or -1 with errno set (EAGAIN, EINVAL,
    // EMSGSIZE after truncation, the answer being consumed).
    int Receive(struct ipmi_recv* answer);
    bool HasPendingAnswer() const;
    size_t PendingAnswers() const;

    std::vector<SimIpmiRequest> Requests() const;
    size_t AcceptedSends() const;
    // Every accepted request as the client filled it: NetFn, command, data.
    std::vector<std::vector<uint8_t>> Frames() const;

private:
    struct Answer {
        long msgid;
        uint8_t netfn;
        uint8_t cmd;
        int channel;
        int lun;
        std::vector<uint8_t> data;   // completion code first
    };

    static uint16_t Key(uint8_t netfn, uint8_t cmd) { return static_cast<uint16_t>((netfn << 8) | cmd); }
    static uint32_t SubKey(uint8_t netfn, uint8_t cmd, uint8_t sub)
    {
        return (static_cast<uint32_t>(Key(netfn, cmd)) << 8) | sub;
    }
    void QueueAnswer(const Answer& answer);
    Answer MakeAnswer(const SimIpmiRequest& request, const SimIpmiReply& reply) const;

    mutable std::mutex mMutex;
    std::map<uint16_t, SimIpmiHandler> mHandlers;
    std::map<uint16_t, std::deque<SimIpmiStep>> mScripts;
    std::map<uint32_t, std::deque<SimIpmiStep>> mSubScripts;
    std::deque<Answer> mAnswers;
    std::vector<SimIpmiRequest> mRequests;
};

// "30 A2 12 02": a frame or answer as upper-case hexadecimal bytes, for
// readable test expectations and failure messages.
std::string SimHex(const std::vector<uint8_t>& bytes);

#endif
