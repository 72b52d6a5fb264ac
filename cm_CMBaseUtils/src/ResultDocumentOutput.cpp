#include "ResultDocumentOutput.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <vector>

namespace {

// The standard output delivery: a direct write, flushed so that a failure
// (a full disk, a closed pipe) shows now rather than at exit.
bool writeStandardOutput(const std::string& text)
{
    std::cout << text;
    std::cout.flush();
    if (!std::cout) {
        std::cout.clear();
        return false;
    }
    return true;
}

std::string folderOf(const std::string& path)
{
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return path.substr(0, slash + 1);
}

std::string baseNameOf(const std::string& path)
{
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

CResultDocumentOutput::CResultDocumentOutput() {}

CResultDocumentOutput::~CResultDocumentOutput()
{
    discardTemporary();
}

void CResultDocumentOutput::discardTemporary()
{
    m_file.close();
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
}

bool CResultDocumentOutput::Open(const std::string& fileName, std::string& error)
{
    discardTemporary();
    m_target = fileName;
    m_openError.clear();

    // The name is replaced, never written through: a symbolic link, a
    // folder, a FIFO or a device node there is left alone.
    struct stat info;
    if (lstat(fileName.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) {
            m_openError = "result file " + fileName + " is not a regular file; not replaced";
            error = m_openError;
            return false;
        }
    } else if (errno != ENOENT) {
        m_openError = ErrnoText("looking up result file " + fileName);
        error = m_openError;
        return false;
    }

    std::string pattern = folderOf(fileName) + "." + baseNameOf(fileName) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        m_openError = ErrnoText("creating a temporary file for result file " + fileName);
        error = m_openError;
        return false;
    }
    m_file = CUniqueFd(fd);
    m_temporary = name.data();

    // The permissions a newly created result file has always had.
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0666 & ~mask) != 0) {
        m_openError = ErrnoText("setting the permissions of " + m_temporary);
        error = m_openError;
        discardTemporary();
        return false;
    }
    return true;
}

bool CResultDocumentOutput::Deliver(const std::string& text, std::string& error)
{
    if (m_target.empty()) {
        if (writeStandardOutput(text))
            return true;
        error = "writing the document to standard output failed";
        return false;
    }

    std::string failure = m_openError;
    if (failure.empty() && !m_file.valid())
        failure = "result file " + m_target + " was not prepared";
    if (failure.empty()) {
        const std::string untouched = "; result file " + m_target + " left as it was";
        if (!WriteFully(m_file.get(), text.data(), text.size()))
            failure = ErrnoText("writing " + m_temporary) + untouched;
        else if (fsync(m_file.get()) != 0)
            failure = ErrnoText("flushing " + m_temporary) + untouched;
        else if (!m_file.close())
            failure = ErrnoText("closing " + m_temporary) + untouched;
        else if (rename(m_temporary.c_str(), m_target.c_str()) != 0)
            failure = ErrnoText("renaming " + m_temporary + " to " + m_target) + untouched;
        else
            m_temporary.clear();
    }
    if (failure.empty())
        return true;

    discardTemporary();
    error = failure;
    if (writeStandardOutput(text))
        error += "; the document went to standard output";
    return false;
}
