#include "NVMePCISSDUpdate.h"

#include <cstdint>
#include <memory>
#include <new>
#include <sstream>

#include "Logger.h"
#include "NVMECommonUtils.h"
#include "NVMEZAGOLinuxAdapter.h"
#include "PlatformLayer.h"
#include "RollBackPopulator.h"
// Both carry named constants of their subsystems; this unit reads none.
#include "RollbackConstants.h"
#include "SoftwareComponentInfo.h"
#include "UpdRollbackWrapper.h"
#include "UpdateXMLWriter.h"

#define ZAGO_LOG_UNIT "cm_NVM_ePCISSD/src/NVMePCISSDUpdate"

namespace {

// The rollback staging of the product: one managed-storage client per
// hand-over, a populator borrowing it, the populator gone before the client.
class CRollbackStaging : public IRollbackStaging {
public:
    CRollbackStaging() : m_pWrapper(nullptr) {}
    ~CRollbackStaging() override { deleteWrapper(); }

    void createWrapper() override { m_pWrapper = new UpdRollbackWrapper(); }

    int regPowerCycle() override { return m_pWrapper->regPowerCycle(); }

    int populateRollbackPartition(const std::vector<std::string>& payloadFiles) override
    {
        CRollBackPopulator populator(m_pWrapper);
        return populator.PopulateRollbackPartition(payloadFiles);
    }

    void deleteWrapper() override
    {
        delete m_pWrapper;
        m_pWrapper = nullptr;
    }

private:
    UpdRollbackWrapper* m_pWrapper;
};

class CRollbackStagingFactory : public IRollbackStagingFactory {
public:
    IRollbackStaging* createStaging() override { return new CRollbackStaging(); }
};

IRollbackStagingFactory& productionFactory()
{
    // Never destroyed, like the other seams' production implementations.
    static CRollbackStagingFactory* instance = new CRollbackStagingFactory();
    return *instance;
}

} // namespace

IRollbackStagingFactory* CRollbackStagingAccess::m_pFactory = nullptr;

IRollbackStagingFactory* CRollbackStagingAccess::Get()
{
    if (m_pFactory == nullptr)
        m_pFactory = &productionFactory();
    return m_pFactory;
}

IRollbackStagingFactory* CRollbackStagingAccess::SetForTesting(IRollbackStagingFactory* factory)
{
    IRollbackStagingFactory* previous = Get();
    m_pFactory = factory != nullptr ? factory : &productionFactory();
    return previous;
}

CNVMePCISSDUpdate::CNVMePCISSDUpdate(const std::string& outputFileName) : m_pAdapter(nullptr)
{
    ZLOG("Entering CNVMePCISSDUpdate::CNVMePCISSDUpdate()");
    m_pAdapter = new NVMEZAGOLinuxAdapter;
    m_outputFileName = outputFileName;
    ZLOG("Leaving CNVMePCISSDUpdate::CNVMePCISSDUpdate()");
}

CNVMePCISSDUpdate::~CNVMePCISSDUpdate()
{
    ZLOG("Entering CNVMePCISSDUpdate::~CNVMePCISSDUpdate()");
    delete m_pAdapter;
    for (CDeviceInfo* device : m_devices)
        delete device;
    ZLOG("Leaving CNVMePCISSDUpdate::~CNVMePCISSDUpdate()");
}

std::vector<CDeviceInfo*> CNVMePCISSDUpdate::Update()
{
    ZLOG("Entering CNVMePCISSDUpdate::Update");
    updateDevices();
    std::unique_ptr<IDeviceXMLWriter> writer(new (std::nothrow) CUpdateXMLWriter());
    generateXML(writer, m_devices, m_outputFileName);
    ZLOG("Leaving CNVMePCISSDUpdate::Update");
    return m_devices;
}

int CNVMePCISSDUpdate::getPayloadFiles(std::string& payloadPath, std::vector<std::string>& payloadFiles)
{
    payloadPath = CPlatformLayer::getCurrentProcessDirectory() + "payload";
    payloadFiles = CPlatformLayer::GetFileList(payloadPath);
    if (payloadFiles.size() == 1) {
        ZLOG("getPayloadPath: Payload file name is: " + payloadFiles[0]);
        payloadPath = payloadFiles[0];
        return 0;
    }
    ZLOG("getPayloadPath: Zero or more than one payload file found");
    return 1;
}

void CNVMePCISSDUpdate::updateDevices()
{
    ZLOG("Entering CNVMePCISSDUpdate::UpdateDevices()");

    std::string payloadPath;
    std::vector<std::string> payloadFiles;
    if (getPayloadFiles(payloadPath, payloadFiles) != 0) {
        ZLOG("updateDevices(): Payload directory mismatch");
        setErrorDeviceInfo(m_devices, "Payload directory is not proper.");
        return;
    }

    bool flashed = m_pAdapter->UpdateZagoCtrlDevices(payloadPath, m_devices);
    std::ostringstream attached;
    attached << "updateDevices(): Update behind zagoAttached/cpuAttached = " << (flashed ? 1 : 0) << "\n"
             << "updateDevices(): Update behind qandAttached = " << 0 << "\n";
    ZLOG(attached);

    if (flashed) {
        bool coldPowerCycleRequired = false;
        for (CDeviceInfo* device : m_devices) {
            if (device->getColdPowerCycleRequired()) {
                ZLOG("updateDevices(): At lease one NVMe PCISSD disk firmware update requires cold powerCycle.");
                coldPowerCycleRequired = true;
                break;
            }
        }
        ZLOG("updateDevices(): At lease one NVMe PCISSD disk firmware update is successful. Rollback is mandatory now");

        bool powerCycleAccepted = false;
        int result = populateRollbackPartition(payloadFiles, coldPowerCycleRequired, powerCycleAccepted);
        if (result == 0) {
            ZLOG("updateDevices(): Populating the rollback partition is success");
        } else {
            std::ostringstream failed;
            failed << "ERROR: Populating the rollback partition is failed with error code " << std::hex
                   << static_cast<uint32_t>(result);
            ZLOG(failed);
        }
    }

    ZLOG("Leaving CNVMePCISSDUpdate::UpdateDevices()");
}

int CNVMePCISSDUpdate::populateRollbackPartition(std::vector<std::string>& payloadFiles, bool coldPowerCycleRequired,
                                                 bool& powerCycleAccepted)
{
    ZLOG("Entering CNVMePCISSDUpdate::populateRollPartition()");
    powerCycleAccepted = true;

    std::unique_ptr<IRollbackStaging> staging;
    try {
        if (!CPlatformLayer::setCurrentDirectory(CPlatformLayer::getCurrentProcessDirectory())) {
            ZLOG("ERROR: SetCurrentDirectory failed: Unable to set current Directory");
            return -1;
        }

        staging.reset(CRollbackStagingAccess::Get()->createStaging());
        staging->createWrapper();
        if (coldPowerCycleRequired)
            powerCycleAccepted = staging->regPowerCycle() != -1;

        int result = staging->populateRollbackPartition(payloadFiles);
        if (result != 0)
            ZLOG("CNVMePCISSDUpdate::populateRollPartition() pRollBackPopulator.PopulateRollbackPartition failure");

        staging->deleteWrapper();
        ZLOG("Leaving CNVMePCISSDUpdate::populateRollPartition()");
        return result;
    } catch (unsigned char koltError) {
        staging.reset();
        std::ostringstream error;
        error << "Error Code receivie from KOLT is " << static_cast<unsigned int>(koltError);
        ZLOG(error);
        ZLOG("ERROR: Caught exception in CNVMePCISSDUpdate::populateRollPartition()");
        ZLOG("Leaving CNVMePCISSDUpdate::populateRollPartition()");
        return koltError;
    } catch (...) {
        staging.reset();
        ZLOG("ERROR: Caught an unknown exception in CNVMePCISSDUpdate::populateRollPartition()");
        ZLOG("Leaving CNVMePCISSDUpdate::populateRollPartition()");
        return -1;
    }
}

void CNVMePCISSDUpdate::mapErrorCodeToMessage(int errorCode, std::string& message)
{
    if (errorCode == 55)
        message = "Vantorial Controller is disabled on your system.";
    else
        message = "The firmware update failed";
}
