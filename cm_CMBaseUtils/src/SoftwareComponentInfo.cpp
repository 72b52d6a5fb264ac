#define ZAGO_LOG_UNIT "cm_CMBaseUtils/src/SoftwareComponentInfo"

#include "SoftwareComponentInfo.h"

#include <climits>
#include <iomanip>
#include <sstream>

#include "Logger.h"
#include "PlatformLayer.h"
#include "StringUtils.h"

namespace {

const char* const kPackageFileName = "package.xml";
const char* const kSupportedDevicesXPath = "//SoftwareComponent/SupportedDevices/Device";

bool isElementNamed(const xmlNode* node, const char* name)
{
    return node != nullptr && node->type == XML_ELEMENT_NODE && node->name != nullptr &&
           xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

// Text of the element's first child, or null when it has none.
const xmlChar* firstChildText(const xmlNode* node)
{
    if (node == nullptr || node->children == nullptr || node->children->content == nullptr)
        return nullptr;
    if (node->children->content[0] == '\0')
        return nullptr;
    return node->children->content;
}

// Identifiers in "package.xml" may be written with fewer than four digits;
// pad them so entries have one canonical minimum width.
std::string padIdentifier(const char* text)
{
    std::ostringstream out;
    out << std::setw(4) << std::setfill('0') << std::right << text;
    return out.str();
}

// Identifiers from discovery ("a1f") and from "package.xml" ("0A1F") differ
// in case and leading zeros, so compare their values. An identifier missing
// on one side only never matches.
bool sameIdentifier(const std::string& a, const std::string& b)
{
    if (a.empty() || b.empty())
        return a.empty() && b.empty();
    return CStringUtils::Hex2Dec(a) == CStringUtils::Hex2Dec(b);
}

} // namespace

CSoftwareComponentInfo::CSoftwareComponentInfo() : m_strPackagePath(), m_pDoc(nullptr)
{
    if (CPlatformLayer::IsFileExits(strEnableLogFileName))
        CLogger::GetInstance()->Initialize(strBaseUtilsLogFileName);
    ZLOG("CSoftwareComponentInfo::CSoftwareComponentInfo() Entering Constructor Method");
    ParseXMl();
}

CSoftwareComponentInfo::CSoftwareComponentInfo(std::string& xmlText) : m_strPackagePath(), m_pDoc(nullptr)
{
    if (CPlatformLayer::IsFileExits(strEnableLogFileName))
        CLogger::GetInstance()->Initialize(strBaseUtilsLogFileName);
    ZLOG("CSoftwareComponentInfo::CSoftwareComponentInfo(String) Entering Constructor Method");
    ZLOG(xmlText);

    if (xmlText.size() <= static_cast<std::string::size_type>(INT_MAX))
        m_pDoc = xmlParseMemory(xmlText.c_str(), static_cast<int>(xmlText.size()));
    if (m_pDoc == nullptr)
        ZLOG("CSoftwareComponentInfo::CSoftwareComponentInfo(string) Document " + m_strPackagePath +
             " not parsed successfully ");
    ZLOG("CSoftwareComponentInfo::CSoftwareComponentInfo(string) Exiting");
}

CSoftwareComponentInfo::CSoftwareComponentInfo(char* fileName) : m_strPackagePath(), m_pDoc(nullptr)
{
    xmlKeepBlanksDefault(0);
    std::string name = fileName != nullptr ? fileName : "";
    m_strPackagePath = CPlatformLayer::getCurrentDirectory() + name;
    if (!name.empty() && CPlatformLayer::IsFileExits(name)) {
        m_pDoc = xmlParseFile(m_strPackagePath.c_str());
        if (m_pDoc == nullptr)
            ZLOG("CSoftwareComponentInfo::Init() Document " + m_strPackagePath + " not parsed successfully ");
        ZLOG("CSoftwareComponentInfo::Init() Exiting");
    }
}

CSoftwareComponentInfo::~CSoftwareComponentInfo()
{
    if (m_pDoc != nullptr) {
        xmlFreeDoc(m_pDoc);
        m_pDoc = nullptr;
        xmlCleanupParser();
    }
}

void CSoftwareComponentInfo::ReleaseDocument()
{
    if (m_pDoc != nullptr) {
        xmlFreeDoc(m_pDoc);
        m_pDoc = nullptr;
    }
}

void CSoftwareComponentInfo::ReparsePackage()
{
    _xmlDoc* doc = xmlParseFile(m_strPackagePath.c_str());
    ReleaseDocument();
    m_pDoc = doc;
}

void CSoftwareComponentInfo::ParseXMl()
{
    ZLOG("CSoftwareComponentInfo::Init() Entering");
    // Whitespace between elements must not become text nodes: the sibling
    // and first-child walks over the document rely on it.
    xmlKeepBlanksDefault(0);
    ReleaseDocument();

    m_strPackagePath = CPlatformLayer::getCurrentDirectory() + kPackageFileName;
    if (!CPlatformLayer::IsFileExits(kPackageFileName))
        return;

    m_pDoc = xmlParseFile(m_strPackagePath.c_str());
    if (m_pDoc == nullptr)
        ZLOG("CSoftwareComponentInfo::Init() Document " + m_strPackagePath + " not parsed successfully ");
    ZLOG("CSoftwareComponentInfo::Init() Exiting");
}

xmlXPathObjectPtr CSoftwareComponentInfo::GetNodeSet(_xmlDoc* doc, unsigned char* xpathExpression)
{
    ZLOG("CSoftwareComponentInfo::GetNodeSet() Entering");

    // A null document gives a context whose evaluation finds no nodes.
    xmlXPathContextPtr context = xmlXPathNewContext(doc);
    if (context == nullptr) {
        ZLOG("CSoftwareComponentInfo::GetNodeSet() Error in xmlXPathNewContext");
        return nullptr;
    }

    xmlXPathObjectPtr result = nullptr;
    if (xpathExpression != nullptr)
        result = xmlXPathEvalExpression(xpathExpression, context);
    xmlXPathFreeContext(context);
    if (result == nullptr) {
        ZLOG("CSoftwareComponentInfo::GetNodeSet() Error in xmlXPathEvalExpression");
        return nullptr;
    }

    if (result->nodesetval == nullptr || result->nodesetval->nodeNr <= 0 ||
        result->nodesetval->nodeTab == nullptr) {
        xmlXPathFreeObject(result);
        ZLOG("CSoftwareComponentInfo::GetNodeSet() Empty nodeset");
        return nullptr;
    }

    ZLOG("CSoftwareComponentInfo::GetNodeSet() Exiting");
    return result;
}

xmlChar* CSoftwareComponentInfo::GetAttributeValue(_xmlNode* node, const char* attributeName)
{
    if (node == nullptr || attributeName == nullptr)
        return nullptr;
    xmlAttrPtr attribute = xmlHasProp(node, reinterpret_cast<const xmlChar*>(attributeName));
    if (attribute == nullptr || attribute->children == nullptr)
        return nullptr;
    return attribute->children->content;
}

xmlXPathObjectPtr CSoftwareComponentInfo::ParseXmlUsingXpath()
{
    ZLOG("CSoftwareComponentInfo::ParseXmlUsingXpath() Entering");
    if (!CPlatformLayer::IsFileExits(kPackageFileName)) {
        ReleaseDocument();
        return nullptr;
    }

    ReparsePackage();
    xmlXPathObjectPtr result =
        GetNodeSet(m_pDoc, reinterpret_cast<unsigned char*>(const_cast<char*>(kSupportedDevicesXPath)));
    ZLOG("CSoftwareComponentInfo::ParseXmlUsingXpath() Exiting");
    return result;
}

xmlXPathObjectPtr CSoftwareComponentInfo::ParseXmlUsingXpath(char* xpathExpression)
{
    ReparsePackage();
    return GetNodeSet(m_pDoc, reinterpret_cast<unsigned char*>(xpathExpression));
}

std::vector<SPCIInfo> CSoftwareComponentInfo::GetSupportedDevices()
{
    std::vector<SPCIInfo> devices;
    ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Entering");

    ReparsePackage();
    xmlXPathObjectPtr nodes =
        GetNodeSet(m_pDoc, reinterpret_cast<unsigned char*>(const_cast<char*>(kSupportedDevicesXPath)));
    if (nodes == nullptr) {
        ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Error during calculating xpath expression");
        ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Exiting");
        return devices;
    }

    ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Found Some Device Nodes");
    static const char* const identifierNames[] = {"deviceID", "subDeviceID", "vendorID", "subVendorID"};
    xmlNodeSetPtr set = nodes->nodesetval;
    for (int i = 0; i < set->nodeNr; ++i) {
        xmlNodePtr device = set->nodeTab[i];
        if (device == nullptr)
            continue;
        ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Finding the Component ID and PCI Info");
        const xmlChar* componentID = GetAttributeValue(device, "componentID");

        for (xmlNodePtr child = device->children; child != nullptr; child = child->next) {
            if (!isElementNamed(child, "PCIInfo"))
                continue;
            ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Found a PCI Device");

            // Each entry starts from scratch: an attribute or display name
            // missing here must not be taken over from the entry before.
            SPCIInfo entry;
            if (componentID != nullptr)
                entry.componentID = reinterpret_cast<const char*>(componentID);

            std::string* fields[] = {&entry.deviceID, &entry.subDeviceID, &entry.vendorID, &entry.subVendorID};
            for (int f = 0; f < 4; ++f) {
                // An empty identifier stays empty rather than becoming "0000",
                // which would match a device whose identifier is 0.
                const xmlChar* value = GetAttributeValue(child, identifierNames[f]);
                if (value != nullptr && value[0] != '\0')
                    *fields[f] = padIdentifier(reinterpret_cast<const char*>(value));
            }

            for (xmlNodePtr sibling = child->next; sibling != nullptr; sibling = sibling->next) {
                if (!isElementNamed(sibling, "Display"))
                    continue;
                ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Found a Display element under Device element");
                const xmlChar* text = firstChildText(sibling);
                if (text != nullptr) {
                    entry.display = reinterpret_cast<const char*>(text);
                    ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Got the marketing name/Display name for a "
                         "PCI Device as " +
                         entry.display);
                    break;
                }
            }

            devices.push_back(entry);
        }
    }

    xmlXPathFreeObject(nodes);
    ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Exiting");
    return devices;
}

std::string CSoftwareComponentInfo::getMarketingNameForPCIDevice(SPCIInfo& device)
{
    ZLOG("CSoftwareComponentInfo::getMarketingNameForPCIDevice() Entering");
    std::vector<SPCIInfo> entries = GetSupportedDevices();
    std::string answer;

    // The last matching entry wins.
    for (const SPCIInfo& entry : entries) {
        ZLOG("CSoftwareComponentInfo::getMarketingNameForPCIDevice() Finding a match with PCI Device");
        if (sameIdentifier(device.deviceID, entry.deviceID) && sameIdentifier(device.subDeviceID, entry.subDeviceID) &&
            sameIdentifier(device.vendorID, entry.vendorID) && sameIdentifier(device.subVendorID, entry.subVendorID)) {
            answer = entry.display;
            ZLOG("CSoftwareComponentInfo::getMarketingNameForPCIDevice() Found a match with PCI Devices from "
                 "package.xml");
        }
    }

    ZLOG("CSoftwareComponentInfo::getMarketingNameForPCIDevice() Exiting");
    return answer;
}
