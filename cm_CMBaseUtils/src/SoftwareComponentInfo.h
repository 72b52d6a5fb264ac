#ifndef CM_CMBASEUTILS_SOFTWARECOMPONENTINFO_H
#define CM_CMBASEUTILS_SOFTWARECOMPONENTINFO_H

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include "DeviceInfo.h"

// One context type of the package (a CONTEXT_TYPE element).
struct CContextList {
    std::string contextName;
    std::string invInterface;
    std::string updateInterface;
    std::string invModule;
    std::string updateModule;
};

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

    // Further queries over "package.xml" and the inventory look-up. Queries
    // that parse the package again leave the new document as the held one.
    std::string GetComponentType();
    std::string GetComponentVersion();
    std::string GetComponentTypeDisplayString();
    std::string GetPackageID();
    // First value of the attribute (or else the first text) among the nodes
    // of the expression in the held document.
    std::string GetValue(std::string xpathExpression, std::string attributeName);
    std::string GetComponentID();
    std::string GetMinComponentID();
    std::string GetComponentDisplayString();
    bool getPresenceOfRollbackInfo();
    std::map<std::string, std::string> getCompIDMarkNameInfo();
    std::string getMarketingNameForNonPCIDevice(std::string& componentID);
    // Like GetSupportedDevices, plus one entry for each Device that has a
    // component id but no PCI identity.
    std::vector<SPCIInfo> GetAllSupportedDevices();
    // Adds (priority, context) for every CONTEXT_TYPE whose priority the map
    // does not hold yet; true when the map is not empty afterwards.
    bool GetSupportedContextTypes(std::map<unsigned int, CContextList>& contexts);
    xmlXPathObjectPtr getnodeset(xmlDocPtr doc, xmlChar* xpathExpression);
    // Writes the Device elements of the inventory text in `input` whose
    // componentID equals the (hexadecimal) id to `output`.
    bool GetInvFromVCL(std::string componentID, std::stringstream& output, std::stringstream& input);

    // Dependency reader: one record per dependency of the supported devices
    // (the caller owns and deletes them).
    std::vector<CDeviceInfo*> getDependencyInfo();
    // Appends the record unless the list already holds an equal one with the
    // same parent component id; a rejected record stays the caller's.
    void AddDependencyInfo(std::vector<CDeviceInfo*>& dependencies, CDeviceInfo*& record);
    // "0x" + systemID of every Model/DepModel under the Brand/DepBrand
    // elements from `first` on through its following siblings.
    std::vector<std::string> getPlatformInfo(_xmlNode* first);

private:
    // Parses the package path again; the new document (null when the parse
    // fails) replaces the held one, which is released.
    void ReparsePackage();
    void ReleaseDocument();
    // Re-reads the package and gives the attribute of the last node the
    // expression selects that carries it; "" when none does.
    std::string LastAttributeValue(const char* expression, const char* attributeName);

    std::string m_strPackagePath;
    _xmlDoc* m_pDoc;
};

#endif
