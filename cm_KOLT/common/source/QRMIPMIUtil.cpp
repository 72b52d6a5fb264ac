#include "SecureTessa.h"

#include <new>

#include "PlatformLayer.h"
#include "QRMIPMIInterfaceImpl.h"
#include "TessaIPMIDump.h"

namespace {

const int kMaxPlainSends = 10;
const int kPlainSendPauseSeconds = 2;

} // namespace

unsigned int InitQRMIPMILibrary()
{
    // A client built while another still holds the library takes it over:
    // the one held is released first instead of being lost.
    if (pQRMIPMILibHandle != nullptr) {
        pQRMIPMILibHandle->Release();
        delete pQRMIPMILibHandle;
        pQRMIPMILibHandle = nullptr;
    }
    pQRMIPMILibHandle = new QRMIPMIInterfaceImpl;
    _QRMIPMIConfiguration configuration = {60, 5, 5, 50, 0, 0};
    const unsigned int result = pQRMIPMILibHandle->Initialize(&configuration);
    if (result == QRMIPMI_RESULT_SUCCESS)
        TESSA_LOG("Intialization of QRM IPMI Library successful");
    else
        TESSA_LOG("Intialization of QRM IPMI Library failed");
    return result;
}

int ReleaseQRMIPMILibrary()
{
    TESSA_LOG("InstallIPMI CPlatformLayer:UninstallZemo success");
    if (pQRMIPMILibHandle != nullptr) {
        pQRMIPMILibHandle->Release();
        delete pQRMIPMILibHandle;
        pQRMIPMILibHandle = nullptr;
    }
    return 0;
}

bool ProcessIPMIReuestResponseUsingQRMIPMI(_QRMIPMICommandData* record)
{
    // No library loaded counts as an exchange that failed.
    if (pQRMIPMILibHandle == nullptr)
        return false;
    return pQRMIPMILibHandle->IPMIRequest(record) == QRMIPMI_RESULT_SUCCESS;
}

bool ProcessIPMICommand(_QRMIPMICommandData* record)
{
    TESSA_LOG("ProcessIPMICommand Start\n");
    if (bTessaDebugLog)
        TESSA_LOG(tessaRequestDump(*record, ""));

    bool delivered = false;
    for (int attempt = 0; attempt < kMaxPlainSends; ++attempt) {
        const bool replied = ProcessIPMIReuestResponseUsingQRMIPMI(record);
        if (bTessaDebugLog)
            TESSA_LOG(tessaResponseDump(*record));
        if (replied) {
            TESSA_LOG("ProcessIPMICommand Passed\n");
            delivered = true;
            break;
        }
        CPlatformLayer::Sleep(kPlainSendPauseSeconds);
    }
    TESSA_LOG("ProcessIPMICommand END\n");
    return delivered;
}
