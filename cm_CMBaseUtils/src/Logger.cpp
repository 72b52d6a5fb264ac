#include "Logger.h"

#include <fcntl.h>

#include <cstring>
#include <ctime>
#include <iomanip>

const std::string strEnableLogFileName = "zordebuglog";
const std::string strBaseUtilsLogFileName = "baseutils.log";

CLogger* CLogger::m_ptrInstance = nullptr;

CLogger::CLogger() : m_fileName("debug.log"), m_isOpen(false) {}

CLogger::~CLogger() {}

CLogger* CLogger::GetInstance()
{
    if (m_ptrInstance == nullptr)
        m_ptrInstance = new CLogger();
    return m_ptrInstance;
}

bool CLogger::Initialize(const std::string& fileName)
{
    // The first log that opens stays the log of the run: a later request
    // (e.g. the package reader's own log name) must neither switch nor
    // truncate it.
    if (m_isOpen)
        return true;
    m_fileName = fileName;
    // The log lies in a working directory others may write to and the run
    // is root's: a link planted at its name must not make it empty or fill
    // another file, and the shell commands of the run must not inherit it.
    // Every line is appended at the end of the file.
    int fd = m_fileName.empty() ? -1 : OpenRegularFileForWriting(m_fileName, true);
    if (fd < 0)
        return false;
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags | O_APPEND);
    m_logFile = CUniqueFd(fd);
    m_isOpen = true;
    return true;
}

bool CLogger::CloseHandle()
{
    // Closed is closed: log() stays silent and a later Initialize opens a
    // log again instead of reporting the closed one as open.
    m_isOpen = false;
    return m_logFile.close();
}

std::string CLogger::getFileName(const std::string& path)
{
    std::string::size_type pos = path.rfind('/');
    if (pos == std::string::npos)
        return path;
    return path.substr(pos + 1);
}

std::string FormatLogTimeStamp()
{
    char stamp[80];
    std::memset(stamp, 0, sizeof(stamp));
    std::time_t now = std::time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) != nullptr)
        std::strftime(stamp, sizeof(stamp) - 1, "[%Y-%m-%dT%H:%M:%S] ", &local);
    return stamp;
}

void CLogger::writeLine(const char* sourcePath, unsigned int line, const std::string& message)
{
    const std::string stamp = FormatLogTimeStamp();
    std::string name = getFileName(sourcePath ? sourcePath : "");
    std::ostringstream text;
    text << stamp << ": " << std::setw(25) << std::right << name << ":" << std::setw(5) << std::right << line << ": "
         << message << "\n";
    // One write per line: nothing waits in a buffer when the process ends.
    // After CloseHandle there is no descriptor, and a number reused by a
    // later open must not receive log lines.
    if (m_logFile.valid()) {
        const std::string whole = text.str();
        WriteFully(m_logFile.get(), whole.data(), whole.size());
    }
}

void CLogger::log(const char* sourcePath, unsigned int line, const std::string& message)
{
    if (!m_isOpen)
        return;
    writeLine(sourcePath, line, message);
}

void CLogger::log(const char* sourcePath, unsigned int line, std::ostringstream& message)
{
    // With logging off the stream keeps its text on purpose: the caller's
    // accumulated message goes out with the first call once logging is on.
    if (!m_isOpen)
        return;
    writeLine(sourcePath, line, message.str());
    message.str("");
    message.clear();
}
