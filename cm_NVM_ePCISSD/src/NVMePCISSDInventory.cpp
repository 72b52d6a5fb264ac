#include "NVMePCISSDInventory.h"

#include <memory>
#include <new>

#include "InventoryXMLWriter.h"
#include "Logger.h"
#include "NVMECommonUtils.h"
#include "NVMEZAGOLinuxAdapter.h"
#include "SoftwareComponentInfo.h"

#define ZAGO_LOG_UNIT "cm_NVM_ePCISSD/src/NVMePCISSDInventory"

CNVMePCISSDInventory::CNVMePCISSDInventory(const std::string& outputFileName) : m_pAdapter(nullptr)
{
    ZLOG("Entering CNVMePCISSDInventory::CNVMePCISSDInventory()");
    m_pAdapter = new NVMEZAGOLinuxAdapter;
    m_outputFileName = outputFileName;
    ZLOG("Leaving CNVMePCISSDInventory::CNVMePCISSDInventory()");
}

CNVMePCISSDInventory::~CNVMePCISSDInventory()
{
    ZLOG("Entering CNVMePCISSDInventory::~CNVMePCISSDInventory()");
    delete m_pAdapter;
    for (CDeviceInfo* device : m_devices)
        delete device;
    ZLOG("Leaving CNVMePCISSDInventory::~CNVMePCISSDInventory()");
}

void CNVMePCISSDInventory::getDeviceInventory()
{
    ZLOG("Entering CNVMePCISSDInventory::getDeviceInventory()");
    std::vector<CDeviceInfo*> found;
    m_pAdapter->DiscoverZagoCtrlDevices(found);
    m_devices.insert(m_devices.end(), found.begin(), found.end());
    ZLOG("Leaving CNVMePCISSDInventory::GetDeviceInventory()");
}

std::vector<CDeviceInfo*> CNVMePCISSDInventory::GetInventory()
{
    ZLOG("Entering CNVMePCISSDInventory :: GetInventory()");
    getDeviceInventory();
    std::unique_ptr<IDeviceXMLWriter> writer(new (std::nothrow) CInventoryXMLWriter());
    generateXML(writer, m_devices, m_outputFileName);
    ZLOG("Leaving CNVMePCISSDInventory::GetInventory()");
    return m_devices;
}
