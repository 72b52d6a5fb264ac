#ifndef CM_QRMIPMI_QRMIPMICOMMANDPROCESSORCREATOR_H
#define CM_QRMIPMI_QRMIPMICOMMANDPROCESSORCREATOR_H

#include "QRMIPMICommandData.h"

// A transport that carries one request to the management controller and
// brings its answer back. Created by IPMICommandProcessorCreator, owned and
// deleted by the session of the calling thread.
class IIPMICommandProcessor {
public:
    virtual ~IIPMICommandProcessor() {}
    // 0: an answer arrived (completion code in response byte 2, for the
    // caller to judge); 320: the exchange failed. Needs a configuration
    // attached to the command.
    virtual QRMIPMIResult ExecuteCommand(CQRMIPMICommandData& command) = 0;
    // 0 when the device opened, 320 when none did.
    virtual QRMIPMIResult Initialize() = 0;
};

class IPMICommandProcessorCreator {
public:
    // A processor with its IPMI device open, or null when no device opens.
    static IIPMICommandProcessor* Create();
};

#endif
