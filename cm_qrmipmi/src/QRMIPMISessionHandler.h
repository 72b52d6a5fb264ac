#ifndef CM_QRMIPMI_SRC_QRMIPMISESSIONHANDLER_H
#define CM_QRMIPMI_SRC_QRMIPMISESSIONHANDLER_H

#include <cstdint>
#include <map>

#include "LQRMLock.h"
#include "QRMIPMICommandData.h"
#include "QRMIPMISession.h"

// Process-wide registry of one session per calling thread, keyed by
// pthread_self(). Lock order: sessionHandlerLock before the logger's lock.
class QRMIPMISessionHandler {
public:
    static QRMIPMISessionHandler* GetInstance();
    static void DestroyInstance();
    static QRMLock& GetLockObject();

    void SetApplicationDefaultConfiguration(const _QRMIPMIConfiguration* configuration);
    const _QRMIPMIConfiguration* GetApplicationDefaultConfiguration() const;

    uint64_t GetSessionID();
    // The calling thread's session, created when missing.
    QRMIPMISession* GetSession();
    bool ReleaseSession();
    bool Cleanup();

private:
    QRMIPMISessionHandler();
    ~QRMIPMISessionHandler();
    QRMIPMISessionHandler(const QRMIPMISessionHandler&) = delete;
    QRMIPMISessionHandler& operator=(const QRMIPMISessionHandler&) = delete;

    std::map<uint64_t, QRMIPMISession*> mSessions;
    _QRMIPMIConfiguration mApplicationDefault;

    static QRMIPMISessionHandler* mIPMISessionHandlerInstance;
};

#endif
