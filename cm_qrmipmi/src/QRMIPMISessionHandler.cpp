#define QRM_LOG_UNIT "cm_qrmipmi/src/QRMIPMISessionHandler"

#include "QRMIPMISessionHandler.h"

#include <pthread.h>

#include "QRMLogger.h"

QRMIPMISessionHandler* QRMIPMISessionHandler::mIPMISessionHandlerInstance = nullptr;

QRMLock& QRMIPMISessionHandler::GetLockObject()
{
    // Never destroyed: the registry may be torn down from static destructors.
    static QRMLock* sessionHandlerLock = new QRMLock();
    return *sessionHandlerLock;
}

QRMIPMISessionHandler* QRMIPMISessionHandler::GetInstance()
{
    QRMLockGuard guard(GetLockObject());
    if (mIPMISessionHandlerInstance == nullptr) {
        mIPMISessionHandlerInstance = new QRMIPMISessionHandler();
    }
    return mIPMISessionHandlerInstance;
}

void QRMIPMISessionHandler::DestroyInstance()
{
    QRMLockGuard guard(GetLockObject());
    if (mIPMISessionHandlerInstance != nullptr) {
        delete mIPMISessionHandlerInstance;
        mIPMISessionHandlerInstance = nullptr;
    }
}

QRMIPMISessionHandler::QRMIPMISessionHandler() : mSessions(), mApplicationDefault()
{
    QRMLOG(QRM_LOG_INFO, "QRMIPMISessionHandler::QRMIPMISessionHandler() Entering");
    mApplicationDefault.PollInterval = 60;
    mApplicationDefault.PollCount = 5;
    mApplicationDefault.RetryCount = 5;
    mApplicationDefault.RetryInterval = 50;
    mApplicationDefault.PollingByte = 0;
    mApplicationDefault.PollingStatus = 0;
    QRMLOG(QRM_LOG_INFO, "QRMIPMISessionHandler::QRMIPMISessionHandler() Leaving");
}

QRMIPMISessionHandler::~QRMIPMISessionHandler()
{
    QRMLOG(QRM_LOG_INFO, "QRMIPMISessionHandler::~QRMIPMISessionHandler() Entering");
    Cleanup();
    QRMLOG(QRM_LOG_INFO, "QRMIPMISessionHandler::~QRMIPMISessionHandler() Leaving");
}

void QRMIPMISessionHandler::SetApplicationDefaultConfiguration(const _QRMIPMIConfiguration* configuration)
{
    if (configuration != nullptr) {
        mApplicationDefault = *configuration;
    }
}

const _QRMIPMIConfiguration* QRMIPMISessionHandler::GetApplicationDefaultConfiguration() const
{
    return &mApplicationDefault;
}

uint64_t QRMIPMISessionHandler::GetSessionID()
{
    QRMLOG(QRM_LOG_INFO, "QRMIPMISessionHandler::GetSessionID() Entering");
    const uint64_t key = static_cast<uint64_t>(pthread_self());
    QRMLOG(QRM_LOG_INFO, "QRMIPMISessionHandler::GetSessionID() Leaving");
    return key;
}

QRMIPMISession* QRMIPMISessionHandler::GetSession()
{
    QRMLOG(QRM_LOG_INFO, "QRMIPMISessionHandler::GetSession() Entering");
    const uint64_t key = GetSessionID();
    QRMLockGuard guard(GetLockObject());
    auto found = mSessions.find(key);
    if (found != mSessions.end()) {
        return found->second;
    }
    QRMLOG(QRM_LOG_INFO, "Creating session object for session ID = %lu", static_cast<unsigned long>(key));
    QRMIPMISession* session = new QRMIPMISession();
    mSessions[key] = session;
    return session;
}

bool QRMIPMISessionHandler::ReleaseSession()
{
    const uint64_t key = GetSessionID();
    QRMLockGuard guard(GetLockObject());
    auto found = mSessions.find(key);
    if (found != mSessions.end()) {
        QRMIPMISession* session = found->second;
        mSessions.erase(found);
        session->Release();
        delete session;
    }
    return true;
}

// Runs with sessionHandlerLock already held (from DestroyInstance).
bool QRMIPMISessionHandler::Cleanup()
{
    QRMLOG(QRM_LOG_INFO, "QRMIPMISessionHandler::Cleanup() Entering");
    while (!mSessions.empty()) {
        auto first = mSessions.begin();
        QRMIPMISession* session = first->second;
        mSessions.erase(first);
        delete session;
    }
    QRMLOG(QRM_LOG_INFO, "QRMIPMISessionHandler::Cleanup() Leaving");
    return true;
}
