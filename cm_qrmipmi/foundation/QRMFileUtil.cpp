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
const char kTempFileTemplate[] = "/tmp/XXXXXX";
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

bool SameDirectory(const std::string& left, const std::string& right)
{
    struct stat a, b;
    if (stat(left.c_str(), &a) != 0 || stat(right.c_str(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
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
    if (refuseExisting && destination.Exists())
        return false;

    const std::string fromUtf8 = from.GetUTF8String();
    const std::string toUtf8 = to.GetUTF8String();
    const int in = open(fromUtf8.c_str(), O_RDONLY);
    if (in < 0)
        return false;
    struct stat inInfo;
    if (fstat(in, &inInfo) != 0) {
        close(in);
        return false;
    }
    const int out = open(toUtf8.c_str(), O_WRONLY | O_CREAT, 0644);
    if (out < 0) {
        close(in);
        return false;
    }
    // Copying a file onto itself would cut it to nothing before the first
    // byte is read (the same file named two ways).
    struct stat outInfo;
    if (fstat(out, &outInfo) != 0 ||
        (outInfo.st_dev == inInfo.st_dev && outInfo.st_ino == inInfo.st_ino)) {
        close(out);
        close(in);
        return false;
    }
    // A longer old destination must not keep a stale tail behind the copy.
    // Only a regular file is cut or, after a failed copy, removed: a device
    // node or pipe given as destination must never disappear.
    const bool regular = S_ISREG(outInfo.st_mode);
    if (regular && ftruncate(out, 0) != 0) {
        close(out);
        close(in);
        return false;   // nothing written, the destination is as it was
    }
    bool copied = CopyBytes(in, out, inInfo.st_size);
    if (close(out) != 0)
        copied = false;
    close(in);
    if (!copied && regular)
        remove(toUtf8.c_str());   // leave no half-written file behind
    return copied;
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
    char temporary[sizeof(kTempFileTemplate)];
    std::memcpy(temporary, kTempFileTemplate, sizeof(kTempFileTemplate));
    const int fd = mkstemp(temporary);
    if (fd < 0)
        return QRMFile();
    close(fd);

    // The six characters mkstemp chose follow "/tmp/".
    QRMString name(prefix);
    name += temporary + sizeof(kTempDirectory);
    name += ".";
    name.append(extension);

    QRMFile created(QRMString(temporary, QRMString::QRM_ENCODING_UTF8));
    if (!RenameFile(created, name)) {
        remove(temporary);
        return QRMFile();
    }

    QRMString inTemp(kTempDirectory, QRMString::QRM_ENCODING_UTF8);
    inTemp.append(GetSeparator());
    inTemp.append(name);
    QRMString result(directory);
    result.append(GetSeparator());
    result.append(name);

    const std::string directoryUtf8 = directory.GetUTF8String();
    if (directoryUtf8 == kTempDirectory || SameDirectory(directoryUtf8, kTempDirectory))
        return QRMFile(result);
    if (!MoveFile(QRMFile(inTemp), QRMFile(result), false)) {
        // The caller must not get a name that names no file.
        remove(inTemp.GetUTF8String().c_str());
        return QRMFile();
    }
    return QRMFile(result);
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
    QRMString target;
    QRMString downloadDirectory;
    if (IsDirectory(destination.GetPath())) {
        const size_t slash = addressUtf8.rfind('/');
        const std::string name =
            slash == std::string::npos ? addressUtf8 : addressUtf8.substr(slash + 1);
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
