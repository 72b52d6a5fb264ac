#ifndef CM_NVM_EPCISSD_NVMEPCISSDUPDATE_H
#define CM_NVM_EPCISSD_NVMEPCISSDUPDATE_H

#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "IDeviceExecution.h"

class NVMEZAGOLinuxAdapter;

// The rollback staging objects talk to the management controller as soon
// as they exist, so the update front end reaches them only through this
// seam. The production implementation builds an UpdRollbackWrapper and runs
// a CRollBackPopulator on it; tests install a recording stand-in.
class IRollbackStaging {
public:
    virtual ~IRollbackStaging() {}
    // Builds the managed-storage client. Throws its KOLT error number as
    // unsigned char when the client cannot be made ready.
    virtual void createWrapper() = 0;
    // The client's power-cycle request: 0 accepted, -1 not.
    virtual int regPowerCycle() = 0;
    // Runs a populator on the client with the payload files; the populator
    // is gone again when this returns. 0 when the rollback copy succeeded.
    virtual int populateRollbackPartition(const std::vector<std::string>& payloadFiles) = 0;
    // Destroys the client, if one was built; never throws. Also done by the
    // destructor.
    virtual void deleteWrapper() = 0;
};

// Builds the rollback staging of one hand-over; the caller owns the result.
class IRollbackStagingFactory {
public:
    virtual ~IRollbackStagingFactory() {}
    virtual IRollbackStaging* createStaging() = 0;
};

// The process-wide way the update front end builds its rollback staging.
class CRollbackStagingAccess {
public:
    static IRollbackStagingFactory* Get();
    // Test seam: installs another factory (not owned) and returns the
    // previous one; null restores the production one.
    static IRollbackStagingFactory* SetForTesting(IRollbackStagingFactory* factory);

private:
    static IRollbackStagingFactory* m_pFactory;
};

// Front end of an update run: flashes the payload folder's one image into
// every supported ZAGO controller, hands a successful update to the
// rollback staging and writes the update document.
class CNVMePCISSDUpdate : public IDeviceExecution {
public:
    explicit CNVMePCISSDUpdate(const std::string& outputFileName);
    virtual ~CNVMePCISSDUpdate();

    std::vector<CDeviceInfo*> Update() override;
    void updateDevices();

    // 0 when the payload folder beside the executable holds exactly one
    // entry; payloadPath is then that entry's full name.
    int getPayloadFiles(std::string& payloadPath, std::vector<std::string>& payloadFiles);

    // Makes the executable's directory the working directory (for the rest
    // of the process) and stages the payload for rollback. 0 on success,
    // otherwise an error number; never throws.
    int populateRollbackPartition(std::vector<std::string>& payloadFiles, bool coldPowerCycleRequired,
                                  bool& powerCycleAccepted);

    void mapErrorCodeToMessage(int errorCode, std::string& message);

private:
    CNVMePCISSDUpdate(const CNVMePCISSDUpdate&) = delete;
    CNVMePCISSDUpdate& operator=(const CNVMePCISSDUpdate&) = delete;

    NVMEZAGOLinuxAdapter* m_pAdapter;
    std::vector<CDeviceInfo*> m_devices;
    std::string m_outputFileName;
};

#endif
