#ifndef CM_QRMIPMI_FOUNDATION_QRMENVIRONMENTINFO_H
#define CM_QRMIPMI_FOUNDATION_QRMENVIRONMENTINFO_H

#include <sys/utsname.h>

#include <string>

#include "QRMString.h"

// Operating-system codes the library tells apart.
enum {
    QRM_OS_OTHER = 0,
    QRM_OS_VMWARE_ESX = 18,
    QRM_OS_VMWARE_ESXI = 19
};

// The host's uname(), through which the library tells an ESXi host; a mount
// namespace cannot change it, so tests install their own.
class IQRMUname {
public:
    virtual ~IQRMUname() {}
    // uname(2): 0 with the host's names filled in, or -1.
    virtual int Uname(struct utsname* name) = 0;
};

// The process-wide uname(), the real one unless a test installed another.
class QRMUnameAccess {
public:
    static IQRMUname* Get();
    // Test seam: installs another uname() (not owned) and returns the
    // previous one; null restores the real one.
    static IQRMUname* SetForTesting(IQRMUname* uname);
};

// Release file present on VMware ESX service consoles.
extern const QRMString strESXVerFile;
// uname() system name of an ESXi host.
extern const char* const szESXiKernel;

class QRMOperatingSystemVersion {
public:
    QRMOperatingSystemVersion();
    virtual ~QRMOperatingSystemVersion();
    virtual QRMString GetVersion() = 0;
    virtual bool Initialize() = 0;

    int mOSName;
    int mOSArch;
    int mOSType;
    int mOSVendorName;
    QRMString mText;
    int mMajorVersion;
    int mMinorVersion;
    int mServicePackMajor;
    int mServicePackMinor;
};

class QRMLXOperatingSystemVersion : public QRMOperatingSystemVersion {
public:
    QRMLXOperatingSystemVersion();
    ~QRMLXOperatingSystemVersion() override;

    QRMString GetVersion() override;
    bool Initialize() override;
    QRMString GetVendorVersion();

    QRMString mVersionSuffix;
    QRMString mVendorVersion;
};

class QRMEnvironmentInfo {
public:
    QRMEnvironmentInfo();
    ~QRMEnvironmentInfo();

    bool Initialize();
    int GetOSName() const;
    int GetOSArch() const;
    int GetOSType() const;
    int GetOSVendorName() const;
    QRMOperatingSystemVersion* GetOSVersion() const;

private:
    QRMEnvironmentInfo(const QRMEnvironmentInfo&) = delete;
    QRMEnvironmentInfo& operator=(const QRMEnvironmentInfo&) = delete;

    QRMOperatingSystemVersion* mOSVersion;
};

#endif
