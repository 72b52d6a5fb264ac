#ifndef CM_QRMIPMI_FOUNDATION_QRMFILE_H
#define CM_QRMIPMI_FOUNDATION_QRMFILE_H

#include "QRMString.h"
#include "QRMTime.h"

// Optional out-parameter type of QRMFile::MakeDirectory and QRMFile::Create;
// neither writes it.
enum QRMErrorCodeEnum {
    QRM_ERROR_NONE = 0,
    QRM_ERROR_FAILED = 1
};

// A value object holding one path, stored exactly as given. An empty path
// names no file. Failures show only in the results (false, 0, empty).
class QRMFile {
public:
    enum QRMFileTimeEnum {
        QRM_FILE_TIME_CREATED = 0,
        QRM_FILE_TIME_MODIFIED = 1,
        QRM_FILE_TIME_ACCESSED = 2
    };
    enum QRMFileBoolEnum {
        QRM_FILE_BOOL_READONLY = 1,
        QRM_FILE_BOOL_HIDDEN = 2,
        QRM_FILE_BOOL_SYSTEM = 4,
        QRM_FILE_BOOL_EXISTS = 8
    };
    enum QRMFileAccessModeEnum {
        QRM_FILE_ACCESS_READ = 1,
        QRM_FILE_ACCESS_WRITE = 2,
        QRM_FILE_ACCESS_READWRITE = 3
    };
    enum QRMFileShareModeEnum {
        QRM_FILE_SHARE_NONE = 0,
        QRM_FILE_SHARE_READ = 1,
        QRM_FILE_SHARE_WRITE = 2,
        QRM_FILE_SHARE_READWRITE = 3
    };

    QRMFile();
    QRMFile(const QRMString& path);
    QRMFile(const QRMFile& other);
    QRMFile& operator=(const QRMFile& other);
    virtual ~QRMFile();

    bool operator==(const QRMFile& other) const;
    bool operator!=(const QRMFile& other) const;

    bool HasPath() const;
    QRMString GetPath() const;
    int SetPath(const QRMString& path);
    bool Exists() const;

    QRMString GetName() const;
    QRMString GetBaseName() const;
    QRMString GetExtension() const;
    QRMString GetParentPath(bool keepSeparator) const;
    bool SetName(const QRMString& name);
    bool AppendName(const QRMString& name);
    bool RemoveName();
    bool SetExtension(const QRMString& extension);
    bool HasValidPath() const;
    bool IsValidName() const;

    bool ParentExists() const;
    unsigned long long GetSize() const;
    bool IsEmpty() const;
    bool Delete() const;
    bool MakeDirectory(bool recursive, QRMErrorCodeEnum* error);
    bool Create(bool makeParent, QRMErrorCodeEnum* error);
    bool Touch();

    QRMTime GetTime(QRMFileTimeEnum which) const;
    bool SetTime(QRMFileTimeEnum which, const QRMTime& time);
    bool GetBool(QRMFileBoolEnum which) const;
    bool SetBool(QRMFileBoolEnum which, bool value);
    bool IsOpen() const;
    bool CanOpen(QRMFileAccessModeEnum access, QRMFileShareModeEnum share) const;
    int ResolveAlias();
    void ResolvePathAliases();

private:
    QRMString ContainingDirectory() const;

    QRMString m_path;
};

#endif
