#include "QRMEnvironmentInfo.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstdio>

namespace {

const QRMString::QRMCharEncodingType kUTF8 = QRMString::QRM_ENCODING_UTF8;

class LinuxUname : public IQRMUname {
public:
    int Uname(struct utsname* name) override { return uname(name); }
};

LinuxUname gLinuxUname;
// Constant-initialised, so a test program may install its own before main.
IQRMUname* gUname = &gLinuxUname;

// First line of the release file (without its newline); false when the file
// is missing or unreadable.
bool ReadFirstLine(const std::string& path, std::string& line)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        return false;
    }
    FILE* file = fopen(path.c_str(), "re");   // not inherited by commands the tool runs
    if (file == nullptr) {
        return false;
    }
    line.clear();
    int c;
    while ((c = fgetc(file)) != EOF && c != '\n') {
        line.push_back(static_cast<char>(c));
    }
    fclose(file);
    return true;
}

} // namespace

const QRMString strESXVerFile("/etc/vmware-release", kUTF8);
const char* const szESXiKernel = "VMkernel";

QRMOperatingSystemVersion::QRMOperatingSystemVersion()
    : mOSName(0), mOSArch(0), mOSType(0), mOSVendorName(0), mText(),
      mMajorVersion(0), mMinorVersion(0), mServicePackMajor(0), mServicePackMinor(0)
{
}

QRMOperatingSystemVersion::~QRMOperatingSystemVersion() {}

QRMLXOperatingSystemVersion::QRMLXOperatingSystemVersion() : mVersionSuffix(), mVendorVersion() {}

QRMLXOperatingSystemVersion::~QRMLXOperatingSystemVersion() {}

IQRMUname* QRMUnameAccess::Get() { return gUname; }

IQRMUname* QRMUnameAccess::SetForTesting(IQRMUname* uname)
{
    IQRMUname* previous = gUname;
    gUname = uname != nullptr ? uname : &gLinuxUname;
    return previous;
}

bool QRMLXOperatingSystemVersion::Initialize()
{
    std::string firstLine;
    if (ReadFirstLine(strESXVerFile.GetUTF8String(), firstLine) &&
        firstLine.find("VMware ESX") != std::string::npos) {
        mOSName = QRM_OS_VMWARE_ESX;
    }
    struct utsname name;
    if (QRMUnameAccess::Get()->Uname(&name) == 0 && strcasecmp(name.sysname, szESXiKernel) == 0) {
        mOSName = QRM_OS_VMWARE_ESXI;
    }
    return true;
}

QRMString QRMLXOperatingSystemVersion::GetVersion()
{
    std::string text = std::to_string(mMajorVersion) + "." + std::to_string(mMinorVersion) + "." +
                       std::to_string(mServicePackMajor) + "." + std::to_string(mServicePackMinor) +
                       "-" + mVersionSuffix.GetUTF8String();
    return QRMString(text.c_str(), kUTF8);
}

QRMString QRMLXOperatingSystemVersion::GetVendorVersion()
{
    mVendorVersion = QRMString("6.5", kUTF8);
    return mVendorVersion;
}

QRMEnvironmentInfo::QRMEnvironmentInfo() : mOSVersion(nullptr) {}

QRMEnvironmentInfo::~QRMEnvironmentInfo()
{
    delete mOSVersion;
}

bool QRMEnvironmentInfo::Initialize()
{
    if (mOSVersion == nullptr) {
        mOSVersion = new QRMLXOperatingSystemVersion();
        mOSVersion->Initialize();
    }
    return true;
}

int QRMEnvironmentInfo::GetOSName() const { return mOSVersion->mOSName; }
int QRMEnvironmentInfo::GetOSArch() const { return mOSVersion->mOSArch; }
int QRMEnvironmentInfo::GetOSType() const { return mOSVersion->mOSType; }
int QRMEnvironmentInfo::GetOSVendorName() const { return mOSVersion->mOSVendorName; }
QRMOperatingSystemVersion* QRMEnvironmentInfo::GetOSVersion() const { return mOSVersion; }
