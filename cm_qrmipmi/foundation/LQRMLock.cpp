#include "LQRMLock.h"

QRMLock::QRMLock()
{
    pthread_mutex_init(&mMutex, nullptr);
}

QRMLock::~QRMLock()
{
    pthread_mutex_destroy(&mMutex);
}

bool QRMLock::Lock()
{
    pthread_mutex_lock(&mMutex);
    return true;
}

bool QRMLock::Unlock()
{
    pthread_mutex_unlock(&mMutex);
    return true;
}
