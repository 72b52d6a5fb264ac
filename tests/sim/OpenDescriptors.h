#ifndef TESTS_SIM_OPENDESCRIPTORS_H
#define TESTS_SIM_OPENDESCRIPTORS_H

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

// The descriptors of this process that are open on `path` (as
// /proc/self/fd names their targets).
inline std::vector<int> DescriptorsOpenOn(const std::string& path)
{
    std::vector<int> found;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return found;
    const int own = dirfd(dir);
    while (struct dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const int fd = std::atoi(entry->d_name);
        if (fd == own)
            continue;
        char target[4096];
        ssize_t length = readlinkat(own, entry->d_name, target, sizeof(target) - 1);
        if (length <= 0)
            continue;
        if (std::string(target, static_cast<size_t>(length)) == path)
            found.push_back(fd);
    }
    closedir(dir);
    return found;
}

inline bool IsCloseOnExec(int fd)
{
    const int flags = fcntl(fd, F_GETFD);
    return flags >= 0 && (flags & FD_CLOEXEC) != 0;
}

#endif
