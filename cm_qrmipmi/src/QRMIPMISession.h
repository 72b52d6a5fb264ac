#ifndef CM_QRMIPMI_SRC_QRMIPMISESSION_H
#define CM_QRMIPMI_SRC_QRMIPMISESSION_H

#include "QRMIPMICommandData.h"
#include "QRMIPMICommandProcessorCreator.h"
#include "QRMIPMIXMLConfiguration.h"
#include "QRMString.h"

// One calling thread's connection to the management controller: its own
// processor (and so its own open IPMI device) and the retry settings that
// travel with each of its requests.
class QRMIPMISession {
public:
    QRMIPMISession();
    virtual ~QRMIPMISession();

    // Opens the device on first success; later calls change nothing.
    bool Initialize(const _QRMIPMIConfiguration* configuration);
    bool InitializeFromFile();
    QRMIPMIResult ProcessCommand(CQRMIPMICommandData& command);
    bool Release();

    static void SetConfigurationFileName(QRMString fileName);

    // The settings this session attaches to requests (null once released).
    const _QRMIPMIConfiguration* GetConfiguration() const { return mConfiguration; }

    // Settings file shared by all sessions.
    static QRMIPMIXMLConfig mIPMIXMLConfig;

    // What the settings file may set; values outside are ignored.
    static const int kLowestRetryCount = 1;
    static const int kHighestRetryCount = 100;
    static const int kHighestPollCount = 1000;
    static const int kHighestInterval = 60000;   // one minute, in milliseconds

private:
    QRMIPMISession(const QRMIPMISession&) = delete;
    QRMIPMISession& operator=(const QRMIPMISession&) = delete;

    IIPMICommandProcessor* mProcessor;
    bool mInitialized;
    bool mConfiguredFromFile;
    _QRMIPMIConfiguration* mConfiguration;
};

#endif
