#include "SecureTessa.h"

// Placeholders until the digest hand-over lands.
bool secureTessa::SecureTessaCopy(sessionHandle, std::string, unsigned short) { return false; }
bool secureTessa::SecureTessaCopyWaveCPlus(sessionHandle, std::string, digestType) { return false; }
bool secureTessa::SendHashPart(sessionHandle, std::string) { return false; }
