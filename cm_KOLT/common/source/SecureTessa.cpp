#include "SecureTessa.h"

// This build carries no managed-storage client yet: nothing is opened, so
// there is nothing to release either.
secureTessa::secureTessa() {}

secureTessa::~secureTessa() {}

int secureTessa::regPowerCycle()
{
    // Without a client no request reaches the management controller, so the
    // flag is not set; saying so keeps callers from relying on it.
    return -1;
}
