#ifndef CM_NVM_EPCISSD_IDEVICEINVENTORY_H
#define CM_NVM_EPCISSD_IDEVICEINVENTORY_H

#include <vector>

#include "DeviceInfo.h"

class IDeviceInventory {
public:
    virtual ~IDeviceInventory() {}
    // The records stay owned by the front end; the caller gets a copy of
    // the pointers only.
    virtual std::vector<CDeviceInfo*> GetInventory() = 0;
};

#endif
