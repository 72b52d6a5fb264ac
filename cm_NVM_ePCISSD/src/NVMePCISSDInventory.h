#ifndef CM_NVM_EPCISSD_NVMEPCISSDINVENTORY_H
#define CM_NVM_EPCISSD_NVMEPCISSDINVENTORY_H

#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "IDeviceInventory.h"

class NVMEZAGOLinuxAdapter;

class CNVMePCISSDInventory : public IDeviceInventory {
public:
    explicit CNVMePCISSDInventory(const std::string& outputFileName);
    virtual ~CNVMePCISSDInventory();

    std::vector<CDeviceInfo*> GetInventory() override;
    void getDeviceInventory();

private:
    CNVMePCISSDInventory(const CNVMePCISSDInventory&) = delete;
    CNVMePCISSDInventory& operator=(const CNVMePCISSDInventory&) = delete;

    NVMEZAGOLinuxAdapter* m_pAdapter;
    std::vector<CDeviceInfo*> m_devices;
    std::string m_outputFileName;
};

#endif
