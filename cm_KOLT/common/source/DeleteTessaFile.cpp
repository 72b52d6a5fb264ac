#include "SecureTessa.h"

// Placeholder until partition file deletion lands.
bool secureTessa::DeleteTessaFile(std::string) { return false; }
