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

    int result = -1;
    try {
        ZLOG("CRollBackPopulator:: Calling m_pUpdateRollBackWrapper->doRollbackAndUpdate ");
        // The short failure text is for interactive callers; this one only
        // hands the number on.
        std::string message;
        result = m_pUpdateRollBackWrapper->doRollbackAndUpdate(payloadFiles, nullptr, nullptr, true, message, false,
                                                               false, std::string());
        std::ostringstream done;
        done << "CRollBackPopulator::doRollbackAndUpdate Done succesfully with return code : " << std::hex
             << static_cast<unsigned int>(result);
        ZLOG(done);
    } catch (unsigned char error) {
        std::ostringstream caught;
        caught << "CRollBackPopulator::PopulateRollbackPartition: Got Exception -> "
               << static_cast<unsigned int>(error);
        ZLOG(caught);
        result = error;
    } catch (...) {
        ZLOG("CRollBackPopulator::::PopulateRollbackPartition: UnCatched Exception");
        result = -1;
    }
    ZLOG("CRollBackPopulator::::PopulateRollbackPartition() END");
    return result;
}
