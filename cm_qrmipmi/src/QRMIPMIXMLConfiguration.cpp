#define QRM_LOG_UNIT "cm_qrmipmi/src/QRMIPMIXMLConfiguration"

#include "QRMIPMIXMLConfiguration.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "PlatformLayer.h"
#include "QRMLogger.h"

namespace {

// True when the element carries name="<value>" exactly (the attribute's
// text is its first child).
bool HasNameAttribute(xmlNodePtr node, const char* value)
{
    xmlAttrPtr attribute = xmlHasProp(node, reinterpret_cast<const xmlChar*>("name"));
    if (attribute == nullptr || attribute->children == nullptr ||
        attribute->children->content == nullptr) {
        return false;
    }
    return strcmp(reinterpret_cast<const char*>(attribute->children->content), value) == 0;
}

xmlNodePtr FirstDefaultChild(xmlNodePtr parent)
{
    for (xmlNodePtr child = parent->children; child != nullptr; child = child->next) {
        if (HasNameAttribute(child, "Default")) {
            return child;
        }
    }
    return nullptr;
}

// The file is opened here rather than by the parser so that its descriptor
// is close-on-exec and a pipe or device at the name is refused instead of
// waited on or read.
xmlDocPtr ParseRegularFile(const std::string& fileName)
{
    const int fd = open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info;
    xmlDocPtr document = nullptr;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        document = xmlReadFd(fd, fileName.c_str(), nullptr, XML_PARSE_NONET);
    }
    close(fd);
    return document;
}

} // namespace

QRMIPMIXMLConfig::QRMIPMIXMLConfig(QRMString fileName)
    : mFileName(fileName), mInitialized(false), mDocument(nullptr), mDefaultNode(nullptr)
{
}

// The parsed document is deliberately left alone: the one reader lives until
// exit, when the package reader may already have run xmlCleanupParser, and
// libxml2 must not be used after that.
QRMIPMIXMLConfig::~QRMIPMIXMLConfig() {}

void QRMIPMIXMLConfig::SetConfigurationFileName(QRMString fileName)
{
    mFileName = fileName;
}

bool QRMIPMIXMLConfig::Initialize()
{
    const std::string fileName = mFileName.GetUTF8String();
    QRMLOG(QRM_LOG_INFO, "QRMIPMIXMLConfig::Initialize(%s) Entering", fileName.c_str());
    if (mInitialized) {
        return true;
    }
    struct stat info;
    if (stat(fileName.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        // Looked at no further: opening a pipe to test for it would wait
        // for a writer that may never come.
        QRMLOG(QRM_LOG_ERROR, "QRMIPMIXMLConfig::Initialize() - not a regular file");
    } else if (CPlatformLayer::IsFileExits(fileName)) {
        QRMLOG(QRM_LOG_INFO, "QRMIPMIXMLConfig::Initialize() File exist");
        mDocument = ParseRegularFile(fileName);
        if (mDocument != nullptr) {
            mInitialized = true;
        } else {
            QRMLOG(QRM_LOG_ERROR, "Parse unsuccessful");
        }
    } else {
        QRMLOG(QRM_LOG_ERROR, "QRMIPMIXMLConfig::Initialize() - File Not Found");
    }
    QRMLOG(QRM_LOG_ERROR, "QRMIPMIXMLConfig::Initialize() Leaving");
    return mInitialized;
}

xmlNodePtr QRMIPMIXMLConfig::GetDefaultConfigNode()
{
    QRMLOG(QRM_LOG_INFO, "QRMIPMIXMLConfig::GetDefaultConfigNode entering");
    if (mDefaultNode != nullptr) {
        QRMLOG(QRM_LOG_INFO, "QRMIPMIXMLConfig::GetDefaultConfigNode leaving");
        return mDefaultNode;
    }
    xmlNodePtr root = mDocument != nullptr ? xmlDocGetRootElement(mDocument) : nullptr;
    if (root == nullptr) {
        QRMLOG(QRM_LOG_ERROR, "QRMRoot is NULL");
        return nullptr;
    }
    xmlNodePtr level1 = FirstDefaultChild(root);
    if (level1 == nullptr) {
        QRMLOG(QRM_LOG_INFO, "No default device configuration node found");
        return nullptr;
    }
    xmlNodePtr level2 = FirstDefaultChild(level1);
    if (level2 == nullptr) {
        return nullptr;
    }
    mDefaultNode = level2;
    QRMLOG(QRM_LOG_INFO, "QRMIPMIXMLConfig::GetDefaultConfigNode leaving");
    return mDefaultNode;
}

bool QRMIPMIXMLConfig::GetConfigInt(const QRMString& key, int* value)
{
    const std::string keyName = key.GetUTF8String();
    QRMLOG(QRM_LOG_INFO, "QRMIPMIXMLConfig::GetConfigInt(%s) Entering", keyName.c_str());
    if (!mInitialized && !Initialize()) {
        QRMLOG(QRM_LOG_ERROR, "IPMI configuration not initialized");
        return false;
    }
    xmlNodePtr defaultNode = GetDefaultConfigNode();
    if (defaultNode == nullptr) {
        QRMLOG(QRM_LOG_ERROR, "No default IPMI config found");
        return false;
    }
    for (xmlNodePtr child = defaultNode->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && child->name != nullptr &&
            xmlStrcmp(child->name, reinterpret_cast<const xmlChar*>(keyName.c_str())) == 0) {
            xmlChar* content = xmlNodeGetContent(child);
            errno = 0;
            const long number =
                content != nullptr ? strtol(reinterpret_cast<const char*>(content), nullptr, 10) : 0;
            const bool fits = errno != ERANGE && number >= INT_MIN && number <= INT_MAX;
            xmlFree(content);
            if (!fits) {
                // Cut to an int it would come back as some unrelated value.
                QRMLOG(QRM_LOG_ERROR, "QRMIPMIXMLConfig::GetConfigInt(%s) value out of range, ignored",
                       keyName.c_str());
                return false;
            }
            if (value != nullptr) {
                *value = static_cast<int>(number);
            }
            return true;
        }
    }
    return false;
}

bool QRMIPMIXMLConfig::Release()
{
    if (mDocument != nullptr) {
        xmlFreeDoc(mDocument);
    }
    // The cached node lived in the freed document; forget both so a later
    // query parses afresh instead of reading freed memory.
    mDocument = nullptr;
    mDefaultNode = nullptr;
    mInitialized = false;
    return true;
}
