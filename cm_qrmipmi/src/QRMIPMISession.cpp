#define QRM_LOG_UNIT "cm_qrmipmi/src/QRMIPMISession"

#include "QRMIPMISession.h"

#include "QRMIPMISessionHandler.h"
#include "QRMLogger.h"

namespace {
const QRMString::QRMCharEncodingType kUTF8 = QRMString::QRM_ENCODING_UTF8;
} // namespace

QRMIPMIXMLConfig QRMIPMISession::mIPMIXMLConfig(QRMString("QRMIPMIConfig.xml", kUTF8));

QRMIPMISession::QRMIPMISession()
    : mProcessor(nullptr),
      mInitialized(false),
      mConfiguredFromFile(false),
      mConfiguration(new _QRMIPMIConfiguration())
{
    QRMLOG(QRM_LOG_INFO, "QRMIPMISession::QRMIPMISession() Entering");
    QRMLOG(QRM_LOG_INFO, "QRMIPMISession::QRMIPMISession() Leaving");
}

QRMIPMISession::~QRMIPMISession()
{
    QRMLOG(QRM_LOG_INFO, "QRMIPMISession::~QRMIPMISession() Entering");
    // A session dropped without Release (registry clean-up) must not leave
    // its IPMI device open for the rest of the process.
    delete mProcessor;
    mProcessor = nullptr;
    delete mConfiguration;
    mConfiguration = nullptr;
    QRMLOG(QRM_LOG_INFO, "QRMIPMISession::~QRMIPMISession() Leaving");
}

bool QRMIPMISession::Initialize(const _QRMIPMIConfiguration* configuration)
{
    QRMLOG(QRM_LOG_INFO, "QRMIPMISession::Initialize() Entering");
    if (!mInitialized) {
        mProcessor = IPMICommandProcessorCreator::Create();
        if (mProcessor == nullptr) {
            return false;
        }
        const _QRMIPMIConfiguration* defaults =
            QRMIPMISessionHandler::GetInstance()->GetApplicationDefaultConfiguration();
        mConfiguration->PollInterval = defaults->PollInterval;
        mConfiguration->PollCount = defaults->PollCount;
        mConfiguration->RetryCount = defaults->RetryCount;
        mConfiguration->RetryInterval = defaults->RetryInterval;

        if (!mIPMIXMLConfig.Initialize() || !InitializeFromFile()) {
            QRMLOG(QRM_LOG_INFO, "Config couldn't be initialized from configuration file");
            mConfiguredFromFile = false;
            if (configuration != nullptr) {
                *mConfiguration = *configuration;
            }
        }
        mInitialized = true;
    }
    QRMLOG(QRM_LOG_INFO, "QRMIPMISession::Initialize() Leaving");
    return true;
}

bool QRMIPMISession::InitializeFromFile()
{
    // Every setting becomes an unsigned 32-bit field: a negative number would
    // turn into billions of retries or a sleep of weeks. A value outside its
    // range is ignored and the field keeps what it held. A retry count of 0
    // would never wait for an answer at all.
    struct {
        const char* key;
        uint32_t* field;
        int lowest;
        int highest;
    } const keys[] = {
        {"RetryCount", &mConfiguration->RetryCount, kLowestRetryCount, kHighestRetryCount},
        {"PollingInterval", &mConfiguration->PollInterval, 0, kHighestInterval},
        {"PollingCount", &mConfiguration->PollCount, 0, kHighestPollCount},
        {"RetryInterval", &mConfiguration->RetryInterval, 0, kHighestInterval},
    };
    for (const auto& entry : keys) {
        int value = 0;
        if (!mIPMIXMLConfig.GetConfigInt(QRMString(entry.key, kUTF8), &value)) {
            continue;
        }
        if (value < entry.lowest || value > entry.highest) {
            QRMLOG(QRM_LOG_ERROR, "%s %d in the configuration file is outside %d..%d, keeping %u",
                   entry.key, value, entry.lowest, entry.highest, static_cast<unsigned int>(*entry.field));
            continue;
        }
        *entry.field = static_cast<uint32_t>(value);
    }
    mConfiguredFromFile = true;
    return true;
}

QRMIPMIResult QRMIPMISession::ProcessCommand(CQRMIPMICommandData& command)
{
    QRMLOG(QRM_LOG_INFO, "QRMIPMISession::ProcessCommand() Entering");
    if (!mInitialized) {
        Initialize(nullptr);
    }
    if (mProcessor == nullptr) {
        return QRMIPMI_RESULT_NO_DEVICE;
    }
    // Settings from the file win over the caller's; otherwise the caller's
    // own settings steer the retries when it attached any.
    if (mConfiguredFromFile || command.GetConfigurationData() == nullptr) {
        command.SetConfigurationData(mConfiguration);
    }
    const QRMIPMIResult result = mProcessor->ExecuteCommand(command);
    QRMLOG(QRM_LOG_INFO, "QRMIPMISession::ProcessCommand() Leaving");
    return result;
}

bool QRMIPMISession::Release()
{
    QRMLOG(QRM_LOG_INFO, "QRMIPMISession::Release() Entering");
    delete mProcessor;
    mProcessor = nullptr;
    delete mConfiguration;
    mConfiguration = nullptr;
    QRMLOG(QRM_LOG_INFO, "QRMIPMISession::Release() Leaving");
    return true;
}

void QRMIPMISession::SetConfigurationFileName(QRMString fileName)
{
    mIPMIXMLConfig.SetConfigurationFileName(fileName);
}
