#include "SecureTessa.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <new>
#include <utility>

#include "LinuxUtils.h"
#include "Logger.h"
#include "PlatformLayer.h"
#include "QRMIPMIInterfaceImpl.h"

CUniqueFd LogFile;
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
    // One write per line: nothing waits in a buffer, and the line lands at
    // the end of the file whoever else appended meanwhile.
    const std::string text = FormatLogTimeStamp() + ": " + getFileName(sourceFile ? sourceFile : "") + ":" +
                             std::to_string(line) + ": " + message + "\n";
    WriteFully(LogFile.get(), text.data(), text.size());
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
    // The working directory may be writable by others and the run is
    // root's: a link or a foreign file planted at the name leaves the log
    // off rather than have lines appended elsewhere.
    CUniqueFd log(OpenRegularFileForWriting(LogFilePath, false));
    if (!log.valid())
        return;
    const int flags = fcntl(log.get(), F_GETFL);
    if (flags < 0 || fcntl(log.get(), F_SETFL, flags | O_APPEND) != 0)
        return;
    LogFile = std::move(log);
    bTessaDebugLog = true;
    TESSA_LOG("Debug message logging started.");
}

const char* const kArbitratorCheckESX = "ps aux | grep -v grep | grep -q vmware-usbarbitrator > /dev/null";
const char* const kArbitratorCheckESXi = "ps | grep -i -q vmware-usbarbitrator  > /dev/null";

// Initialize results of library builds that report them (the library used
// here reports 1 and 257 instead).
const unsigned int kLibraryResultLoadFailed = 273;
const unsigned int kLibraryResultNoDriver = 274;

const int kFirstGenerationWithoutTessaCalls = 6;   // WaveG
const int kSessionAttempts = 36;
const int kSessionRetrySeconds = 2;
const unsigned short kWorkingSessionTimeout = 1200;

const int kRestartSettleSeconds = 60;
const int kRestartRetrySeconds = 10;
const int kRestartWaitAttempts = 24;
const unsigned short kRestartSessionTimeout = 60;

const uint32_t kMaxDropBoxBytesBeforeWaveB = 30408704;   // 29 MiB
const uint32_t kMaxDropBoxBytes = 306184192;             // 292 MiB

uint32_t maxDropBoxBytesFor(int generationType)
{
    return generationType <= 0 ? kMaxDropBoxBytesBeforeWaveB : kMaxDropBoxBytes;
}

std::string lowerHex(unsigned int value)
{
    char text[8];
    std::snprintf(text, sizeof(text), "%x", value & 0xFFu);
    return text;
}

void stopDebugLog()
{
    if (!bTessaDebugLog)
        return;
    LogFile.close();
    bTessaDebugLog = false;
}

// After a requested restart: reset the controller and wait until it takes
// a session again.
void waitForControllerRestart(secureTessa& client)
{
    if (client.tessaType == 2 || client.tessaType == 3) {
        CPlatformLayer::Sleep(kRestartSettleSeconds);
        TESSA_LOG("TESSA Lite/Liter NOT resetting Tomel");
        return;
    }
    rstTomel();
    CPlatformLayer::Sleep(kRestartSettleSeconds);
    for (int attempt = 0; attempt < kRestartWaitAttempts; ++attempt) {
        if (client.BeginTessaSessionExtended(kRestartSessionTimeout)
            || client.BeginTessaSession(kRestartSessionTimeout)) {
            client.EndTessaSession();
            CPlatformLayer::Sleep(kRestartSettleSeconds);
            return;
        }
        CPlatformLayer::Sleep(kRestartRetrySeconds);
    }
    TESSA_LOG("Reboot wait timeout reached");
}

// Identity checks, the working session, and the clean-up of what an earlier
// run left on the controller.
bool openSessionAndCleanUp(secureTessa& client)
{
    client.tessaType = static_cast<uint32_t>(client.GetTessaType());
    if (client.tessaType == 0)
        return false;
    if (!client.IsTessaEnabled()) {
        TESSA_LOG("Tessa is disabled.");
        client.storeErrorInfo(KOLT_TESSADISABLED);
        return false;
    }
    if (client.tessaType < 1 || client.tessaType > 3)
        return false;

    bool open = false;
    for (int attempt = 0; attempt < kSessionAttempts; ++attempt) {
        if (client.BeginTessaSessionExtended(kWorkingSessionTimeout)) {
            open = true;
            break;
        }
        TESSA_LOG("BeginTESSASessionExt Session failed trying with BeginTessaSession");
        if (client.BeginTessaSession(kWorkingSessionTimeout)) {
            open = true;
            break;
        }
        CPlatformLayer::Sleep(kSessionRetrySeconds);
    }
    if (!open) {
        TESSA_LOG("Begin Tessa Session Failed.");
        return false;
    }

    TESSA_LOG("Tessa Session Handle(" + lowerHex(client.session.handle & 0xFF) + ", "
              + lowerHex(client.session.handle >> 8) + ")");
    client.getPartInfo(client.getPartIndexInfo());
    // Whatever an earlier run left exposed is withdrawn first.
    client.DetachAll();
    const unsigned short dynamicWord = client.getDynPartIndexInfo();
    if (dynamicWord != 0) {
        TESSA_LOG("secureTessaInit some dynamic paritions exists.");
        client.deleteDynPartWithName(dynamicWord, dynDriveName);
    } else {
        TESSA_LOG("secureTessaInit dynamic parition doesn't exists.");
    }
    client.ready = 1;
    return true;
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

    try {
        halWasRunning = IsHalDaemonRunning() ? 1 : 0;
        CSignalHandler signalHandler;
        signalHandler.setupSignalHandlers();

        if (!secureTessaInitIPMI()) {
            TESSA_LOG("KOLT Library initialization failed");
            return;
        }
        koltError = KOLT_SUCCESS;
        getLinuxOSVer();
        if (hostOsIndex == -1)
            TESSA_LOG("Unsupported OS");

        // The hypervisor's USB arbitrator would take the exposed partitions
        // away from this host.
        const char* arbitratorCheck = nullptr;
        if (hostOsIndex == ESX || hostOsIndex == ESX4 || hostOsIndex == ESX4_1)
            arbitratorCheck = kArbitratorCheckESX;
        else if (hostOsIndex == ESXi)
            arbitratorCheck = kArbitratorCheckESXi;
        if (arbitratorCheck != nullptr && runCommand(arbitratorCheck) == 0) {
            TESSA_LOG("usbarbitrator serice is running.. please stop it");
            storeErrorInfo(KOLT_USBARBITRATORRUNNING);
            ready = 0;
            return;
        }

        if (!udevhalInstall())
            TESSA_LOG("Udev and Hal Installation failed");
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        ready = 0;
    }
}

secureTessa::~secureTessa()
{
    cfgEntries.clear();
    try {
        // A session marked open is ended even when the controller issued
        // handle 0.
        if ((session.handle != 0 || session.active != 0) && !EndTessaSession())
            TESSA_LOG("EndTessaSession failed");
        session = sessionHandle();

        if (restartFlag != 0)
            waitForControllerRestart(*this);

        ReleaseQRMIPMILibrary();
        const bool uninstalled = udevhalUninstall();
        TESSA_LOG("Udev and Hal udevhalUninstall ");
        if (!uninstalled)
            TESSA_LOG("Udev and Hal Uninstallation failed");
        CPlatformLayer::unloadUSB();
        TESSA_LOG("secureTessa::~secureTessa() after delete m_pNotificationThread ");
        stopDebugLog();
    } catch (const std::bad_alloc&) {
        TESSA_LOG("secureTessa::~secureTessa() caught bad allocation excepton occured ");
    } catch (...) {
        TESSA_LOG("secureTessa::~secureTessa() caught excepton occured ");
    }
}

void secureTessa::setRestart()
{
    restartFlag = 1;
}

bool secureTessa::secureTessaInitIPMI()
{
    ready = 0;
    const unsigned int result = InitQRMIPMILibrary();
    switch (result) {
    case QRMIPMI_RESULT_SUCCESS:
        ready = 1;
        tessaType = static_cast<uint32_t>(GetTessaType());
        return true;
    case kLibraryResultNoDriver:
        TESSA_LOG("IPMI Driver is not installed");
        storeErrorInfo(KOLT_NOIPMIDRIVER);
        return false;
    case kLibraryResultLoadFailed:
        TESSA_LOG("Loading or Intialization of QRM IPMI Library Failed");
        storeErrorInfo(KOLT_IPMILIBLOADFAILED);
        return false;
    default:
        TESSA_LOG("Loading or Intialization of QRM IPMI Library Failed");
        storeErrorInfo(KOLT_IPMILIBINITFAILED);
        return false;
    }
}

bool secureTessa::secureTessaInit()
{
    bool result = false;
    try {
        ready = 0;
        getLinuxOSVer();
        if (hostOsIndex == -1) {
            TESSA_LOG("Unsupported OS");
            return false;
        }

        // Learned once per process; a failed query counts as before WaveB.
        GenerationType = GetSystemGeneration();

        if (GenerationType >= kFirstGenerationWithoutTessaCalls) {
            ready = 1;
            maxDropBoxBytes = maxDropBoxBytesFor(GenerationType);
            TESSA_LOG("INFO - This is >WaveG server. SecureTessa IPMI calls are not supported.");
            TESSA_LOG("Exiting secureTessaInit()");
            return true;
        }

        result = openSessionAndCleanUp(*this);
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        storeErrorInfo(KOLT_INTERNALERROR);
        ready = 0;
        result = false;
    }
    maxDropBoxBytes = maxDropBoxBytesFor(GenerationType);
    return result;
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


