#ifndef CM_KOLT_UPDROLLBACKWRAPPER_H
#define CM_KOLT_UPDROLLBACKWRAPPER_H

#include "SecureTessa.h"

// The managed-storage client with the rollback staging operations added.
// Construction makes the client ready for managed-storage work; a client
// that cannot be made ready makes the constructor throw its KOLT error
// number as unsigned char.
class UpdRollbackWrapper : public secureTessa {
public:
    UpdRollbackWrapper();
    virtual ~UpdRollbackWrapper();

private:
    UpdRollbackWrapper(const UpdRollbackWrapper&) = delete;
    UpdRollbackWrapper& operator=(const UpdRollbackWrapper&) = delete;
};

#endif
