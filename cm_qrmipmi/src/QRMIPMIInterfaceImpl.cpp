#define QRM_LOG_UNIT "cm_qrmipmi/src/QRMIPMIInterfaceImpl"

#include "QRMIPMIInterfaceImpl.h"

#include "LQRMIPMIDriverManager.h"
#include "QRMFile.h"
#include "QRMIPMISession.h"
#include "QRMIPMISessionHandler.h"
#include "QRMLogger.h"

namespace {
const QRMString::QRMCharEncodingType kUTF8 = QRMString::QRM_ENCODING_UTF8;
} // namespace

QRMIPMIInterfaceImpl::QRMIPMIInterfaceImpl() {}

QRMIPMIInterfaceImpl::~QRMIPMIInterfaceImpl()
{
    QRMLOG(QRM_LOG_INFO, "QRMIPMIInterfaceImpl::~QRMIPMIInterfaceImpl() Entering");
    QRMIPMISessionHandler::DestroyInstance();
    QRMLOG(QRM_LOG_INFO, "QRMIPMIInterfaceImpl::~QRMIPMIInterfaceImpl() Leaving");
    QRMLogger::Terminate();
}

bool QRMIPMIInterfaceImpl::InitializeQRMLogger()
{
    if (!QRMFile(QRMString("zordebuglog", kUTF8)).Exists()) {
        return false;
    }
    QRMLoggingOptions options;
    options.SetApplicationName(QRMString("QRMIPMILibrary", kUTF8));
    options.SetNumberOfSupportedLevels(5);
    options.SetNumberOfLevelsToShowInUserLog(5);
    options.SetUserLogFile(QRMFile(QRMString("qrmipmi.log", kUTF8)));
    options.SetInternalLogFile(QRMFile(QRMString("qrmipmi_internal.log", kUTF8)));
    return QRMLogger::Initialize(options);
}

QRMIPMIResult QRMIPMIInterfaceImpl::Initialize(const _QRMIPMIConfiguration* configuration)
{
    InitializeQRMLogger();
    QRMLOG(QRM_LOG_INFO, "Started Logging for QRMIPMI Library");

    // Unloads on scope exit whatever modules this call had to load and that
    // are not held by an open device.
    DriverManager driverManager;
    const unsigned int driverResult = driverManager.IsIPMIDriverAvailable();
    if (driverResult != 0) {
        return driverResult;
    }
    QRMIPMISessionHandler* handler = QRMIPMISessionHandler::GetInstance();
    if (configuration != nullptr) {
        handler->SetApplicationDefaultConfiguration(configuration);
    }
    QRMIPMISession* session = handler->GetSession();
    if (!session->Initialize(nullptr)) {
        return QRMIPMI_RESULT_NO_DEVICE;
    }
    return QRMIPMI_RESULT_SUCCESS;
}

QRMIPMIResult QRMIPMIInterfaceImpl::Initialize(QRMString configurationFileName)
{
    QRMIPMISessionHandler::GetInstance()->GetSession();
    QRMIPMISession::SetConfigurationFileName(configurationFileName);
    return Initialize(static_cast<const _QRMIPMIConfiguration*>(nullptr));
}

QRMIPMIResult QRMIPMIInterfaceImpl::IPMIRequest(_QRMIPMICommandData* commandData)
{
    QRMLOG(QRM_LOG_INFO, "QRMIPMIInterfaceImpl::IPMIRequest() Entering");
    if (commandData == nullptr) {
        QRMLOG(QRM_LOG_INFO, "Invalid parameter passed");
        return QRMIPMI_RESULT_NO_DEVICE;
    }
    CQRMIPMICommandData command(commandData);
    QRMIPMISession* session = QRMIPMISessionHandler::GetInstance()->GetSession();
    const QRMIPMIResult result = session->ProcessCommand(command);
    QRMLOG(QRM_LOG_INFO, "QRMIPMIInterfaceImpl::IPMIRequest() Leaving");
    return result;
}

bool QRMIPMIInterfaceImpl::Release()
{
    QRMLOG(QRM_LOG_INFO, "QRMIPMIInterfaceImpl::Release() Entering");
    QRMIPMISessionHandler::GetInstance()->ReleaseSession();
    return true;
}
