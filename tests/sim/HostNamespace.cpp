#include "HostNamespace.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "TempDir.h"

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

    makePrivateTmp();

    char pattern[] = "/tmp/zagons.XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        fail("HostNamespace: mkdtemp failed: " + errnoText());
    m_scratch = pattern;
}

HostNamespace::~HostNamespace()
{
    bool detached = true;
    auto unmount = [&detached](const std::string& path) {
        if (umount2(path.c_str(), MNT_DETACH) != 0)
            detached = false;
    };
    // Mounts made inside the private root are seen from it; then back to
    // the host's root, and the top-level binds go.
    size_t before = m_mounts.size();
    if (!m_root.empty()) {
        before = m_mountsBeforeRoot;
        for (size_t i = m_mounts.size(); i-- > before;)
            unmount(m_mounts[i]);
        leavePrivateRoot();
    }
    for (auto it = m_rootBinds.rbegin(); it != m_rootBinds.rend(); ++it)
        unmount(*it);
    for (size_t i = before; i-- > 0;)
        unmount(m_mounts[i]);
    if (m_hostRoot >= 0)
        close(m_hostRoot);

    // The private root binds the host's folders inside the scratch folder:
    // remove nothing while anything is still mounted below it.
    if (!m_scratch.empty() && detached) {
        std::ifstream mounts("/proc/self/mountinfo");
        std::string line;
        while (detached && std::getline(mounts, line)) {
            std::istringstream fields(line);
            std::string field;
            for (int i = 0; i < 5 && fields >> field; ++i) {
            }
            if (isWithin(field, m_scratch))
                detached = false;
        }
    }
    if (!m_scratch.empty() && detached) {
        std::error_code ec;
        fs::remove_all(m_scratch, ec);
    }
    // A working folder of the machine's /tmp is reached by its name again
    // once the binds are gone.
    char cwd[4096];
    const bool haveCwd = getcwd(cwd, sizeof(cwd)) != nullptr;
    for (auto it = m_tmpMounts.rbegin(); it != m_tmpMounts.rend(); ++it)
        umount2(it->c_str(), MNT_DETACH);
    if (haveCwd && !m_tmpMounts.empty() && isWithin(cwd, m_tmpMounts.front()) && chdir(cwd) != 0) {
    }
    if (m_outerNamespace >= 0)
        close(m_outerNamespace);
}

void HostNamespace::makePrivateTmp()
{
    const std::string tmp = canonicalDirectory("/tmp");
    if (tmp.empty())
        fail("HostNamespace: cannot resolve /tmp");

    // The entries of the machine's /tmp this process already works in or
    // reads from, by their names directly in /tmp.
    std::vector<std::string> used = liveTempDirs();
    char cwd[4096];
    const bool haveCwd = getcwd(cwd, sizeof(cwd)) != nullptr;
    if (haveCwd)
        used.push_back(cwd);
    std::error_code ec;
    used.push_back(fs::read_symlink("/proc/self/exe", ec).string());
#ifdef ZAGO_SOURCE_DIR
    used.push_back(ZAGO_SOURCE_DIR);
#endif
#ifdef ZAGO_BINARY_DIR
    used.push_back(ZAGO_BINARY_DIR);
#endif
    std::vector<std::string> kept;
    for (const std::string& path : used) {
        const fs::path canonical = fs::weakly_canonical(path, ec);
        if (ec || !isWithin(canonical.string(), tmp) || canonical.string() == tmp)
            continue;
        const std::string entry = tmp + "/" + canonical.lexically_relative(tmp).begin()->string();
        if (std::find(kept.begin(), kept.end(), entry) == kept.end())
            kept.push_back(entry);
    }

    // Opened before the tmpfs hides them; bound from the descriptors.
    struct Source {
        std::string target;
        int fd;
        bool folder;
    };
    std::vector<Source> sources;
    for (const std::string& entry : kept) {
        struct stat info;
        if (lstat(entry.c_str(), &info) != 0 || !(S_ISDIR(info.st_mode) || S_ISREG(info.st_mode)))
            continue;   // gone already (a TempDir of an earlier namespace's /tmp)
        const int fd = open(entry.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            fail("HostNamespace: cannot open " + entry + ": " + errnoText());
        sources.push_back({entry, fd, S_ISDIR(info.st_mode)});
    }
    auto closeAll = [&sources] {
        for (Source& source : sources)
            if (source.fd >= 0)
                close(source.fd);
        sources.clear();
    };

    if (mount("zagotmp", tmp.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0) {
        closeAll();
        fail("HostNamespace: mounting a private tmpfs on " + tmp + " failed: " + errnoText());
    }
    m_tmpMounts.push_back(tmp);
    for (Source& source : sources) {
        const int made = source.folder ? mkdir(source.target.c_str(), 0700)
                                       : open(source.target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (made < 0) {
            closeAll();
            fail("HostNamespace: cannot make " + source.target + " in the private /tmp: " + errnoText());
        }
        if (!source.folder)
            close(made);
        const std::string from = "/proc/self/fd/" + std::to_string(source.fd);
        if (mount(from.c_str(), source.target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
            closeAll();
            fail("HostNamespace: cannot bind " + source.target + " into the private /tmp: " + errnoText());
        }
        m_tmpMounts.push_back(source.target);
    }
    closeAll();
    // A working folder below /tmp is reached again by its name, now the bind.
    if (haveCwd && isWithin(cwd, tmp) && chdir(cwd) != 0)
        fail(std::string("HostNamespace: cannot return to ") + cwd + ": " + errnoText());
}

void HostNamespace::enterPrivateRoot()
{
    if (!m_root.empty())
        return;
    const std::string root = m_scratch + "/root";
    std::error_code ec;
    fs::create_directories(root, ec);
    if (ec)
        fail("HostNamespace: cannot create the private root " + root);
    m_hostRoot = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_hostRoot < 0)
        fail("HostNamespace: cannot open /: " + errnoText());

    for (const fs::directory_entry& entry : fs::directory_iterator("/", ec)) {
        const std::string name = entry.path().filename().string();
        const std::string source = "/" + name;
        const std::string copy = root + "/" + name;
        m_hostTopLevel.push_back(name);
        struct stat info;
        if (lstat(source.c_str(), &info) != 0)
            fail("HostNamespace: cannot stat " + source + ": " + errnoText());
        if (S_ISLNK(info.st_mode)) {
            std::error_code linkError;
            const fs::path target = fs::read_symlink(source, linkError);
            if (linkError || symlink(target.c_str(), copy.c_str()) != 0)
                fail("HostNamespace: cannot copy the link " + source);
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            if (mkdir(copy.c_str(), 0755) != 0)
                fail("HostNamespace: cannot create " + copy + ": " + errnoText());
        } else {
            const int fd = open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0)
                fail("HostNamespace: cannot create " + copy + ": " + errnoText());
            close(fd);
        }
        if (mount(source.c_str(), copy.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
            fail("HostNamespace: cannot bind " + source + " into the private root: " + errnoText());
        m_rootBinds.push_back(copy);
    }
    if (ec)
        fail("HostNamespace: cannot list /: " + ec.message());

    char cwd[4096];
    const bool haveCwd = getcwd(cwd, sizeof(cwd)) != nullptr;
    if (chdir(root.c_str()) != 0 || chroot(".") != 0)
        fail("HostNamespace: cannot enter the private root: " + errnoText());
    m_root = root;
    m_mountsBeforeRoot = m_mounts.size();
    // Every host folder is bound at its own name, so the working folder
    // keeps its path.
    if (!haveCwd || chdir(cwd) != 0) {
        if (chdir("/") != 0) {
        }
    }
}

void HostNamespace::leavePrivateRoot()
{
    char cwd[4096];
    const bool haveCwd = getcwd(cwd, sizeof(cwd)) != nullptr;
    if (fchdir(m_hostRoot) != 0 || chroot(".") != 0) {
        ADD_FAILURE() << "HostNamespace: cannot return to the host's root: " << errnoText();
        return;
    }
    m_root.clear();
    if (!haveCwd || chdir(cwd) != 0) {
        if (chdir("/") != 0) {
        }
    }
}

void HostNamespace::rootFor(const std::string& path)
{
    const fs::path wanted = fs::path(path).lexically_normal();
    if (!wanted.is_absolute() || !m_root.empty())
        return;
    auto part = wanted.begin();
    if (part == wanted.end() || ++part == wanted.end())
        return;   // "/" itself
    const std::string top = "/" + part->string();
    const bool directlyInRoot = std::next(part) == wanted.end() ||
                                (std::next(part) != wanted.end() && std::next(part)->empty());
    struct stat info;
    if (directlyInRoot || lstat(top.c_str(), &info) != 0)
        enterPrivateRoot();
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
    if (!writable && target == "/") {
        // Nothing in "/" gets an overlay: new top-level folders are made in
        // the private root.
        if (missing.empty())
            fail("HostNamespace::overlay: no overlay of / itself");
        enterPrivateRoot();
        fs::path created("/");
        for (const fs::path& part : missing)
            created /= part;
        makeDirectory(created.string());
        return;
    }
    if (!writable) {
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

std::string HostNamespace::smallDisk(size_t bytes)
{
    const std::string disk = m_scratch + "/disk" + std::to_string(m_layers++);
    std::error_code ec;
    if (!fs::create_directory(disk, ec))
        fail("HostNamespace::smallDisk: cannot create " + disk);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (mount("tmpfs", disk.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
        fail("HostNamespace::smallDisk: mounting a tmpfs on " + disk + " failed: " + errnoText());
    m_mounts.push_back(disk);
    m_writableRoots.push_back(disk);
    return disk;
}

void HostNamespace::makeReadOnly(const std::string& disk)
{
    if (std::find(m_mounts.begin(), m_mounts.end(), disk) == m_mounts.end() || !isWithin(disk, m_scratch))
        fail("HostNamespace::makeReadOnly: not a disk of this namespace: " + disk);
    if (mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) != 0)
        fail("HostNamespace::makeReadOnly: remounting " + disk + " failed: " + errnoText());
}

void HostNamespace::fill(const std::string& disk)
{
    if (std::find(m_mounts.begin(), m_mounts.end(), disk) == m_mounts.end() || !isWithin(disk, m_scratch))
        fail("HostNamespace::fill: not a disk of this namespace: " + disk);
    const std::string filler = disk + "/filler";
    int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        fail("HostNamespace::fill: cannot create " + filler + ": " + errnoText());
    std::vector<char> block(4096, 'f');
    ssize_t written = 0;
    while ((written = write(fd, block.data(), block.size())) > 0) {
    }
    const int error = errno;
    close(fd);
    if (written < 0 && error != ENOSPC) {
        errno = error;
        fail("HostNamespace::fill: writing " + filler + " failed: " + errnoText());
    }
}

std::string HostNamespace::resolveWritable(const std::string& path, std::string& why) const
{
    const fs::path wanted(path);
    if (!wanted.is_absolute() || hasDotDot(wanted) || !wanted.has_filename() || wanted.filename() == ".") {
        why = "not a plain absolute file name: " + path;
        return std::string();
    }

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
    if (resolved.empty()) {
        why = "cannot resolve " + existing.string();
        return std::string();
    }
    for (const fs::path& part : missing)
        resolved /= part;
    resolved /= wanted.filename();

    const std::string result = resolved.string();
    // A host folder bound into an overlay is still the host's.
    for (const std::string& bound : m_hostBinds)
        if (isWithin(result, bound)) {
            why = path + " (" + result + ") lies in a bound host folder; writing it would change the host";
            return std::string();
        }
    for (const std::string& root : m_writableRoots)
        if (isWithin(result, root))
            return result;
    // In the private root, what is not below one of the host's top-level
    // entries is ours.
    if (!m_root.empty() && result != "/") {
        const std::string top = std::next(resolved.begin())->string();
        bool hosts = false;
        for (const std::string& name : m_hostTopLevel)
            hosts = hosts || name == top;
        if (!hosts)
            return result;
    }
    why = path + " (" + result + ") is not below an overlay or a temporary bind; writing it would change the host";
    return std::string();
}

std::string HostNamespace::writableCanonical(const std::string& path) const
{
    std::string why;
    const std::string result = resolveWritable(path, why);
    if (result.empty())
        fail("HostNamespace: " + why);
    return result;
}

void HostNamespace::writeFile(const std::string& path, const std::string& content)
{
    rootFor(path);
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
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        fail("HostNamespace::writeFile: cannot open " + path + ": " + errnoText());
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
    rootFor(path);
    const std::string directory = writableCanonical(path);
    std::error_code ec;
    fs::create_directories(directory, ec);
    if (ec || !fs::is_directory(directory))
        fail("HostNamespace::makeDirectory: cannot create " + path);
}

void HostNamespace::remove(const std::string& path)
{
    rootFor(path);
    const std::string file = writableCanonical(path);
    for (const std::string& root : m_writableRoots)
        if (file == root)
            fail("HostNamespace::remove: " + path + " is a mount point of the namespace");
    std::error_code ec;
    fs::remove_all(file, ec);
    if (ec)
        fail("HostNamespace::remove: cannot remove " + path + ": " + ec.message());
}

namespace {

// The looks a child takes in the outer namespace: system calls only (the
// test process may run threads), 0 when something is there, 1 when not.

bool writeAll(int out, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(out, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool writeText(int out, const char* text) { return writeAll(out, text, std::strlen(text)); }

bool writeNumber(int out, unsigned long long value)
{
    char digits[24];
    size_t at = sizeof(digits);
    do
        digits[--at] = static_cast<char>('0' + value % 10);
    while ((value /= 10) > 0);
    return writeAll(out, digits + at, sizeof(digits) - at);
}

int lookExists(const std::string& path, int)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? 0 : 1;
}

int lookContent(const std::string& path, int out)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 1;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof(buffer))) > 0)
        if (!writeAll(out, buffer, static_cast<size_t>(n)))
            return 2;
    return n == 0 ? 0 : 1;
}

int lookEntry(const std::string& path, int out)
{
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? 1 : 2;
    const char* kind = S_ISLNK(info.st_mode) ? "link" : S_ISDIR(info.st_mode) ? "folder"
                                                      : S_ISREG(info.st_mode) ? "file" : "other";
    bool written = writeText(out, kind) && writeText(out, " uid ") && writeNumber(out, info.st_uid) &&
                   writeText(out, " mode ") && writeNumber(out, info.st_mode & 07777) && writeText(out, " inode ") &&
                   writeNumber(out, info.st_ino);
    if (written && S_ISLNK(info.st_mode)) {
        char target[4096];
        const ssize_t n = readlink(path.c_str(), target, sizeof(target));
        written = n >= 0 && writeText(out, " -> ") && writeAll(out, target, static_cast<size_t>(n));
    }
    return written ? 0 : 2;
}

} // namespace

std::string HostNamespace::askOutside(const char* caller, int (*look)(const std::string& path, int out),
                                      const std::string& path, bool& found) const
{
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0)
        fail(std::string(caller) + ": pipe failed: " + errnoText());
    const pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        fail(std::string(caller) + ": fork failed: " + errnoText());
    }
    if (child == 0) {
        close(channel[0]);
        if (setns(m_outerNamespace, CLONE_NEWNS) != 0)
            _exit(2);
        _exit(look(path, channel[1]));
    }
    close(channel[1]);
    std::string answer;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(channel[0], buffer, sizeof(buffer))) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        answer.append(buffer, static_cast<size_t>(n));
    }
    close(channel[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1)
        fail(std::string(caller) + ": cannot look at the outer namespace");
    found = WEXITSTATUS(status) == 0;
    if (!found)
        answer.clear();
    return answer;
}

bool HostNamespace::existsOutside(const std::string& path) const
{
    bool found = false;
    askOutside("HostNamespace::existsOutside", lookExists, path, found);
    return found;
}

bool HostNamespace::readOutside(const std::string& path, std::string& content) const
{
    bool found = false;
    content = askOutside("HostNamespace::readOutside", lookContent, path, found);
    return found;
}

std::string HostNamespace::lookOutside(const std::string& path) const
{
    bool found = false;
    return askOutside("HostNamespace::lookOutside", lookEntry, path, found);
}

void HostNamespace::putFile(const std::string& path, const std::string& content, unsigned int mode)
{
    rootFor(path);
    std::string why;
    if (resolveWritable(path, why).empty()) {
        const fs::path folder = fs::path(path).lexically_normal().parent_path();
        overlay(folder.string());
    }
    writeFile(path, content);
    if (chmod(writableCanonical(path).c_str(), mode) != 0)
        fail("HostNamespace::putFile: cannot chmod " + path + ": " + errnoText());
}

void HostNamespace::emptyFolder(const std::string& path)
{
    rootFor(path);
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode))
            fail("HostNamespace::emptyFolder: " + path + " is not a folder");
        const std::string source = m_scratch + "/empty" + std::to_string(m_layers++);
        std::error_code ec;
        fs::create_directories(source, ec);
        if (ec)
            fail("HostNamespace::emptyFolder: cannot create " + source);
        bind(source, path);
        return;
    }
    // A folder the host lacks is new, so empty, wherever it is made.
    std::string why;
    if (resolveWritable(path, why).empty())
        overlay(path);
    else
        makeDirectory(path);
}
