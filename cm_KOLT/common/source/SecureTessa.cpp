#include "SecureTessa.h"

#include <sys/stat.h>

#include "Logger.h"
#include "QRMIPMIInterfaceImpl.h"

std::ofstream LogFile;
const char* LogFilePath = "KOLT_DBG.log";
bool bTessaDebugLog = false;

QRMIPMIInterfaceImpl* pQRMIPMILibHandle = nullptr;
int GenerationType = -1;
unsigned short dynHandleIdx = 0;
bool BenchFlag = false;

std::string getFileName(const std::string& path)
{
    return CLogger::GetInstance()->getFileName(path);
}

void logTessaMsg(const char* sourceFile, unsigned int line, std::string message)
{
    if (!bTessaDebugLog)
        return;
    LogFile << FormatLogTimeStamp() << ": " << getFileName(sourceFile ? sourceFile : "") << ":" << line
            << ": " << message << "\n";
    LogFile.flush();
}

namespace {

bool fileExists(const char* name)
{
    struct stat info;
    return stat(name, &info) == 0;
}

// The first client that finds the marker file starts the log; it stays
// open, and later clients append to it, until a client is destroyed.
void startDebugLog()
{
    if (bTessaDebugLog || !fileExists(strEnableLogFileName.c_str()))
        return;
    LogFile.open(LogFilePath, std::ios::out | std::ios::app);
    bTessaDebugLog = true;
    TESSA_LOG("Debug message logging started.");
}

void stopDebugLog()
{
    if (!bTessaDebugLog)
        return;
    LogFile.close();
    LogFile.clear();
    bTessaDebugLog = false;
}

} // namespace

secureTessa::secureTessa()
    : addFileErrorClass(0),
      session(),
      cfgEntries(),
      l_state(0),
      koltError(0),
      // Read before any query wrote them otherwise: start from nothing.
      accessState(0),
      tessaType(4),
      entryCounter(0),
      currentDropBox(),
      hostOsIndex(-1),
      restartFlag(0),
      nFileSetupDone(0),
      componentId(),
      maxDropBoxBytes(0),
      freshInstall(0),
      halWasRunning(0),
      ready(0),
      installedRuleFiles()
{
    dynHandleIdx = 0;
    startDebugLog();
    if (fileExists("benchtest"))
        BenchFlag = true;
    freshInstall = 0;
    addFileErrorClass = 1;
}

secureTessa::~secureTessa()
{
    cfgEntries.clear();
    session = sessionHandle();
    stopDebugLog();
}

void secureTessa::storeErrorInfo(unsigned char error)
{
    koltError = error;
}

unsigned char secureTessa::getKOLTError()
{
    return koltError;
}

unsigned short secureTessa::swapBytes(unsigned short value)
{
    return static_cast<unsigned short>(((value & 0xFF) << 8) | (value >> 8));
}

int secureTessa::regPowerCycle()
{
    // The state-flag hand-over is not wired up yet: the flag is not set,
    // and saying so keeps callers from relying on it.
    return -1;
}
