#include "HostNamespace.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

const long kOverlayMagic = 0x794c7630; // OVERLAYFS_SUPER_MAGIC

std::string errnoText() { return std::strerror(errno); }

// "a" is "b" or lies below it (whole path components).
bool isWithin(const std::string& a, const std::string& b)
{
    if (b == "/")
        return true;
    return a == b || (a.size() > b.size() && a.compare(0, b.size(), b) == 0 && a[b.size()] == '/');
}

int threadCount()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Threads:", 0) == 0)
            return std::atoi(line.c_str() + 8);
    return -1;
}

// Any mount point at or below `path` in this process's view.
bool anyMountWithin(const std::string& path)
{
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint;
        fields >> id >> parent >> device >> root >> mountPoint;
        if (isWithin(mountPoint, path))
            return true;
    }
    return false;
}

bool hasDotDot(const fs::path& p)
{
    for (const fs::path& part : p)
        if (part == "..")
            return true;
    return false;
}

} // namespace

HostNamespace::HostNamespace()
{
    // Other threads would stay in the host's namespace and see (and write)
    // the real files.
    const int threads = threadCount();
    if (threads != 1)
        fail("HostNamespace: the process runs " + std::to_string(threads) +
             " threads; enter the namespace before starting any");
    m_outerNamespace = open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
    if (m_outerNamespace < 0)
        fail("HostNamespace: cannot open /proc/self/ns/mnt: " + errnoText());
    if (unshare(CLONE_NEWNS) != 0)
        fail("HostNamespace: unshare(CLONE_NEWNS) refused (tests must run as root): " + errnoText());
    // Without this, mounts below a shared mount would propagate back to the
    // host's namespace.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        fail("HostNamespace: cannot make / private: " + errnoText());

    char pattern[] = "/tmp/zagons.XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        fail("HostNamespace: mkdtemp failed: " + errnoText());
    m_scratch = pattern;
}

HostNamespace::~HostNamespace()
{
    bool detached = true;
    if (!m_newRoot.empty()) {
        // Mounts made inside the new root go first, then the old root comes
        // back and the new one goes with everything bound into it.
        for (size_t i = m_mounts.size(); i-- > m_mountsBeforeRoot;)
            if (umount2(m_mounts[i].c_str(), MNT_DETACH) != 0)
                detached = false;
        m_mounts.resize(m_mountsBeforeRoot);
        if (m_outerRoot >= 0) {
            if (fchdir(m_outerRoot) != 0 || chroot(".") != 0)
                detached = false;
            if (m_outerCwd < 0 || fchdir(m_outerCwd) != 0)
                detached = detached && chdir("/") == 0;
        }
        if (umount2(m_newRoot.c_str(), MNT_DETACH) != 0)
            detached = false;
    }
    for (auto it = m_mounts.rbegin(); it != m_mounts.rend(); ++it)
        if (umount2(it->c_str(), MNT_DETACH) != 0)
            detached = false;
    // Bind targets never lie in the scratch folder, so removing it cannot
    // reach through a mount into the host's files; still, leave it in place
    // if anything stayed mounted (the new root binds the host's folders).
    if (!m_scratch.empty() && detached && !anyMountWithin(m_scratch)) {
        std::error_code ec;
        fs::remove_all(m_scratch, ec);
    }
    for (int fd : {m_outerNamespace, m_outerRoot, m_outerCwd})
        if (fd >= 0)
            close(fd);
}

void HostNamespace::fail(const std::string& message) const
{
    ADD_FAILURE() << message;
    throw std::runtime_error(message);
}

std::string HostNamespace::canonicalDirectory(const std::string& directory)
{
    std::error_code ec;
    fs::path canonical = fs::canonical(directory, ec);
    return ec ? std::string() : canonical.string();
}

void HostNamespace::overlay(const std::string& directory)
{
    const fs::path wanted(directory);
    if (!wanted.is_absolute() || hasDotDot(wanted))
        fail("HostNamespace::overlay: not a plain absolute path: " + directory);

    // Nearest existing ancestor, and what is missing below it.
    fs::path existing = wanted.lexically_normal();
    if (existing.has_filename() == false && existing != existing.root_path())
        existing = existing.parent_path();
    std::vector<fs::path> missing;
    std::error_code ec;
    while (!fs::exists(existing, ec) && existing != existing.root_path()) {
        missing.insert(missing.begin(), existing.filename());
        existing = existing.parent_path();
    }
    const std::string target = canonicalDirectory(existing.string());
    if (target.empty() || !fs::is_directory(target))
        fail("HostNamespace::overlay: not a directory: " + existing.string());

    bool writable = false;
    for (const std::string& root : m_writableRoots)
        writable = writable || isWithin(target, root);
    if (!writable) {
        if (target == "/")
            fail("HostNamespace::overlay: would need an overlay of /: " + directory);
        if (isWithin(m_scratch, target))
            fail("HostNamespace::overlay: " + target + " holds the scratch folder");
        if (target.find_first_of(",:\\") != std::string::npos)
            fail("HostNamespace::overlay: unusable in mount options: " + target);

        const std::string layer = m_scratch + "/layer" + std::to_string(m_layers++);
        fs::create_directories(layer + "/upper");
        fs::create_directories(layer + "/work");
        const std::string options = "lowerdir=" + target + ",upperdir=" + layer + "/upper,workdir=" + layer + "/work";
        if (mount("overlay", target.c_str(), "overlay", 0, options.c_str()) != 0)
            fail("HostNamespace::overlay: mounting an overlay on " + target + " failed: " + errnoText());
        m_mounts.push_back(target);
        struct statfs info;
        if (statfs(target.c_str(), &info) != 0 || static_cast<long>(info.f_type) != kOverlayMagic)
            fail("HostNamespace::overlay: " + target + " is not an overlay after mounting");
        m_writableRoots.push_back(target);
    }

    fs::path created(target);
    for (const fs::path& part : missing)
        created /= part;
    if (!missing.empty())
        makeDirectory(created.string());
}

void HostNamespace::bind(const std::string& source, const std::string& target)
{
    if (!fs::path(target).is_absolute())
        fail("HostNamespace::bind: target is not absolute: " + target);
    struct stat sourceInfo;
    struct stat targetInfo;
    if (stat(source.c_str(), &sourceInfo) != 0)
        fail("HostNamespace::bind: no source " + source);
    if (stat(target.c_str(), &targetInfo) != 0)
        fail("HostNamespace::bind: no target " + target + " (bind needs an existing path; see overlay)");
    if (S_ISDIR(sourceInfo.st_mode) != S_ISDIR(targetInfo.st_mode))
        fail("HostNamespace::bind: " + source + " and " + target + " are not both folders or both files");
    const std::string canonicalTarget = canonicalDirectory(target);
    const std::string canonicalSource = canonicalDirectory(source);
    if (canonicalTarget.empty() || isWithin(canonicalTarget, m_scratch))
        fail("HostNamespace::bind: unusable target " + target);
    if (mount(canonicalSource.c_str(), canonicalTarget.c_str(), nullptr, MS_BIND, nullptr) != 0)
        fail("HostNamespace::bind: binding " + source + " over " + target + " failed: " + errnoText());
    m_mounts.push_back(canonicalTarget);
    if (isWithin(canonicalSource, m_scratch))
        m_writableRoots.push_back(canonicalTarget);
    else
        m_hostBinds.push_back(canonicalTarget);
}

void HostNamespace::bindFile(const std::string& target, const std::string& content, unsigned int mode)
{
    const std::string source = m_scratch + "/bound" + std::to_string(m_layers++);
    {
        std::ofstream out(source, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out)
            fail("HostNamespace::bindFile: cannot write " + source);
    }
    if (chmod(source.c_str(), mode) != 0)
        fail("HostNamespace::bindFile: cannot chmod " + source + ": " + errnoText());
    bind(source, target);
}

void HostNamespace::writableRoot()
{
    if (!m_newRoot.empty())
        return;
    const std::string root = m_scratch + "/root";
    if (mkdir(root.c_str(), 0755) != 0)
        fail("HostNamespace::writableRoot: cannot create " + root + ": " + errnoText());
    if (mount("zagoroot", root.c_str(), "tmpfs", MS_NOSUID, "mode=0755") != 0)
        fail("HostNamespace::writableRoot: cannot mount a tmpfs on " + root + ": " + errnoText());
    m_newRoot = root;
    m_mountsBeforeRoot = m_mounts.size();

    std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir("/"), closedir);
    if (!listing)
        fail("HostNamespace::writableRoot: cannot list /: " + errnoText());
    std::vector<std::string> names;
    while (const dirent* entry = readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    // The entry holding the scratch folder first: its recursive bind then
    // copies the new root while nothing is bound into it yet.
    const std::string scratchTop = m_scratch.substr(1, m_scratch.find('/', 1) - 1);
    std::stable_partition(names.begin(), names.end(), [&](const std::string& n) { return n == scratchTop; });

    for (const std::string& name : names) {
        const std::string host = "/" + name;
        const std::string inside = root + "/" + name;
        struct stat info;
        if (lstat(host.c_str(), &info) != 0)
            continue;
        if (S_ISLNK(info.st_mode)) {
            std::error_code ec;
            const fs::path target = fs::read_symlink(host, ec);
            if (ec || symlink(target.c_str(), inside.c_str()) != 0)
                fail("HostNamespace::writableRoot: cannot copy the link " + host);
        } else if (S_ISDIR(info.st_mode)) {
            if (mkdir(inside.c_str(), 0755) != 0 ||
                mount(host.c_str(), inside.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
                fail("HostNamespace::writableRoot: cannot bind " + host + ": " + errnoText());
        } else {
            const int fd = open(inside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0)
                fail("HostNamespace::writableRoot: cannot create " + inside + ": " + errnoText());
            close(fd);
            if (mount(host.c_str(), inside.c_str(), nullptr, MS_BIND, nullptr) != 0)
                fail("HostNamespace::writableRoot: cannot bind " + host + ": " + errnoText());
        }
        m_rootEntries.push_back(name);
    }

    const std::string cwd = fs::current_path().string();
    m_outerRoot = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    m_outerCwd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_outerRoot < 0 || m_outerCwd < 0)
        fail("HostNamespace::writableRoot: cannot keep the old root: " + errnoText());
    if (chdir(root.c_str()) != 0 || chroot(".") != 0)
        fail("HostNamespace::writableRoot: chroot failed: " + errnoText());
    // The same folder, now reached through the new root.
    if (chdir(cwd.c_str()) != 0 && chdir("/") != 0)
        fail("HostNamespace::writableRoot: no working directory in the new root");
}

void HostNamespace::putFile(const std::string& path, const std::string& content, unsigned int mode)
{
    const fs::path folder = fs::path(path).parent_path();
    if (folder == "/")
        writableRoot();
    else
        overlay(folder.string());
    writeFile(path, content, mode);
}

void HostNamespace::emptyFolder(const std::string& path)
{
    std::error_code ec;
    if (!fs::is_directory(path, ec)) {
        overlay(path);
        return;
    }
    const std::string fresh = m_scratch + "/folder" + std::to_string(m_layers++);
    fs::create_directories(fresh);
    bind(fresh, path);
}

std::string HostNamespace::writableCanonical(const std::string& path) const
{
    const fs::path wanted(path);
    if (!wanted.is_absolute() || hasDotDot(wanted) || !wanted.has_filename() || wanted.filename() == ".")
        fail("HostNamespace: not a plain absolute file name: " + path);

    // Resolve the existing part of the parent (links included); what is
    // missing is created below it.
    fs::path existing = wanted.parent_path().lexically_normal();
    std::vector<fs::path> missing;
    std::error_code ec;
    while (!fs::exists(existing, ec) && existing != existing.root_path()) {
        missing.insert(missing.begin(), existing.filename());
        existing = existing.parent_path();
    }
    fs::path resolved(canonicalDirectory(existing.string()));
    if (resolved.empty())
        fail("HostNamespace: cannot resolve " + existing.string());
    for (const fs::path& part : missing)
        resolved /= part;
    resolved /= wanted.filename();

    const std::string result = resolved.string();
    // A host folder bound into an overlay is still the host's.
    for (const std::string& bound : m_hostBinds)
        if (isWithin(result, bound))
            fail("HostNamespace: " + path + " (" + result + ") lies in a bound host folder; "
                 "writing it would change the host");
    for (const std::string& root : m_writableRoots)
        if (isWithin(result, root))
            return result;
    // Directly below the new root, under a name the host's root lacks.
    const fs::path resolvedPath(result);
    if (!m_newRoot.empty() && resolvedPath.parent_path() == "/" &&
        std::find(m_rootEntries.begin(), m_rootEntries.end(), resolvedPath.filename().string()) == m_rootEntries.end())
        return result;
    fail("HostNamespace: " + path + " (" + result + ") is not below an overlay or a temporary bind; "
         "writing it would change the host");
}

void HostNamespace::writeFile(const std::string& path, const std::string& content, unsigned int mode)
{
    const std::string file = writableCanonical(path);
    fs::create_directories(fs::path(file).parent_path());
    struct stat info;
    if (lstat(file.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            fail("HostNamespace::writeFile: " + path + " is a folder");
        // A link would lead the write out of the namespace's layers.
        if (S_ISLNK(info.st_mode) && unlink(file.c_str()) != 0)
            fail("HostNamespace::writeFile: cannot replace the link " + path + ": " + errnoText());
    }
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        fail("HostNamespace::writeFile: cannot open " + path + ": " + errnoText());
    if (fchmod(fd, static_cast<mode_t>(mode)) != 0) {
        close(fd);
        fail("HostNamespace::writeFile: cannot chmod " + path + ": " + errnoText());
    }
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            close(fd);
            fail("HostNamespace::writeFile: cannot write " + path + ": " + errnoText());
        }
        done += static_cast<size_t>(n);
    }
    close(fd);
}

void HostNamespace::makeDirectory(const std::string& path)
{
    const std::string directory = writableCanonical(path);
    std::error_code ec;
    fs::create_directories(directory, ec);
    if (ec || !fs::is_directory(directory))
        fail("HostNamespace::makeDirectory: cannot create " + path);
}

void HostNamespace::remove(const std::string& path)
{
    const std::string file = writableCanonical(path);
    for (const std::string& root : m_writableRoots)
        if (file == root)
            fail("HostNamespace::remove: " + path + " is a mount point of the namespace");
    std::error_code ec;
    fs::remove_all(file, ec);
    if (ec)
        fail("HostNamespace::remove: cannot remove " + path + ": " + ec.message());
}

bool HostNamespace::existsOutside(const std::string& path) const
{
    const pid_t child = fork();
    if (child < 0)
        fail("HostNamespace::existsOutside: fork failed: " + errnoText());
    if (child == 0) {
        if (setns(m_outerNamespace, CLONE_NEWNS) != 0)
            _exit(2);
        struct stat info;
        _exit(lstat(path.c_str(), &info) == 0 ? 0 : 1);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1)
        fail("HostNamespace::existsOutside: cannot look at the outer namespace");
    return WEXITSTATUS(status) == 0;
}

bool HostNamespace::readOutside(const std::string& path, std::string& content) const
{
    content.clear();
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0)
        fail("HostNamespace::readOutside: pipe failed: " + errnoText());
    const pid_t child = fork();
    if (child < 0)
        fail("HostNamespace::readOutside: fork failed: " + errnoText());
    if (child == 0) {
        close(channel[0]);
        if (setns(m_outerNamespace, CLONE_NEWNS) != 0)
            _exit(2);
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            _exit(1);
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof(buffer))) > 0)
            if (::write(channel[1], buffer, static_cast<size_t>(n)) != n)
                _exit(2);
        _exit(n == 0 ? 0 : 1);
    }
    close(channel[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(channel[0], buffer, sizeof(buffer))) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        content.append(buffer, static_cast<size_t>(n));
    }
    close(channel[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1)
        fail("HostNamespace::readOutside: cannot look at the outer namespace");
    if (WEXITSTATUS(status) != 0)
        content.clear();
    return WEXITSTATUS(status) == 0;
}
