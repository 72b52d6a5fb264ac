#ifndef CM_QRMIPMI_SRC_LQRMIPMIDRIVERMANAGER_H
#define CM_QRMIPMI_SRC_LQRMIPMIDRIVERMANAGER_H

#include "QRMEnvironmentInfo.h"
#include "QRMString.h"

// Pieces of the module shell commands.
extern const QRMString strLsmod;
extern const QRMString strModprobe;
extern const QRMString strRmmod;
extern const QRMString strGrep;
extern const QRMString strPipe;
extern const QRMString strDevNull;
extern const QRMString strMsgHndlr;
extern const QRMString strDevIntf;
extern const QRMString strSI;

class IQRMIPMIDriverManager {
public:
    virtual unsigned int IsIPMIDriverAvailable() = 0;
    virtual unsigned int ReleaseIPMIDriver() = 0;
    virtual ~IQRMIPMIDriverManager() {}
};

// Makes sure the kernel modules behind the IPMI device are loaded and, when
// destroyed, unloads again the ones that were missing before. Skipped on
// VMware hosts.
class DriverManager : public IQRMIPMIDriverManager {
public:
    DriverManager();
    ~DriverManager() override;

    unsigned int IsIPMIDriverAvailable() override;
    unsigned int ReleaseIPMIDriver() override;

    unsigned int LoadIPMIDriver();
    int IsDriverAvailable(QRMString driverName);
    int LoadDriver(QRMString driverName);
    int ReleaseDriver(QRMString driverName);

private:
    DriverManager(const DriverManager&) = delete;
    DriverManager& operator=(const DriverManager&) = delete;

    bool mDevIntfLoaded;
    bool mMsgHandlerLoaded;
    bool mSILoaded;
    bool mDriverReady;
    bool mLoadedByUs;
    QRMEnvironmentInfo mEnvironment;
};

#endif
