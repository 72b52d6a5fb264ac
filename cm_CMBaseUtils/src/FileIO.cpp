#include "FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CUniqueFd::~CUniqueFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

CUniqueFd& CUniqueFd::operator=(CUniqueFd&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

int CUniqueFd::release()
{
    int fd = m_fd;
    m_fd = -1;
    return fd;
}

bool CUniqueFd::close()
{
    if (m_fd < 0)
        return true;
    int fd = release();
    // Linux releases the descriptor even when close reports EINTR: never
    // close it twice.
    return ::close(fd) == 0;
}

namespace {

// O_NONBLOCK keeps the open of a FIFO without a peer from hanging; it is
// taken off again once the file is known to be a regular one.
int openChecked(const std::string& path, int flags, bool refuseLinkedFile)
{
    CUniqueFd fd(::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666));
    if (!fd.valid())
        return -1;
    struct stat info;
    if (fstat(fd.get(), &info) != 0)
        return -1;
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    if (refuseLinkedFile && info.st_nlink > 1) {
        errno = EMLINK;
        return -1;
    }
    int status = fcntl(fd.get(), F_GETFL);
    if (status < 0 || fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0)
        return -1;
    return fd.release();
}

} // namespace

int OpenRegularFileForReading(const std::string& path)
{
    return openChecked(path, O_RDONLY, false);
}

int OpenRegularFileForWriting(const std::string& path, bool truncate)
{
    // A hard link planted at the name is as much a way into a foreign file
    // as a symbolic one.
    CUniqueFd fd(openChecked(path, O_WRONLY | O_CREAT | O_NOFOLLOW, true));
    if (!fd.valid())
        return -1;
    if (truncate && ftruncate(fd.get(), 0) != 0)
        return -1;
    return fd.release();
}

size_t ReadFully(int fd, void* buffer, size_t size)
{
    unsigned char* next = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    errno = 0;
    while (done < size) {
        ssize_t got = ::read(fd, next + done, size - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (got == 0) {
            errno = 0;
            break;
        }
        done += static_cast<size_t>(got);
    }
    return done;
}

bool WriteFully(int fd, const void* buffer, size_t size)
{
    const unsigned char* next = static_cast<const unsigned char*>(buffer);
    size_t done = 0;
    while (done < size) {
        ssize_t put = ::write(fd, next + done, size - done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (put == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

std::string ErrnoText(const std::string& what)
{
    int error = errno;
    return what + " failed: " + std::strerror(error) + " (errno " + std::to_string(error) + ")";
}
