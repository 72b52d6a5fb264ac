#include "SecureTessa.h"

#include <cstring>
#include <exception>

#include "PlatformLayer.h"
#include "TessaIPMIDump.h"
#include "TessaRequestBytes.h"

namespace {

// Polling has a record of its own so that the request and answer in
// IPMIReqBuf stay intact apart from the completion code polling writes.
// Its status byte outlives a call: a call that sends nothing judges the
// last answer of an earlier one.
_QRMIPMICommandData PollReqBuf;

// Whether the last poll's answer reached its status byte. One that ended
// before it tells nothing: the byte it left out would read as 0, "done".
bool LastAnswerHeldStatus = true;

const unsigned char kGetTessaStatus = 10;
const int kStatusByte = 5;   // response data byte 2
const int kCompletionCodeByte = 2;
const int kPollPauseSeconds = 1;

} // namespace

bool secureTessa::PollTessaCmdComplete(int maxPolls, unsigned char subCommand)
{
    try {
        if (IsSessionActive() && maxPolls > 0) {
            for (int poll = 0; poll < maxPolls; ++poll) {
                TESSA_LOG("Polling Count " + std::to_string(poll) + " \n ");
                CPlatformLayer::Sleep(kPollPauseSeconds);

                std::memset(&PollReqBuf, 0, sizeof(PollReqBuf));
                PollReqBuf.request[3] = static_cast<unsigned char>(session.handle & 0xFF);
                PollReqBuf.request[4] = static_cast<unsigned char>(session.handle >> 8);
                PollReqBuf.request[5] = subCommand;
                unsigned char rc = OEMIPMIRequest(eTessaCommand, kGetTessaStatus, &PollReqBuf, 8, 7);
                // A refusal is judged by what it carries, as always; a reply
                // without even a completion code carries nothing at all.
                LastAnswerHeldStatus = tessaAnswerHolds(PollReqBuf, rc != 0 ? kCompletionCodeByte : kStatusByte);
                if (!LastAnswerHeldStatus)
                    rc = 1;
                const unsigned char status = PollReqBuf.response[kStatusByte];

                if (bTessaDebugLog)
                    TESSA_LOG(" PollTessaCmdComplete IPMIResponse[" + tessaHexBytes(PollReqBuf.response, 7) + "]\n");
                TESSA_LOG("SubCmdStatus: " + tessaHexByte(status));

                if (rc == 1) {
                    TESSA_LOG("GetTESSAStatus Command returned: FAILURE.  Breaking out of Poll Loop");
                    break;
                }
                if (rc != 0) {
                    TESSA_LOG(" PollTessaCmdComplete Response = " + std::to_string(rc));
                    continue;
                }
                IPMIReqBuf.response[2] = status;
                if (status != 2)
                    break;
            }
        }
        return LastAnswerHeldStatus && PollReqBuf.response[kStatusByte] == 0;
    } catch (unsigned char error) {
        storeErrorInfo(error);
    } catch (const std::exception& e) {
        TESSA_LOG(std::string("Bad Alloc Exception caught : ") + e.what());
    } catch (...) {
        TESSA_LOG("Generic Exception");
    }
    return false;
}
