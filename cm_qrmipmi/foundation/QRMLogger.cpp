#include "QRMLogger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "QRMTime.h"

FILE* QRMLogger::mUserLogFile = nullptr;
FILE* QRMLogger::mInternalLogFile = nullptr;
QRMLoggingOptions QRMLogger::mOptions;

namespace {

const char* const levels[] = {"NONE", "FATAL", "ERROR", "WARN", "INFO", "TRACE", "DEBUG"};
const int kLevelCount = static_cast<int>(sizeof(levels) / sizeof(levels[0]));

const char* LevelName(int level)
{
    // The table is indexed by the level; a stray value must not read past it.
    return (level >= 0 && level < kLevelCount) ? levels[level] : "";
}

// Opens a log for appending, creating it when missing. The library runs as
// root in a working directory others may write to: a symbolic link planted
// at the name is not followed, nothing but a regular file is taken (opened
// without blocking, so a pipe cannot hold the open), nothing is cut, and the
// descriptor is not handed to the commands the tool runs.
FILE* OpenLogFile(const QRMFile& file, bool& ok)
{
    const std::string path = file.GetPath().GetUTF8String();
    FILE* handle = nullptr;
    const int fd =
        open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat info;
    if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        handle = fdopen(fd, "a+");
    }
    if (handle == nullptr) {
        if (fd >= 0) {
            close(fd);
        }
        fprintf(stderr, "Error in %s opening user log file: %s\n", "Initialize", path.c_str());
        ok = false;
    }
    return handle;
}

bool EndsWithNewline(const char* format)
{
    const size_t length = strlen(format);
    return length > 0 && format[length - 1] == '\n';
}

} // namespace

QRMLoggingOptions::QRMLoggingOptions()
    : mApplicationName(),
      mNumberOfSupportedLevels(0),
      mNumberOfLevelsToShowInUserLog(0),
      mUserLogFile(),
      mInternalLogFile()
{
}

QRMString QRMLoggingOptions::GetApplicationName() const { return mApplicationName; }

bool QRMLoggingOptions::SetApplicationName(const QRMString& name)
{
    mApplicationName = name;
    return true;
}

bool QRMLoggingOptions::SetNumberOfSupportedLevels(int levelCount)
{
    mNumberOfSupportedLevels = levelCount;
    return true;
}

bool QRMLoggingOptions::SetNumberOfLevelsToShowInUserLog(int levelCount)
{
    mNumberOfLevelsToShowInUserLog = levelCount;
    return true;
}

bool QRMLoggingOptions::SetUserLogFile(const QRMFile& file)
{
    mUserLogFile = file;
    return true;
}

bool QRMLoggingOptions::SetInternalLogFile(const QRMFile& file)
{
    mInternalLogFile = file;
    return true;
}

int QRMLoggingOptions::NumberOfSupportedLevels() const { return mNumberOfSupportedLevels; }
int QRMLoggingOptions::NumberOfLevelsToShowInUserLog() const { return mNumberOfLevelsToShowInUserLog; }
QRMFile QRMLoggingOptions::GetUserLogFile() const { return mUserLogFile; }
QRMFile QRMLoggingOptions::GetInternalLogFile() const { return mInternalLogFile; }

QRMLock& QRMLogger::GetLockObject()
{
    // Never destroyed: lines may still be logged from static destructors.
    static QRMLock* loggerLock = new QRMLock();
    return *loggerLock;
}

bool QRMLogger::Initialize(const QRMLoggingOptions& options)
{
    bool ok = true;
    QRMLock& lock = GetLockObject();
    lock.Lock();
    if (mInternalLogFile == nullptr) {
        mInternalLogFile = OpenLogFile(options.GetInternalLogFile(), ok);
    }
    if (mUserLogFile == nullptr && options.NumberOfLevelsToShowInUserLog() != 0) {
        mUserLogFile = OpenLogFile(options.GetUserLogFile(), ok);
    }
    // Copied while still holding the lock: Log reads the options under it.
    mOptions.SetApplicationName(options.GetApplicationName());
    mOptions.SetNumberOfSupportedLevels(options.NumberOfSupportedLevels());
    mOptions.SetNumberOfLevelsToShowInUserLog(options.NumberOfLevelsToShowInUserLog());
    mOptions.SetUserLogFile(options.GetUserLogFile());
    mOptions.SetInternalLogFile(options.GetInternalLogFile());
    lock.Unlock();
    return ok;
}

bool QRMLogger::Log(const QRMString& operation, const QRMString& sourceFile,
                    long long line, int level, const char* format, ...)
{
    QRMLock& lock = GetLockObject();
    lock.Lock();
    if (mUserLogFile != nullptr && mInternalLogFile != nullptr) {
        if (format == nullptr) {
            format = "";
        }
        QRMString date;
        QRMString time;
        QRMTime now(QRMTime::CurrentTime());
        now.DateToString(date, true);
        now.TimeToString(time);

        const std::string app = mOptions.GetApplicationName().GetUTF8String();
        const std::string dateText = date.GetUTF8String();
        const std::string timeText = time.GetUTF8String();
        const std::string op = operation.GetUTF8String();
        const std::string src = sourceFile.GetUTF8String();
        const bool hasNewline = EndsWithNewline(format);
        const char* levelName = LevelName(level);

        fprintf(mInternalLogFile, "%s %-5s : %s %s %-40s() %-30s:%3d ", app.c_str(), levelName,
                dateText.c_str(), timeText.c_str(), op.c_str(), src.c_str(), static_cast<int>(line));
        va_list args;
        va_start(args, format);
        vfprintf(mInternalLogFile, format, args);
        va_end(args);
        if (!hasNewline) {
            fputc('\n', mInternalLogFile);
        }

        const int shown = mOptions.NumberOfLevelsToShowInUserLog();
        if (level <= shown && shown != 0 && ((shown == 5) == (level == 5))) {
            if (level == 5) {
                mUserLogFile = stderr;
            }
            fprintf(mUserLogFile, "%s %-5s : %s %s %-40s() %-30s:%d ", app.c_str(), levelName,
                    dateText.c_str(), timeText.c_str(), op.c_str(), src.c_str(), static_cast<int>(line));
            va_start(args, format);
            vfprintf(mUserLogFile, format, args);
            va_end(args);
            if (!hasNewline) {
                fputc('\n', mUserLogFile);
            }
        }
    }
    lock.Unlock();
    return true;
}

bool QRMLogger::Terminate()
{
    QRMLock& lock = GetLockObject();
    lock.Lock();
    if (mUserLogFile != nullptr && mUserLogFile != stderr) {
        fclose(mUserLogFile);
        mUserLogFile = nullptr;
    }
    if (mInternalLogFile != nullptr) {
        fclose(mInternalLogFile);
        mInternalLogFile = nullptr;
    }
    lock.Unlock();
    return true;
}
