#include "RollBackPopulator.h"

#include <sstream>

#include "Logger.h"
#include "UpdRollbackWrapper.h"

#define ZAGO_LOG_UNIT "cm_BackPlane/src/RollBackPopulator"

CRollBackPopulator::CRollBackPopulator(UpdRollbackWrapper* pUpdRollbackWrapper)
    : m_pUpdateRollBackWrapper(pUpdRollbackWrapper)
{
    ZLOG("CRollBackPopulator::CRollBackPopulator() START");
    if (m_pUpdateRollBackWrapper == nullptr)
        ZLOG("CRollBackPopulator::CRollBackPopulator() pUpdRollbackWrapper is NULL");
    ZLOG("CRollBackPopulator::CRollBackPopulator() END");
}

CRollBackPopulator::~CRollBackPopulator()
{
    ZLOG("CRollBackPopulator::~CRollBackPopulator()");
}

int CRollBackPopulator::PopulateRollbackPartition(const std::vector<std::string>& payloadFiles)
{
    ZLOG("CRollBackPopulator::PopulateRollbackPartition() start");
    if (m_pUpdateRollBackWrapper == nullptr) {
        ZLOG("Update Rollback Wrapper Not initialized: exiting");
        return -1;
    }
    std::ostringstream size;
    size << "CRollBackPopulator::::PopulateRollbackPartition:Populate File Size is : " << payloadFiles.size();
    ZLOG(size);

    // This build has no managed-storage client to stage through. Reporting
    // success here would tell the operator a rollback copy exists when none
    // was made.
    ZLOG("CRollBackPopulator::PopulateRollbackPartition() rollback staging is not available in this build");
    return -1;
}
