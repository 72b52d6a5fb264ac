#ifndef CM_QRMIPMI_FOUNDATION_QRMLOGGER_H
#define CM_QRMIPMI_FOUNDATION_QRMLOGGER_H

#include <cstdio>

#include "LQRMLock.h"
#include "QRMFile.h"
#include "QRMString.h"

// Log levels; indexes into the level-name table.
enum {
    QRM_LOG_NONE = 0,
    QRM_LOG_FATAL = 1,
    QRM_LOG_ERROR = 2,
    QRM_LOG_WARN = 3,
    QRM_LOG_INFO = 4,
    QRM_LOG_TRACE = 5,
    QRM_LOG_DEBUG = 6
};

// Settings the library logger is opened with.
class QRMLoggingOptions {
public:
    QRMLoggingOptions();

    QRMString GetApplicationName() const;
    bool SetApplicationName(const QRMString& name);
    bool SetNumberOfSupportedLevels(int levels);
    bool SetNumberOfLevelsToShowInUserLog(int levels);
    bool SetUserLogFile(const QRMFile& file);
    bool SetInternalLogFile(const QRMFile& file);

    int NumberOfSupportedLevels() const;
    int NumberOfLevelsToShowInUserLog() const;
    QRMFile GetUserLogFile() const;
    QRMFile GetInternalLogFile() const;

private:
    QRMString mApplicationName;
    int mNumberOfSupportedLevels;
    int mNumberOfLevelsToShowInUserLog;
    QRMFile mUserLogFile;
    QRMFile mInternalLogFile;
};

// The IPMI library's own two log files: the internal log receives every
// line, the user log only the selected levels. Every call is a no-op until
// Initialize has opened both files.
class QRMLogger {
public:
    static QRMLock& GetLockObject();
    static bool Initialize(const QRMLoggingOptions& options);
    static bool Log(const QRMString& operation, const QRMString& sourceFile,
                    long long line, int level, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
    static bool Terminate();

    static FILE* mUserLogFile;
    static FILE* mInternalLogFile;
    static QRMLoggingOptions mOptions;
};

// Each library unit defines QRM_LOG_UNIT as its source path without
// extension (e.g. "cm_qrmipmi/src/QRMIPMISession") before logging with
//   QRMLOG(QRM_LOG_INFO, "format", args...);
#define QRMLOG(level, ...)                                                     \
    QRMLogger::Log(QRMString(__FUNCTION__,                                     \
                             QRMString::QRM_ENCODING_UTF8),  \
                   QRMString(QRM_LOG_UNIT,                                     \
                             QRMString::QRM_ENCODING_UTF8),  \
                   __LINE__, (level), __VA_ARGS__)

#endif
