#include "SecureTessa.h"

// Placeholders until the staging queue lands.
bool secureTessa::AddFile(std::string, std::string, exmlMode, digestType) { return false; }
bool secureTessa::AddFile(std::string, std::string, bool) { return false; }
int GetPartNum(std::string) { return 0; }
