#include "SecureTessa.h"

// Placeholder until copy verification lands.
bool secureTessa::VerifyCopyFiles() { return false; }
