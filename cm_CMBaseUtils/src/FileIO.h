#ifndef CM_CMBASEUTILS_FILEIO_H
#define CM_CMBASEUTILS_FILEIO_H

#include <cstddef>
#include <string>

// File access shared by the units that open files themselves. The tool runs
// as root in a working directory others may write to, and it runs shell
// commands: every descriptor opened here is close-on-exec, a file it creates
// or truncates is never reached through a symbolic link, and only regular
// files are read or truncated (a FIFO would hang the run, a device would be
// read or emptied).

// Owns one descriptor and closes it when it goes away.
class CUniqueFd {
public:
    CUniqueFd() : m_fd(-1) {}
    explicit CUniqueFd(int fd) : m_fd(fd) {}
    ~CUniqueFd();
    CUniqueFd(CUniqueFd&& other) noexcept : m_fd(other.release()) {}
    CUniqueFd& operator=(CUniqueFd&& other) noexcept;
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();
    // Closes now; false (errno set) when close reported an error, which for
    // a written file may be the first sign of a failed write.
    bool close();

private:
    int m_fd;
};

// Opens an existing regular file for reading. -1 with errno set on failure;
// a file that is not a regular one gives EINVAL, a symbolic link is followed.
int OpenRegularFileForReading(const std::string& path);

// Opens `path` for writing, creating it (mode 0666 less the umask) when it
// is missing and emptying it when `truncate` is set. A symbolic link at the
// name gives ELOOP, something else than a regular file EINVAL, and a
// regular file with further hard links EMLINK: none of them is written to.
// -1 with errno set on failure.
int OpenRegularFileForWriting(const std::string& path, bool truncate);

// Reads up to `size` bytes, going on after short reads and interrupted
// calls; a single read(2) moves at most about 2 GiB. Returns how many bytes
// were read: fewer than `size` at end of file (errno 0) or on an error
// (errno set).
size_t ReadFully(int fd, void* buffer, size_t size);

// Writes all `size` bytes, going on after short writes and interrupted
// calls. False with errno set when a write failed (a full disk: ENOSPC).
bool WriteFully(int fd, const void* buffer, size_t size);

// "<what> failed: <strerror text> (errno <n>)" for the current errno.
std::string ErrnoText(const std::string& what);

#endif
