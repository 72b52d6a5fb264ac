#include "SecureTessa.h"

// Placeholder until the copy transaction lands.
bool secureTessa::EndCopyFile() { return false; }
