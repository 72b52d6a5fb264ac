#ifndef CM_QRMIPMI_TESTS_LIBRARYLOGFILE_H
#define CM_QRMIPMI_TESTS_LIBRARYLOGFILE_H

// Test-only: the library's log opened in a temporary directory of its own.

#include <cstdio>
#include <string>

#include "QRMLogger.h"
#include "TempDir.h"

// Opens the library log (user and internal file) on construction and
// closes it again on destruction.
class LibraryLog {
public:
    LibraryLog()
    {
        QRMLoggingOptions options;
        options.SetApplicationName(Utf8("QRMIPMILibrary"));
        options.SetNumberOfSupportedLevels(5);
        options.SetNumberOfLevelsToShowInUserLog(5);
        options.SetUserLogFile(QRMFile(Utf8(mDir.file("qrmipmi.log"))));
        options.SetInternalLogFile(QRMFile(Utf8(mDir.file("qrmipmi_internal.log"))));
        QRMLogger::Initialize(options);
    }
    ~LibraryLog() { QRMLogger::Terminate(); }
    LibraryLog(const LibraryLog&) = delete;
    LibraryLog& operator=(const LibraryLog&) = delete;

    // The internal log's text so far.
    std::string Text() const
    {
        fflush(nullptr);
        return mDir.read("qrmipmi_internal.log");
    }

private:
    static QRMString Utf8(const std::string& text) { return QRMString(text.c_str(), QRMString::QRM_ENCODING_UTF8); }

    TempDir mDir;
};

#endif
