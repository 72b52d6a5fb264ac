#include "QRMFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "PlatformLayer.h"
#include "QRMFileUtil.h"

namespace {

const unsigned short kSeparator = '/';
const unsigned short kFullStop = '.';

bool StatPath(const QRMString& path, struct stat& info)
{
    return stat(path.GetUTF8String().c_str(), &info) == 0;
}

bool EndsWithSeparator(const QRMString& path)
{
    return !path.empty() && path[path.size() - 1] == kSeparator;
}

bool HasIllegalCharacter(const QRMString& text)
{
    const std::vector<QRMString> illegal = QRMFileUtil::GetIllegalCharacters();
    for (size_t i = 0; i < illegal.size(); ++i) {
        if (text.ContainsAny(illegal[i], 0))
            return true;
    }
    return false;
}

bool IsReservedName(const QRMString& text)
{
    const std::vector<QRMString> reserved = QRMFileUtil::GetReservedNames();
    for (size_t i = 0; i < reserved.size(); ++i) {
        if (static_cast<const QRMString::BaseString&>(text) == reserved[i])
            return true;
    }
    return false;
}

}  // namespace

QRMFile::QRMFile() {}

QRMFile::QRMFile(const QRMString& path) : m_path(path) {}

QRMFile::QRMFile(const QRMFile& other) : m_path(other.m_path) {}

QRMFile& QRMFile::operator=(const QRMFile& other)
{
    if (this != &other)
        m_path = other.m_path;
    return *this;
}

QRMFile::~QRMFile() {}

bool QRMFile::operator==(const QRMFile& other) const
{
    return static_cast<const QRMString::BaseString&>(m_path) == other.m_path;
}

bool QRMFile::operator!=(const QRMFile& other) const { return !(*this == other); }

bool QRMFile::HasPath() const { return !m_path.empty(); }

QRMString QRMFile::GetPath() const { return m_path; }

int QRMFile::SetPath(const QRMString& path)
{
    m_path = path;
    return 0;
}

bool QRMFile::Exists() const
{
    if (m_path.empty())
        return false;
    struct stat info;
    return StatPath(m_path, info);
}

QRMString QRMFile::GetName() const
{
    if (m_path.empty())
        return QRMString();
    QRMString::BaseString body = m_path;
    if (body[body.size() - 1] == kSeparator)
        body.erase(body.size() - 1);
    const size_t last = body.rfind(kSeparator);
    if (last == QRMString::BaseString::npos)
        return QRMString(body);
    return QRMString(body.substr(last + 1));
}

QRMString QRMFile::GetBaseName() const
{
    if (m_path.empty())
        return QRMString();
    const size_t dot = m_path.rfind(kFullStop);
    const size_t sep = m_path.rfind(kSeparator);
    const size_t npos = QRMString::BaseString::npos;
    if (sep == npos) {
        if (dot == npos)
            return m_path;
        return m_path.SubString(0, dot);
    }
    if (dot != npos && dot > sep)
        return QRMString(m_path.substr(sep + 1, dot - sep - 1));
    return QRMString(m_path.substr(sep + 1));
}

QRMString QRMFile::GetExtension() const
{
    const QRMString name = GetName();
    if (name.empty())
        return QRMString();
    const size_t dot = name.rfind(kFullStop);
    if (dot == QRMString::BaseString::npos)
        return QRMString();
    return QRMString(name.substr(dot + 1));
}

QRMString QRMFile::GetParentPath(bool keepSeparator) const
{
    const size_t sep = m_path.rfind(kSeparator);
    // Without a separator the file lies in the working directory, which a
    // relative path names by an empty prefix.
    if (m_path.empty() || sep == QRMString::BaseString::npos)
        return QRMString();
    return QRMString(m_path.substr(0, keepSeparator ? sep + 1 : sep));
}

bool QRMFile::SetName(const QRMString& name)
{
    const QRMString oldName = GetName();
    if (name.empty() || oldName.empty())
        return false;
    // A trailing separator stays behind the new name.
    const bool trailing = EndsWithSeparator(m_path);
    QRMString::BaseString body = m_path;
    if (trailing)
        body.erase(body.size() - 1);
    body.erase(body.size() - oldName.size());
    body.append(name);
    if (trailing)
        body.push_back(kSeparator);
    m_path = QRMString(body);
    return true;
}

bool QRMFile::AppendName(const QRMString& name)
{
    if (name.empty() || m_path.empty() || !name.IsPermissableFileName())
        return false;
    if (!EndsWithSeparator(m_path))
        m_path.push_back(kSeparator);
    m_path.append(name);
    return true;
}

bool QRMFile::RemoveName()
{
    if (m_path.empty())
        return false;
    const long long nameLength = static_cast<long long>(GetName().size());
    const long long keep = static_cast<long long>(m_path.size()) - nameLength -
                           (EndsWithSeparator(m_path) ? 2 : 1);
    if (keep >= 0)
        m_path.erase(static_cast<size_t>(keep));
    return true;
}

bool QRMFile::SetExtension(const QRMString& extension)
{
    if (extension.empty())
        return false;
    const bool trailing = EndsWithSeparator(m_path);
    QRMString::BaseString body = m_path;
    if (trailing)
        body.erase(body.size() - 1);
    const QRMString oldExtension = GetExtension();
    if (!oldExtension.empty()) {
        body.erase(body.size() - oldExtension.size());
    } else {
        body.push_back(kFullStop);
    }
    body.append(extension);
    if (trailing)
        body.push_back(kSeparator);
    m_path = QRMString(body);
    return true;
}

bool QRMFile::HasValidPath() const
{
    if (m_path.empty())
        return false;
    size_t start = 0;
    for (;;) {
        const size_t sep = m_path.find(kSeparator, start);
        const size_t end = sep == QRMString::BaseString::npos ? m_path.size() : sep;
        const QRMString component(m_path.substr(start, end - start));
        if (HasIllegalCharacter(component) || IsReservedName(component))
            return false;
        if (sep == QRMString::BaseString::npos)
            return true;
        start = sep + 1;
    }
}

bool QRMFile::IsValidName() const
{
    if (m_path.empty())
        return false;
    const QRMString name = GetName();
    if (name.empty())
        return false;
    return !HasIllegalCharacter(name);
}

QRMString QRMFile::ContainingDirectory() const
{
    const long long nameLength = static_cast<long long>(GetName().size());
    const long long keep = static_cast<long long>(m_path.size()) - nameLength - 1;
    if (keep > 0)
        return QRMString(m_path.substr(0, static_cast<size_t>(keep)));
    // A name directly below the root, or a relative name without a parent
    // part, which lies in the working directory.
    if (!m_path.empty() && m_path[0] == kSeparator)
        return QRMString("/", QRMString::QRM_ENCODING_UTF8);
    return QRMString(".", QRMString::QRM_ENCODING_UTF8);
}

bool QRMFile::ParentExists() const
{
    if (m_path.empty() || GetName().empty())
        return false;
    struct stat info;
    return StatPath(ContainingDirectory(), info);
}

unsigned long long QRMFile::GetSize() const
{
    if (m_path.empty())
        return 0;
    if (QRMFileUtil::IsDirectory(m_path)) {
        DIR* dir = opendir(m_path.GetUTF8String().c_str());
        if (dir == nullptr)
            return 0;
        unsigned long long count = 0;
        while (struct dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                ++count;
        }
        closedir(dir);
        return count;
    }
    struct stat info;
    if (!StatPath(m_path, info))
        return 0;
    return static_cast<unsigned long long>(info.st_size);
}

bool QRMFile::IsEmpty() const
{
    if (m_path.empty())
        return false;
    return GetSize() == 0;
}

bool QRMFile::Delete() const
{
    if (m_path.empty())
        return false;
    if (QRMFileUtil::IsDirectory(m_path)) {
        // A directory is only emptied, never removed itself, and that does
        // not count as a deletion.
        QRMFile copy(*this);
        QRMFileUtil::DeleteDirectory(copy, false);
        return false;
    }
    return remove(m_path.GetUTF8String().c_str()) == 0;
}

bool QRMFile::MakeDirectory(bool recursive, QRMErrorCodeEnum* /*error*/)
{
    if (m_path.empty() || QRMFileUtil::IsDirectory(m_path))
        return false;
    if (!recursive) {
        if (!ParentExists())
            return false;
        return mkdir(m_path.GetUTF8String().c_str(), 0775) == 0;
    }
    // Walk the prefixes that end just after a separator, then the whole
    // path, creating every level that is missing; the answer is true only
    // when the whole path ends up created.
    size_t from = 0;
    for (;;) {
        const size_t sep = m_path.find(kSeparator, from);
        const size_t end = sep == QRMString::BaseString::npos ? m_path.size() : sep + 1;
        const QRMString prefix(m_path.substr(0, end));
        const bool isLast = end >= m_path.size();
        const bool driveName = prefix.size() >= 2 && prefix[prefix.size() - 2] == ':';
        if (!driveName && !QRMFileUtil::IsDirectory(prefix)) {
            if (mkdir(prefix.GetUTF8String().c_str(), 0775) != 0)
                return false;
        }
        if (isLast)
            return true;
        from = end;
    }
}

bool QRMFile::Create(bool makeParent, QRMErrorCodeEnum* /*error*/)
{
    if (m_path.empty())
        return false;
    if (makeParent) {
        if (!ParentExists()) {
            QRMFile parent(GetParentPath(false));
            parent.MakeDirectory(true, nullptr);
        }
    } else {
        if (!ParentExists() || Exists())
            return false;
    }
    // A symbolic link at the name is not followed (as root it could point
    // anywhere); without makeParent the file must be new; only a regular file
    // is cut to length 0, and a pipe cannot hold the open.
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    if (!makeParent)
        flags |= O_EXCL;
    const int fd = open(m_path.GetUTF8String().c_str(), flags, 0666);
    if (fd < 0)
        return false;
    struct stat info;
    const bool created =
        fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ftruncate(fd, 0) == 0;
    close(fd);
    return created;
}

bool QRMFile::Touch()
{
    if (m_path.empty() || !Exists() || QRMFileUtil::IsDirectory(m_path))
        return false;
    const std::string command = "touch -c " + QRMFileUtil::QuoteForShell(m_path.GetUTF8String());
    CPlatformLayer::ExecuteCmd(command, false, 0);
    return true;
}

QRMTime QRMFile::GetTime(QRMFileTimeEnum /*which*/) const { return QRMTime(); }

bool QRMFile::SetTime(QRMFileTimeEnum /*which*/, const QRMTime& /*time*/) { return false; }

bool QRMFile::GetBool(QRMFileBoolEnum /*which*/) const { return false; }

bool QRMFile::SetBool(QRMFileBoolEnum which, bool /*value*/)
{
    if (m_path.empty())
        return false;
    return Exists() && which == QRM_FILE_BOOL_EXISTS;
}

bool QRMFile::IsOpen() const { return false; }

bool QRMFile::CanOpen(QRMFileAccessModeEnum /*access*/, QRMFileShareModeEnum /*share*/) const
{
    return false;
}

int QRMFile::ResolveAlias() { return 0; }

void QRMFile::ResolvePathAliases() {}
