#include "SecureTessa.h"

// Placeholder until the copy transaction lands.
bool secureTessa::StartCopyFile() { return false; }
