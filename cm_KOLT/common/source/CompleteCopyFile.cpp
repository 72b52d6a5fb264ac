#include "SecureTessa.h"

// Placeholders until the drop-box copy lands.
const char* updFileName = "update.xml";
const char* updFileNameWaveCPlus = "input_secupd.xml";
const uint64_t eps = 1048576;
void AddCfgHdr(std::ostringstream*) {}
bool AddCfgEntry(std::ostringstream*, cfgEntry, bool) { return false; }
int doCopy(std::string, std::string, std::string, exmlMode) { return -1; }
bool secureTessa::populateDynPart(std::string, std::ostringstream*, unsigned long&, unsigned long) { return false; }
bool secureTessa::populateDynPartWaveCPlus(std::string, std::ostringstream*, unsigned long&, unsigned long)
{
    return false;
}
void secureTessa::CalculateAndAdjustPayloadSize(unsigned int&) {}
bool secureTessa::CompleteCopyFileWaveCPlus(digestType) { return false; }
bool secureTessa::CompleteCopyFile() { return false; }
