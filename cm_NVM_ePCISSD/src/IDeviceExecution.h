#ifndef CM_NVM_EPCISSD_IDEVICEEXECUTION_H
#define CM_NVM_EPCISSD_IDEVICEEXECUTION_H

#include <vector>

#include "DeviceInfo.h"

class IDeviceExecution {
public:
    virtual ~IDeviceExecution() {}
    // The records stay owned by the front end; the caller gets a copy of
    // the pointers only.
    virtual std::vector<CDeviceInfo*> Update() = 0;
};

#endif
