#ifndef CM_QRMIPMI_FOUNDATION_LQRMLOCK_H
#define CM_QRMIPMI_FOUNDATION_LQRMLOCK_H

#include <pthread.h>

// The library's mutex. Not recursive: no path may take the same lock twice.
// Errors of the mutex calls are deliberately not reported.
class QRMLock {
public:
    QRMLock();
    ~QRMLock();

    bool Lock();
    bool Unlock();

private:
    QRMLock(const QRMLock&) = delete;
    QRMLock& operator=(const QRMLock&) = delete;

    pthread_mutex_t mMutex;
};

// Holds a QRMLock for the rest of a scope.
class QRMLockGuard {
public:
    explicit QRMLockGuard(QRMLock& lock) : mLock(lock) { mLock.Lock(); }
    ~QRMLockGuard() { mLock.Unlock(); }

private:
    QRMLockGuard(const QRMLockGuard&) = delete;
    QRMLockGuard& operator=(const QRMLockGuard&) = delete;

    QRMLock& mLock;
};

#endif
