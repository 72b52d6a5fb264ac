#include "SecureTessa.h"

bool secureTessa::EndCopyFile()
{
    l_state = 0;
    return true;
}
