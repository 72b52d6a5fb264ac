#ifndef CM_BACKPLANE_ROLLBACKPOPULATOR_H
#define CM_BACKPLANE_ROLLBACKPOPULATOR_H

#include <string>
#include <vector>

class UpdRollbackWrapper;

// Copies the update package into the management controller's rollback
// area through a wrapper it borrows (never deletes).
class CRollBackPopulator {
public:
    explicit CRollBackPopulator(UpdRollbackWrapper* pUpdRollbackWrapper);
    virtual ~CRollBackPopulator();

    // payloadFiles: full paths of the payload files. 0 when the whole
    // rollback copy succeeded, otherwise a non-zero error number. Never
    // throws.
    int PopulateRollbackPartition(const std::vector<std::string>& payloadFiles);

private:
    CRollBackPopulator(const CRollBackPopulator&) = delete;
    CRollBackPopulator& operator=(const CRollBackPopulator&) = delete;

    UpdRollbackWrapper* m_pUpdateRollBackWrapper;
};

#endif
