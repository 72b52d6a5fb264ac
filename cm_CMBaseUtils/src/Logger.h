#ifndef CM_CMBASEUTILS_LOGGER_H
#define CM_CMBASEUTILS_LOGGER_H

#include <sstream>
#include <string>

#include "FileIO.h"

// Name of the marker file whose presence in the working directory switches
// debug logging on for every subsystem.
extern const std::string strEnableLogFileName;
// Log file the package reader opens when only the marker asks for logging.
extern const std::string strBaseUtilsLogFileName;

// Local time as every debug log writes it at the start of a line:
// "[%Y-%m-%dT%H:%M:%S] " (empty when the local time is unavailable).
std::string FormatLogTimeStamp();

// Process-wide debug log. Silent until Initialize opened a file, so callers
// log unconditionally.
class CLogger {
public:
    static CLogger* GetInstance();

    bool Initialize(const std::string& fileName);
    bool CloseHandle();
    std::string getFileName(const std::string& path);

    void log(const char* sourcePath, unsigned int line, const std::string& message);
    void log(const char* sourcePath, unsigned int line, std::ostringstream& message);

    ~CLogger();

private:
    CLogger();
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;

    void writeLine(const char* sourcePath, unsigned int line, const std::string& message);

    std::string m_fileName;
    CUniqueFd m_logFile;
    bool m_isOpen;

    static CLogger* m_ptrInstance;
};

// Each unit defines ZAGO_LOG_UNIT as its source path without extension
// (e.g. "cm_NVM_ePCISSD/src/NVMePCISSDMain"); only its base name reaches
// the log line.
#define ZLOG(msg) CLogger::GetInstance()->log(ZAGO_LOG_UNIT, __LINE__, (msg))

#endif
