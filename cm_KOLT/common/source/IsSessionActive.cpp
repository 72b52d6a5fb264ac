#include "SecureTessa.h"

bool secureTessa::IsSessionActive()
{
    if (session.active == 0) {
        storeErrorInfo(KOLT_NOSESSION);
        return false;
    }
    return true;
}
