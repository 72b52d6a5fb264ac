#include "SecureTessa.h"

// Placeholders until the stage-and-update protocol lands.
bool secureTessa::checkIfWaveCPlusIPMISupported() { return false; }
int secureTessa::QuerySupportedSecurtyMethod() { return DIGEST_MD5; }
int secureTessa::pollForVCStatus() { return -1; }
int secureTessa::pollForStatus() { return -1; }
bool secureTessa::sendIPMICommandToStageAndUpdate(bool, digestType) { return false; }
bool secureTessa::StagevACResetRequestSIPMI() { return false; }
