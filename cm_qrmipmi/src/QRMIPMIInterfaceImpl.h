#ifndef CM_QRMIPMI_SRC_QRMIPMIINTERFACEIMPL_H
#define CM_QRMIPMI_SRC_QRMIPMIINTERFACEIMPL_H

#include "QRMIPMICommandData.h"
#include "QRMString.h"

// Entry object of the host IPMI library. Callers create it with new, call
// Initialize, send any number of requests, Release, and delete it:
//
//   QRMIPMIInterfaceImpl* lib = new QRMIPMIInterfaceImpl;
//   _QRMIPMIConfiguration cfg = {60, 5, 5, 50, 0, 0};
//   if (lib->Initialize(&cfg) == 0) { lib->IPMIRequest(&record); ... }
//   lib->Release();
//   delete lib;
//
// Requests and Release act on the calling thread's session.
class QRMIPMIInterfaceImpl {
public:
    QRMIPMIInterfaceImpl();
    virtual ~QRMIPMIInterfaceImpl();

    // 0 ready; 1 the IPMI kernel modules are missing and none loads;
    // 257 no IPMI device opens.
    QRMIPMIResult Initialize(const _QRMIPMIConfiguration* configuration);
    // The same with another settings file name.
    QRMIPMIResult Initialize(QRMString configurationFileName);
    // 0 an answer arrived (completion code in response byte 2); 257 no record
    // or no device; 320 the exchange failed.
    QRMIPMIResult IPMIRequest(_QRMIPMICommandData* commandData);
    bool Release();

private:
    QRMIPMIInterfaceImpl(const QRMIPMIInterfaceImpl&) = delete;
    QRMIPMIInterfaceImpl& operator=(const QRMIPMIInterfaceImpl&) = delete;

    bool InitializeQRMLogger();
};

#endif
