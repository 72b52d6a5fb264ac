#include "SecureTessa.h"

int secureTessa::IsTessaPresent()
{
    return static_cast<int>(tessaType);
}
