#include "QRMFileUtil.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "PlatformLayer.h"

namespace {

const char kTempDirectory[] = "/tmp";
const char kExecutableLink[] = "/proc/self/exe";

QRMString FromUTF8(const std::string& text)
{
    return QRMString(text.c_str(), QRMString::QRM_ENCODING_UTF8);
}

bool IsDotEntry(const char* name)
{
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// Some file systems leave the entry type open; ask stat then.
bool EntryIsDirectory(const std::string& directory, const struct dirent* entry)
{
    if (entry->d_type == DT_DIR)
        return true;
    if (entry->d_type != DT_UNKNOWN)
        return false;
    struct stat info;
    const std::string path = directory + "/" + entry->d_name;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Runs a shell command through the platform layer's replaceable seam.
// Returns false only when the command could not be started.
bool RunShell(const std::string& command)
{
    return CPlatformLayer::ExecuteCmd(command, false, 0) != -1;
}

// Copies size bytes from in to out; false unless every byte arrived.
bool CopyBytes(int in, int out, off_t size)
{
    off_t offset = 0;
    bool useSendfile = true;
    while (offset < size) {
        if (useSendfile) {
            const size_t chunk = static_cast<size_t>(size - offset);
            const ssize_t sent = sendfile(out, in, &offset, chunk);
            if (sent > 0)
                continue;
            if (sent == 0)
                return false;   // the source got shorter while we copied
            if (errno == EINTR)
                continue;
            if ((errno == EINVAL || errno == ENOSYS) && offset == 0) {
                useSendfile = false;   // a file system sendfile does not serve
                continue;
            }
            return false;
        }
        char buffer[65536];
        const ssize_t got = pread(in, buffer, sizeof(buffer), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        ssize_t written = 0;
        while (written < got) {
            const ssize_t put = write(out, buffer + written, static_cast<size_t>(got - written));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return false;
            written += put;
        }
        offset += got;
    }
    return true;
}

// A descriptor that closes itself; close() reports whether the last
// buffered data reached the file.
class UniqueFd {
public:
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    explicit operator bool() const { return m_fd >= 0; }
    int get() const { return m_fd; }
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

// The folder part of a path, with its trailing separator ("" for a bare name).
std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// An existing regular file is replaced, never written in place: the name may
// be a hard link to someone else's file, which must stay as it was. The copy
// goes to a new file beside it, which takes the old file's permissions and
// is renamed over the name once complete; on failure the old file stays.
bool ReplaceWithCopy(int in, off_t size, const std::string& path, mode_t oldMode)
{
    std::string temporary = FolderOf(path) + ".qrmcopy-XXXXXX";
    UniqueFd out(mkostemp(&temporary[0], O_CLOEXEC));
    if (!out)
        return false;
    const bool copied = fchmod(out.get(), oldMode & 0777) == 0 && CopyBytes(in, out.get(), size) &&
                        out.close() && rename(temporary.c_str(), path.c_str()) == 0;
    if (!copied)
        unlink(temporary.c_str());
    return copied;
}

}  // namespace

QRMString QRMFileUtil::GetSeparator()
{
    return QRMString("/", QRMString::QRM_ENCODING_UTF8);
}

std::vector<QRMString> QRMFileUtil::GetIllegalCharacters()
{
    static const char* const kIllegal[] = {"\\", "/", "?", "*", "<", "\"", ">", "|"};
    std::vector<QRMString> characters;
    for (size_t i = 0; i < sizeof(kIllegal) / sizeof(kIllegal[0]); ++i)
        characters.push_back(QRMString(kIllegal[i], QRMString::QRM_ENCODING_UTF8));
    return characters;
}

std::vector<QRMString> QRMFileUtil::GetReservedNames()
{
    return std::vector<QRMString>();
}

bool QRMFileUtil::IsDirectory(const QRMString& path)
{
    QRMString copy(path);
    if (!copy.empty() && copy[copy.size() - 1] == '\\')
        copy.erase(copy.size() - 1);
    struct stat info;
    if (stat(copy.GetUTF8String().c_str(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode);
}

bool QRMFileUtil::DeleteDirectory(QRMFile& directory, bool removeItself)
{
    const QRMString path = directory.GetPath();
    if (path.empty() || !IsDirectory(path))
        return true;
    const std::string utf8 = path.GetUTF8String();
    if (removeItself)
        return remove(utf8.c_str()) != 0;
    DIR* dir = opendir(utf8.c_str());
    if (dir == nullptr)
        return false;
    // Files and empty subdirectories go; nothing is recursive and failures
    // (the dot entries, non-empty subdirectories) are passed over.
    while (struct dirent* entry = readdir(dir)) {
        const std::string entryPath = utf8 + "/" + entry->d_name;
        remove(entryPath.c_str());
    }
    closedir(dir);
    return false;
}

QRMString QRMFileUtil::GetCurrentExecutablePath(bool withName)
{
    std::string target;
    for (size_t size = 256; size <= 65536; size *= 2) {
        std::vector<char> buffer(size);
        const ssize_t got = readlink(kExecutableLink, buffer.data(), buffer.size());
        if (got < 0)
            return QRMString();
        if (static_cast<size_t>(got) < buffer.size()) {
            target.assign(buffer.data(), static_cast<size_t>(got));
            break;
        }
    }
    if (target.empty())
        return QRMString();
    if (!withName) {
        const size_t slash = target.rfind('/');
        if (slash != std::string::npos)
            target.erase(slash);
    }
    return FromUTF8(target);
}

bool QRMFileUtil::RenameFile(QRMFile& file, const QRMString& newName)
{
    const QRMString path = file.GetPath();
    if (path.GetUTF8String().empty() || newName.GetUTF8String().empty())
        return false;
    if (IsDirectory(path) || !file.Exists() || !QRMFile(newName).IsValidName())
        return false;
    QRMString target = file.GetParentPath(true);
    target.append(newName);
    return rename(path.GetUTF8String().c_str(), target.GetUTF8String().c_str()) == 0;
}

bool QRMFileUtil::MakeCopyOfFile(const QRMFile& source, const QRMFile& destination,
                                 bool refuseExisting)
{
    const QRMString from = source.GetPath();
    const QRMString to = destination.GetPath();
    if (from.empty() || to.empty() || IsDirectory(from) || IsDirectory(to) || !source.Exists())
        return false;

    const std::string fromUtf8 = from.GetUTF8String();
    const std::string toUtf8 = to.GetUTF8String();
    // Non-blocking so that a pipe cannot hold the open; only a regular file
    // has a size that tells when the copy is complete.
    UniqueFd in(open(fromUtf8.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat inInfo;
    if (!in || fstat(in.get(), &inInfo) != 0 || !S_ISREG(inInfo.st_mode))
        return false;

    struct stat outInfo;
    if (lstat(toUtf8.c_str(), &outInfo) != 0) {
        if (errno != ENOENT)
            return false;
        // A new file, made exclusively: nothing planted at the name between
        // the look and the open is followed or written.
        UniqueFd out(open(toUtf8.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (!out)
            return false;
        if (CopyBytes(in.get(), out.get(), inInfo.st_size) && out.close())
            return true;
        unlink(toUtf8.c_str());   // leave no half-written file behind
        return false;
    }
    if (refuseExisting)
        return false;
    // Copying a file onto itself would cut it to nothing before the first
    // byte is read (the same file named two ways).
    if (outInfo.st_dev == inInfo.st_dev && outInfo.st_ino == inInfo.st_ino)
        return false;
    // A symbolic link is never followed: as root that would write wherever
    // the link points.
    if (S_ISLNK(outInfo.st_mode))
        return false;
    if (S_ISREG(outInfo.st_mode))
        return ReplaceWithCopy(in.get(), inInfo.st_size, toUtf8, outInfo.st_mode);

    // A pipe or device node is written in place and never removed or cut.
    UniqueFd out(open(toUtf8.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat openedInfo;
    if (!out || fstat(out.get(), &openedInfo) != 0 || S_ISREG(openedInfo.st_mode) ||
        S_ISDIR(openedInfo.st_mode))
        return false;   // swapped for something else meanwhile
    const int flags = fcntl(out.get(), F_GETFL);
    if (flags == -1 || fcntl(out.get(), F_SETFL, flags & ~O_NONBLOCK) == -1)
        return false;
    return CopyBytes(in.get(), out.get(), inInfo.st_size) && out.close();
}

bool QRMFileUtil::MoveFile(const QRMFile& source, const QRMFile& destination, bool refuseExisting)
{
    // The source goes only once a complete copy exists.
    if (!MakeCopyOfFile(source, destination, refuseExisting))
        return false;
    return source.Delete();
}

QRMFile QRMFileUtil::GetSystemTempDirectory()
{
    return QRMFile(QRMString(kTempDirectory, QRMString::QRM_ENCODING_UTF8));
}

QRMFile QRMFileUtil::CreateUniqueDirectory(const QRMString& parent, const QRMString& prefix)
{
    if (parent.empty() || !IsDirectory(parent))
        return QRMFile();
    srand(static_cast<unsigned int>(time(nullptr)));
    const unsigned int r1 = static_cast<unsigned int>(rand());
    const unsigned int r2 = static_cast<unsigned int>(rand());
    const unsigned int r3 = static_cast<unsigned int>(rand());
    const unsigned int r4 = static_cast<unsigned int>(rand());
    const unsigned int r5 = static_cast<unsigned int>(rand());
    const unsigned int r6 = static_cast<unsigned int>(rand());
    char name[128];
    std::snprintf(name, sizeof(name), "%x-%x-%x-%x-%x%x", r6, (r5 & 0xFFF) | 0x4000,
                  (r4 & 0xFFF) | 0x4000, (r3 % 0x3FFF) + 0x8000, r2, (r1 & 0xFFF) | 0x4000);
    QRMString path(parent);
    path.append(GetSeparator());
    path.append(prefix);
    path += name;
    if (mkdir(path.GetUTF8String().c_str(), 0775) != 0)
        return QRMFile();
    return QRMFile(path);
}

QRMFile QRMFileUtil::CreateUniqueTemporaryDirectory()
{
    return CreateUniqueDirectory(QRMString(kTempDirectory, QRMString::QRM_ENCODING_UTF8),
                                 QRMString());
}

QRMFile QRMFileUtil::CreateUniqueFile(const QRMString& directory, const QRMString& prefix,
                                      const QRMString& extension)
{
    if (directory.empty() || !IsDirectory(directory))
        return QRMFile();
    // The name is one component: prefix, six characters, "." and extension.
    QRMString name(prefix);
    name += "XXXXXX.";
    name.append(extension);
    if (name.find(GetSeparator()) != QRMString::npos || !QRMFile(name).IsValidName())
        return QRMFile();

    // Made in place and exclusively, as mkstemp makes its file: nothing that
    // already stands at the name (a planted link, another's file) is
    // followed, replaced or cut.
    QRMString path(directory);
    path.append(GetSeparator());
    path.append(name);
    std::string utf8 = path.GetUTF8String();
    const int suffixLength = static_cast<int>(1 + extension.GetUTF8String().size());
    const int fd = mkostemps(&utf8[0], suffixLength, O_CLOEXEC);
    if (fd < 0)
        return QRMFile();
    close(fd);
    return QRMFile(FromUTF8(utf8));
}

QRMFile QRMFileUtil::CreateUniqueTemporaryFile(const QRMString& prefix, const QRMString& extension)
{
    return CreateUniqueFile(QRMString(kTempDirectory, QRMString::QRM_ENCODING_UTF8), prefix,
                            extension);
}

bool QRMFileUtil::GetFileNamesInDirectory(const QRMString& directory,
                                          const QRMString& startPattern,
                                          const QRMString& endPattern,
                                          const QRMString& extensionPattern,
                                          std::vector<QRMString>& names, bool withPath)
{
    if (directory.empty())
        return true;
    const std::string directoryUtf8 = directory.GetUTF8String();
    DIR* dir = opendir(directoryUtf8.c_str());
    if (dir == nullptr)
        return true;

    const std::string start = startPattern.GetUTF8String();
    const std::string end = endPattern.GetUTF8String();
    const std::string extension = extensionPattern.GetUTF8String();
    std::string glob;
    bool onBaseName = false;
    if (extension.empty() && (!start.empty() || !end.empty())) {
        glob = start + "*" + end;
        onBaseName = true;
    } else if (!start.empty() || !end.empty() || !extension.empty()) {
        glob = start + "*" + end + "." + extension;
    }

    while (struct dirent* entry = readdir(dir)) {
        if (IsDotEntry(entry->d_name) || EntryIsDirectory(directoryUtf8, entry))
            continue;
        const QRMString entryName = FromUTF8(entry->d_name);
        if (!glob.empty()) {
            const std::string subject =
                onBaseName ? QRMFile(entryName).GetBaseName().GetUTF8String() : entry->d_name;
            if (fnmatch(glob.c_str(), subject.c_str(), FNM_CASEFOLD) != 0)
                continue;
        }
        if (withPath) {
            QRMString full(directory);
            full.append(GetSeparator());
            full.append(entryName);
            names.push_back(full);
        } else {
            names.push_back(entryName);
        }
    }
    closedir(dir);
    return false;
}

bool QRMFileUtil::GetFile(const QRMString& address, const QRMFile& destination)
{
    const std::string addressUtf8 = address.GetUTF8String();
    // wget would take an address that begins with "-" for one of its options.
    if (addressUtf8.empty() || addressUtf8[0] == '-')
        return true;
    QRMString target;
    QRMString downloadDirectory;
    if (IsDirectory(destination.GetPath())) {
        const size_t slash = addressUtf8.rfind('/');
        const std::string name =
            slash == std::string::npos ? addressUtf8 : addressUtf8.substr(slash + 1);
        // The target is deleted before the download: a name that is no file
        // name would make that the download folder or its parent.
        if (name.empty() || name == "." || name == "..")
            return true;
        downloadDirectory = destination.GetPath();
        target = downloadDirectory;
        target.append(GetSeparator());
        target += name.c_str();
    } else {
        if (!destination.ParentExists())
            return true;
        target = destination.GetPath();
        downloadDirectory = destination.GetParentPath(false);
    }

    QRMFile targetFile(target);
    if (targetFile.Exists() && !targetFile.Delete())
        return true;

    // wget writes the -O name relative to the working directory whatever -P
    // says, so -O carries the whole target path.
    const std::string command = "wget " + QuoteForShell(addressUtf8) + " -P " +
                                QuoteForShell(downloadDirectory.GetUTF8String()) + " -O " +
                                QuoteForShell(target.GetUTF8String());
    return !RunShell(command);
}

bool QRMFileUtil::CopyDirectory(const QRMFile& source, const QRMFile& destination, bool recursive,
                                bool refuseExisting)
{
    const QRMString from = source.GetPath();
    const QRMString to = destination.GetPath();
    if (from.empty() || to.empty() || !IsDirectory(from) || !IsDirectory(to))
        return false;
    if (refuseExisting)
        return false;
    if (static_cast<const QRMString::BaseString&>(from) == to)
        return false;

    const std::string fromUtf8 = from.GetUTF8String();
    const std::string toUtf8 = to.GetUTF8String();
    if (recursive) {
        // The glob stays outside the quotes so the shell still expands it.
        return RunShell("cp -R " + QuoteForShell(fromUtf8) + "/* " + QuoteForShell(toUtf8));
    }

    DIR* dir = opendir(fromUtf8.c_str());
    if (dir == nullptr)
        return false;
    while (struct dirent* entry = readdir(dir)) {
        if (IsDotEntry(entry->d_name))
            continue;
        if (EntryIsDirectory(fromUtf8, entry)) {
            RunShell("mkdir -p " + QuoteForShell(toUtf8 + "/" + entry->d_name));
        } else {
            const QRMString name = FromUTF8(entry->d_name);
            QRMString sourcePath(from);
            sourcePath.append(GetSeparator());
            sourcePath.append(name);
            QRMString destinationPath(to);
            destinationPath.append(GetSeparator());
            destinationPath.append(name);
            MakeCopyOfFile(QRMFile(sourcePath), QRMFile(destinationPath), false);
        }
    }
    closedir(dir);
    return true;
}

std::string QRMFileUtil::QuoteForShell(const std::string& text)
{
    // Inside single quotes the shell interprets nothing; a single quote
    // itself is closed, escaped and reopened.
    std::string quoted = "'";
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\'')
            quoted += "'\\''";
        else
            quoted += text[i];
    }
    quoted += "'";
    return quoted;
}
