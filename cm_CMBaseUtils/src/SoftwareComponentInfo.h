#ifndef CM_CMBASEUTILS_SOFTWARECOMPONENTINFO_H
#define CM_CMBASEUTILS_SOFTWARECOMPONENTINFO_H

#include <string>
#include <vector>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include "DeviceInfo.h"

// Pieces of the XPath expression that looks a component id up in an
// inventory document: QUERYCOMPID + id + XPATH_SUFFIX.
static const std::string QUERYCOMPID = "/SVMInventory/Device[@componentID = \"";
static const std::string XPATH_SUFFIX = "\"]";

// Reader of the update package's descriptor "package.xml" in the working
// directory. Queries parse the file again, so every answer reflects the file
// as it is on disk at the time of the call.
class CSoftwareComponentInfo {
public:
    CSoftwareComponentInfo();
    // Builds the document from XML text held in memory.
    explicit CSoftwareComponentInfo(std::string& xmlText);
    // Like the default constructor for another file in the working
    // directory, without the log handling.
    explicit CSoftwareComponentInfo(char* fileName);
    ~CSoftwareComponentInfo();

    CSoftwareComponentInfo(const CSoftwareComponentInfo&) = delete;
    CSoftwareComponentInfo& operator=(const CSoftwareComponentInfo&) = delete;

    void ParseXMl();

    // Both return a result the caller releases with xmlXPathFreeObject, or
    // null when nothing matched.
    xmlXPathObjectPtr ParseXmlUsingXpath();
    xmlXPathObjectPtr ParseXmlUsingXpath(char* xpathExpression);

    // Non-empty XPath result (caller releases it) or null.
    xmlXPathObjectPtr GetNodeSet(_xmlDoc* doc, unsigned char* xpathExpression);

    // Attribute value as held by the document (not a copy), or null when the
    // attribute is missing or has no value.
    xmlChar* GetAttributeValue(_xmlNode* node, const char* attributeName);

    std::vector<SPCIInfo> GetSupportedDevices();
    std::string getMarketingNameForPCIDevice(SPCIInfo& device);

private:
    // Parses the package path again; the new document (null when the parse
    // fails) replaces the held one, which is released.
    void ReparsePackage();
    void ReleaseDocument();

    std::string m_strPackagePath;
    _xmlDoc* m_pDoc;
};

#endif
