#ifndef CM_QRMIPMI_FOUNDATION_QRMFILEUTIL_H
#define CM_QRMIPMI_FOUNDATION_QRMFILEUTIL_H

#include <string>
#include <vector>

#include "QRMFile.h"
#include "QRMString.h"

// Static file-system operations around QRMFile. Note the two senses of the
// bool results: RenameFile, MakeCopyOfFile, MoveFile and CopyDirectory answer
// true on success; GetFileNamesInDirectory, GetFile and DeleteDirectory
// answer false on success.
class QRMFileUtil {
public:
    // Path vocabulary.
    static QRMString GetSeparator();
    static std::vector<QRMString> GetIllegalCharacters();
    static std::vector<QRMString> GetReservedNames();
    static bool IsDirectory(const QRMString& path);
    static bool DeleteDirectory(QRMFile& directory, bool removeItself);

    static QRMString GetCurrentExecutablePath(bool withName);
    static bool RenameFile(QRMFile& file, const QRMString& newName);
    static bool MakeCopyOfFile(const QRMFile& source, const QRMFile& destination,
                               bool refuseExisting);
    static bool MoveFile(const QRMFile& source, const QRMFile& destination, bool refuseExisting);
    static QRMFile GetSystemTempDirectory();
    static QRMFile CreateUniqueDirectory(const QRMString& parent, const QRMString& prefix);
    static QRMFile CreateUniqueTemporaryDirectory();
    static QRMFile CreateUniqueFile(const QRMString& directory, const QRMString& prefix,
                                    const QRMString& extension);
    static QRMFile CreateUniqueTemporaryFile(const QRMString& prefix, const QRMString& extension);
    static bool GetFileNamesInDirectory(const QRMString& directory, const QRMString& startPattern,
                                        const QRMString& endPattern,
                                        const QRMString& extensionPattern,
                                        std::vector<QRMString>& names, bool withPath);
    static bool GetFile(const QRMString& address, const QRMFile& destination);
    static bool CopyDirectory(const QRMFile& source, const QRMFile& destination, bool recursive,
                              bool refuseExisting);

    // Quotes a text as one shell word, so blanks, quotes and shell
    // metacharacters in a path stay part of it.
    static std::string QuoteForShell(const std::string& text);
};

#endif
