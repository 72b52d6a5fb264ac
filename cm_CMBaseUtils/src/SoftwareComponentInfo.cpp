#define ZAGO_LOG_UNIT "cm_CMBaseUtils/src/SoftwareComponentInfo"

#include "SoftwareComponentInfo.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <iomanip>
#include <sstream>

#include "FileIO.h"
#include "Logger.h"
#include "PlatformLayer.h"

namespace {

// Evaluates the expression on the document; null when evaluation failed
// (logged with the caller's words) or found no node (`empty` set, nothing
// logged). A null document gives a context whose evaluation finds no nodes.
xmlXPathObjectPtr evaluateNodeSet(xmlDocPtr doc, xmlChar* expression, const char* contextError,
                                  const char* evaluationError, bool& empty)
{
    empty = false;
    xmlXPathContextPtr context = xmlXPathNewContext(doc);
    if (context == nullptr) {
        ZLOG(contextError);
        return nullptr;
    }
    xmlXPathObjectPtr result = nullptr;
    if (expression != nullptr)
        result = xmlXPathEvalExpression(expression, context);
    xmlXPathFreeContext(context);
    if (result == nullptr) {
        ZLOG(evaluationError);
        return nullptr;
    }
    if (result->nodesetval == nullptr || result->nodesetval->nodeNr <= 0 || result->nodesetval->nodeTab == nullptr) {
        xmlXPathFreeObject(result);
        empty = true;
        return nullptr;
    }
    return result;
}


const char* const kPackageFileName = "package.xml";

// xmlParseFile for the package descriptor, on a descriptor of our own: only
// a regular file is parsed (a FIFO named "package.xml" would hang the run),
// and the shell commands of the run never inherit it. Null, like
// xmlParseFile, when the file cannot be opened or parsed.
xmlDocPtr parsePackageFile(const std::string& path)
{
    CUniqueFd fd(OpenRegularFileForReading(path));
    if (!fd.valid())
        return nullptr;
    return xmlReadFd(fd.get(), path.c_str(), nullptr, 0);
}
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
// pad them so entries have one canonical minimum width. Only digits are
// padded: zeros put before a blank or misspelt identifier would turn it
// into a number ("  " into "00  ") that matches a device.
std::string padIdentifier(const char* text)
{
    for (const char* c = text; *c != '\0'; ++c) {
        if (!std::isxdigit(static_cast<unsigned char>(*c)))
            return text;
    }
    std::ostringstream out;
    out << std::setw(4) << std::setfill('0') << std::right << text;
    return out.str();
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
        m_pDoc = parsePackageFile(m_strPackagePath);
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
    _xmlDoc* doc = parsePackageFile(m_strPackagePath);
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

    m_pDoc = parsePackageFile(m_strPackagePath);
    if (m_pDoc == nullptr)
        ZLOG("CSoftwareComponentInfo::Init() Document " + m_strPackagePath + " not parsed successfully ");
    ZLOG("CSoftwareComponentInfo::Init() Exiting");
}

xmlXPathObjectPtr CSoftwareComponentInfo::GetNodeSet(_xmlDoc* doc, unsigned char* xpathExpression)
{
    ZLOG("CSoftwareComponentInfo::GetNodeSet() Entering");
    bool empty = false;
    xmlXPathObjectPtr result =
        evaluateNodeSet(doc, xpathExpression, "CSoftwareComponentInfo::GetNodeSet() Error in xmlXPathNewContext",
                        "CSoftwareComponentInfo::GetNodeSet() Error in xmlXPathEvalExpression", empty);
    if (empty)
        ZLOG("CSoftwareComponentInfo::GetNodeSet() Empty nodeset");
    if (result == nullptr)
        return nullptr;
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
        if (SamePCIIdentity(device, entry)) {
            answer = entry.display;
            ZLOG("CSoftwareComponentInfo::getMarketingNameForPCIDevice() Found a match with PCI Devices from "
                 "package.xml");
        }
    }

    ZLOG("CSoftwareComponentInfo::getMarketingNameForPCIDevice() Exiting");
    return answer;
}

// ---------------------------------------------------------------------------
// Further package queries and the inventory look-up
// ---------------------------------------------------------------------------
namespace {

const char* const kComponentTypeXPath = "//SoftwareComponent/ComponentType";
const char* const kSoftwareComponentXPath = "//SoftwareComponent";
const char* const kComponentTypeDisplayXPath = "//SoftwareComponent/ComponentType/Display";
const char* const kRollbackInfoXPath = "//SoftwareComponent/SupportedDevices/Device/RollbackInformation";
const char* const kContextTypeXPath = "//CONTEXT/CONTEXT_TYPE";
const char* const kDependencyXPath =
    " //SoftwareComponent/SupportedDevices/Device/Dependency | //SoftwareComponent/SupportedDevices/Device/SoftDependency";

unsigned char* xpath(const char* expression)
{
    return reinterpret_cast<unsigned char*>(const_cast<char*>(expression));
}

std::string text(const xmlChar* value)
{
    return value != nullptr ? std::string(reinterpret_cast<const char*>(value)) : std::string();
}

// Attribute value by the reader's rule; null when missing or empty.
const xmlChar* attributeValue(xmlNode* node, const char* name)
{
    if (node == nullptr)
        return nullptr;
    xmlAttrPtr attribute = xmlHasProp(node, reinterpret_cast<const xmlChar*>(name));
    if (attribute == nullptr || attribute->children == nullptr || attribute->children->content == nullptr ||
        attribute->children->content[0] == '\0')
        return nullptr;
    return attribute->children->content;
}

// Only a plain hexadecimal id may go into the look-up expression: anything
// else (quotes, brackets, "or") could change what the expression selects.
bool isHexadecimalId(const std::string& id)
{
    if (id.empty())
        return false;
    for (std::string::size_type i = 0; i < id.size(); ++i)
        if (!std::isxdigit(static_cast<unsigned char>(id[i])))
            return false;
    return true;
}

} // namespace

std::string CSoftwareComponentInfo::LastAttributeValue(const char* expression, const char* attributeName)
{
    std::string answer;
    ReparsePackage();
    xmlXPathObjectPtr nodes = GetNodeSet(m_pDoc, xpath(expression));
    if (nodes == nullptr)
        return answer;
    for (int i = 0; i < nodes->nodesetval->nodeNr; ++i) {
        const xmlChar* value = attributeValue(nodes->nodesetval->nodeTab[i], attributeName);
        if (value != nullptr)
            answer = text(value);
    }
    xmlXPathFreeObject(nodes);
    return answer;
}

std::string CSoftwareComponentInfo::GetComponentType()
{
    return LastAttributeValue(kComponentTypeXPath, "value");
}

std::string CSoftwareComponentInfo::GetComponentVersion()
{
    return LastAttributeValue(kSoftwareComponentXPath, "vendorVersion");
}

std::string CSoftwareComponentInfo::GetValue(std::string xpathExpression, std::string attributeName)
{
    ZLOG("Entering GetStringFromPackageXML function");
    xmlXPathObjectPtr nodes = nullptr;
    if (m_pDoc != nullptr)
        nodes = GetNodeSet(m_pDoc, xpath(xpathExpression.c_str()));
    if (nodes == nullptr) {
        ZLOG("Exiting GetStringFromPackageXML function");
        return "";
    }
    for (int i = 0; i < nodes->nodesetval->nodeNr; ++i) {
        xmlNodePtr node = nodes->nodesetval->nodeTab[i];
        if (!attributeName.empty()) {
            const xmlChar* value = attributeValue(node, attributeName.c_str());
            if (value != nullptr) {
                std::string answer = text(value);
                xmlXPathFreeObject(nodes);
                return answer;
            }
        }
        const xmlChar* content = firstChildText(node);
        if (content != nullptr) {
            std::string answer = text(content);
            ZLOG(answer);
            ZLOG("Exiting GetStringFromPackageXML function");
            xmlXPathFreeObject(nodes);
            return answer;
        }
    }
    xmlXPathFreeObject(nodes);
    ZLOG("Exiting GetStringFromPackageXML function");
    return "";
}

std::string CSoftwareComponentInfo::GetComponentTypeDisplayString()
{
    return GetValue(kComponentTypeDisplayXPath, "");
}

std::string CSoftwareComponentInfo::GetPackageID()
{
    return GetValue(kSoftwareComponentXPath, "");
}

std::string CSoftwareComponentInfo::GetComponentID()
{
    ZLOG("Entering CSoftwareComponentInfo::GetComponentID()");
    std::string answer;
    xmlXPathObjectPtr nodes = ParseXmlUsingXpath();
    if (nodes != nullptr) {
        answer = text(attributeValue(nodes->nodesetval->nodeTab[0], "componentID"));
        ZLOG("Found the component id as " + answer);
        xmlXPathFreeObject(nodes);
    }
    ZLOG("Leaving CSoftwareComponentInfo::GetComponentID()");
    return answer;
}

std::string CSoftwareComponentInfo::GetMinComponentID()
{
    ZLOG("Entering CSoftwareComponentInfo::GetMinComponentID()");
    std::string answer;
    xmlXPathObjectPtr nodes = ParseXmlUsingXpath();
    if (nodes != nullptr) {
        std::vector<long long> ids;
        for (int i = 0; i < nodes->nodesetval->nodeNr; ++i) {
            // A Device without an id has no number to compare; it is not
            // counted as id 0.
            const xmlChar* value = attributeValue(nodes->nodesetval->nodeTab[i], "componentID");
            if (value != nullptr)
                ids.push_back(std::strtol(reinterpret_cast<const char*>(value), nullptr, 10));
        }
        xmlXPathFreeObject(nodes);
        if (!ids.empty()) {
            long long lowest = ids[0];
            for (long long id : ids)
                if (id < lowest)
                    lowest = id;
            std::ostringstream out;
            out << lowest;
            answer = out.str();
        }
    }
    ZLOG("Leaving CSoftwareComponentInfo::GetMinComponentID()");
    return answer;
}

std::string CSoftwareComponentInfo::GetComponentDisplayString()
{
    std::string answer;
    xmlXPathObjectPtr nodes = ParseXmlUsingXpath();
    if (nodes == nullptr)
        return answer;
    for (int i = 0; i < nodes->nodesetval->nodeNr; ++i) {
        xmlNodePtr first = nodes->nodesetval->nodeTab[i]->children;
        if (!isElementNamed(first, "Display"))
            continue;
        const xmlChar* content = firstChildText(first);
        if (content != nullptr) {
            answer = text(content);
            ZLOG("CSoftwareComponentInfo::GetComponentDisplayString()  " + answer + "\n");
        } else {
            ZLOG("CSoftwareComponentInfo::GetComponentDisplayString() failed to get the Display info from package.xml "
                 "for device");
        }
        break;
    }
    xmlXPathFreeObject(nodes);
    return answer;
}

bool CSoftwareComponentInfo::getPresenceOfRollbackInfo()
{
    ZLOG("Entering getPresenceOfGuid function");
    ReparsePackage();
    bool present = false;
    xmlXPathObjectPtr nodes = GetNodeSet(m_pDoc, xpath(kRollbackInfoXPath));
    if (nodes != nullptr) {
        ZLOG("GUID Tag found in package.xml");
        present = true;
        xmlXPathFreeObject(nodes);
    } else {
        ZLOG("ParseXmlUsingXpath failed");
    }
    ZLOG("Leaving getPresenceOfGuid function");
    return present;
}

std::map<std::string, std::string> CSoftwareComponentInfo::getCompIDMarkNameInfo()
{
    ZLOG("Entering CSoftwareComponentInfo::GetCompIDMarkNameInfo()");
    std::map<std::string, std::string> names;
    xmlXPathObjectPtr nodes = ParseXmlUsingXpath();
    if (nodes != nullptr) {
        for (int i = 0; i < nodes->nodesetval->nodeNr; ++i) {
            xmlNodePtr device = nodes->nodesetval->nodeTab[i];
            const xmlChar* idValue = attributeValue(device, "componentID");
            if (idValue == nullptr)
                continue; // nothing to file a name under
            const std::string id = text(idValue);
            ZLOG("GetCompIDMarkNameInfo() Found the Component ID as " + id);
            ZLOG("GetCompIDMarkNameInfo() Finding the Marketing name for device with component id " + id);
            for (xmlNodePtr child = device->children; child != nullptr; child = child->next) {
                if (!isElementNamed(child, "Display"))
                    continue;
                ZLOG("GetCompIDMarkNameInfo() Found a Display element under Device element");
                const xmlChar* content = firstChildText(child);
                if (content == nullptr)
                    continue;
                ZLOG("GetCompIDMarkNameInfo() Got the marketing name/Display name for a Non-PCI Device with "
                     "Component ID  " +
                     id + " as " + text(content));
                names[id] = text(content);
                break;
            }
        }
        xmlXPathFreeObject(nodes);
    }
    ZLOG("Leaving CSoftwareComponentInfo::GetCompIDMarkNameInfo()");
    return names;
}

std::string CSoftwareComponentInfo::getMarketingNameForNonPCIDevice(std::string& componentID)
{
    ZLOG("Entering CSoftwareComponentInfo::getMarketingNameForNonPCIDevice()");
    std::string answer;
    std::map<std::string, std::string> names = getCompIDMarkNameInfo();
    for (const auto& entry : names) {
        ZLOG("getMarketingNameForNonPCIDevice() Finding a match with PCI Device");
        if (xmlStrcasecmp(reinterpret_cast<const xmlChar*>(entry.first.c_str()),
                          reinterpret_cast<const xmlChar*>(componentID.c_str())) == 0) {
            answer = entry.second;
            ZLOG("getMarketingNameForNonPCIDevice() Found a match with Non-PCI Devices from package.xml");
        }
    }
    ZLOG("Leaving CSoftwareComponentInfo::getMarketingNameForNonPCIDevice()");
    return answer;
}

std::vector<SPCIInfo> CSoftwareComponentInfo::GetAllSupportedDevices()
{
    std::vector<SPCIInfo> devices;
    ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Entering");

    ReparsePackage();
    xmlXPathObjectPtr nodes = GetNodeSet(m_pDoc, xpath(kSupportedDevicesXPath));
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
        ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Finding the Component ID and PCI Info");
        const std::string componentID = text(attributeValue(device, "componentID"));
        bool hasPCIInfo = false;

        // Entries start from scratch, as in GetSupportedDevices: nothing is
        // carried over from the entry before.
        for (xmlNodePtr child = device->children; child != nullptr; child = child->next) {
            if (!isElementNamed(child, "PCIInfo"))
                continue;
            hasPCIInfo = true;
            ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Found a PCI Device");
            SPCIInfo entry;
            entry.componentID = componentID;
            std::string* fields[] = {&entry.deviceID, &entry.subDeviceID, &entry.vendorID, &entry.subVendorID};
            for (int f = 0; f < 4; ++f) {
                const xmlChar* value = attributeValue(child, identifierNames[f]);
                if (value != nullptr)
                    *fields[f] = padIdentifier(reinterpret_cast<const char*>(value));
            }
            for (xmlNodePtr sibling = child->next; sibling != nullptr; sibling = sibling->next) {
                if (!isElementNamed(sibling, "Display"))
                    continue;
                ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Found a Display element under Device element");
                const xmlChar* content = firstChildText(sibling);
                if (content != nullptr) {
                    entry.display = text(content);
                    ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Got the marketing name/Display name for a "
                         "PCI Device as " +
                         entry.display);
                    break;
                }
            }
            devices.push_back(entry);
        }

        // A device known by component id only: identity and display empty.
        if (!hasPCIInfo && !componentID.empty()) {
            ZLOG("CSoftwareComponentInfo::GetSupportedDevices() No PCI Info present.Pushing ComponentID " +
                 componentID);
            SPCIInfo entry;
            entry.componentID = componentID;
            devices.push_back(entry);
        }
    }

    xmlXPathFreeObject(nodes);
    ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Exiting");
    return devices;
}

bool CSoftwareComponentInfo::GetSupportedContextTypes(std::map<unsigned int, CContextList>& contexts)
{
    ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Entering");
    ReparsePackage();
    bool answer = false;
    xmlXPathObjectPtr nodes = GetNodeSet(m_pDoc, xpath(kContextTypeXPath));
    if (nodes == nullptr) {
        ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Error during calculating xpath expression");
    } else {
        ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Found Some Context Nodes");
        for (int i = 0; i < nodes->nodesetval->nodeNr; ++i) {
            xmlNodePtr contextType = nodes->nodesetval->nodeTab[i];
            ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Finding the Component ID and PCI Info");
            CContextList record;
            unsigned int priority = 0;
            record.contextName = text(attributeValue(contextType, "name"));
            for (xmlNodePtr child = contextType->children; child != nullptr; child = child->next) {
                ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Found a PCI Device");
                if (child->type != XML_ELEMENT_NODE || child->name == nullptr)
                    continue;
                const xmlChar* value = attributeValue(child, "value");
                if (value == nullptr)
                    continue;
                const std::string name = text(child->name);
                if (name == "Priority") {
                    std::istringstream in(text(value));
                    unsigned int read = 0;
                    in >> read;
                    priority = in.fail() ? 0 : read;
                } else if (name == "INV_MODULE") {
                    record.invModule = text(value);
                } else if (name == "INV_INTERFACE") {
                    record.invInterface = text(value);
                } else if (name == "UPDATE_MODULE") {
                    record.updateModule = text(value);
                } else if (name == "UPDATE_INTERFACE") {
                    record.updateInterface = text(value);
                }
            }
            contexts.insert(std::make_pair(priority, record));
        }
        xmlXPathFreeObject(nodes);
        answer = !contexts.empty();
    }
    ZLOG("CSoftwareComponentInfo::GetSupportedDevices() Exiting");
    return answer;
}

xmlXPathObjectPtr CSoftwareComponentInfo::getnodeset(xmlDocPtr doc, xmlChar* xpathExpression)
{
    bool empty = false;
    return evaluateNodeSet(doc, xpathExpression, "CIdentityModuleInventory::getnodeset :: Error in xmlXPathNewContext",
                           "CIdentityModuleInventory::getnodeset :: Error in xmlXPathEvalExpression", empty);
}

bool CSoftwareComponentInfo::GetInvFromVCL(std::string componentID, std::stringstream& output,
                                           std::stringstream& input)
{
    const std::string inventory = input.str();
    if (inventory.size() > static_cast<std::string::size_type>(INT_MAX))
        return false;
    xmlDocPtr doc = xmlParseMemory(inventory.c_str(), static_cast<int>(inventory.size()));
    if (doc == nullptr)
        return false;

    if (!isHexadecimalId(componentID)) {
        ZLOG("CIdentityModuleInventory::GetInvFromVCL:: component ID rejected, not hexadecimal: " + componentID);
        xmlFreeDoc(doc);
        return false;
    }

    const std::string expression = QUERYCOMPID + componentID + XPATH_SUFFIX;
    xmlXPathObjectPtr nodes =
        getnodeset(doc, reinterpret_cast<xmlChar*>(const_cast<char*>(expression.c_str())));
    if (nodes == nullptr) {
        ZLOG("CIdentityModuleInventory::GetInvFromVCL:: component ID not found");
        xmlFreeDoc(doc);
        return true;
    }

    ZLOG("CIdentityModuleInventory::GetInvFromVCL:: component ID found");
    bool answer = true;
    for (int i = 0; i < nodes->nodesetval->nodeNr; ++i) {
        xmlBufferPtr buffer = xmlBufferCreate();
        if (buffer == nullptr) {
            answer = false;
            break;
        }
        xmlNodeDump(buffer, doc, nodes->nodesetval->nodeTab[i], 0, 1);
        const xmlChar* content = xmlBufferContent(buffer);
        if (content != nullptr)
            output << reinterpret_cast<const char*>(content);
        else
            output.setstate(std::ios::badbit);
        xmlBufferFree(buffer);
    }
    xmlXPathFreeObject(nodes);
    xmlFreeDoc(doc);
    return answer;
}

// ---------------------------------------------------------------------------
// Dependency reader
// ---------------------------------------------------------------------------
std::vector<std::string> CSoftwareComponentInfo::getPlatformInfo(_xmlNode* first)
{
    ZLOG("CSoftwareComponentInfo::getPlatformInfo() Entering");
    std::vector<std::string> platforms;
    for (xmlNodePtr node = first; node != nullptr; node = node->next) {
        if (!isElementNamed(node, "Brand") && !isElementNamed(node, "DepBrand"))
            continue;
        for (xmlNodePtr model = node->children; model != nullptr; model = model->next) {
            if (!isElementNamed(model, "Model") && !isElementNamed(model, "DepModel"))
                continue;
            // A model without a system id names no platform.
            const xmlChar* systemID = attributeValue(model, "systemID");
            if (systemID != nullptr)
                platforms.push_back("0x" + text(systemID));
        }
    }
    ZLOG("CSoftwareComponentInfo::getPlatformInfo() Exiting");
    return platforms;
}

void CSoftwareComponentInfo::AddDependencyInfo(std::vector<CDeviceInfo*>& dependencies, CDeviceInfo*& record)
{
    for (CDeviceInfo* entry : dependencies) {
        if (*entry == *record && entry->getParentComponentID() == record->getParentComponentID()) {
            ZLOG("CSoftwareComponentInfo::AddDependencyInfo() Found a duplicate entry");
            return;
        }
    }
    dependencies.push_back(record);
}

std::vector<CDeviceInfo*> CSoftwareComponentInfo::getDependencyInfo()
{
    std::vector<CDeviceInfo*> dependencies;

    ReparsePackage();
    xmlXPathObjectPtr nodes = GetNodeSet(m_pDoc, xpath(kDependencyXPath));
    ZLOG("CSoftwareComponentInfo::getDependencyInfo() Entered Method");
    if (nodes == nullptr) {
        ZLOG("CSoftwareComponentInfo::getDependencyInfo() ParseXmlUsingXpath failed");
        return dependencies;
    }

    static const char* const identifierNames[] = {"deviceID", "subDeviceID", "vendorID", "subVendorID"};
    static const char* const osNames[] = {"majorVersion", "minorVersion", "spMajorVersion", "spMinorVersion",
                                          "osVendor",     "osArch",       "buildNumber"};

    for (int i = 0; i < nodes->nodesetval->nodeNr; ++i) {
        xmlNodePtr dependency = nodes->nodesetval->nodeTab[i];
        xmlNodePtr device = dependency->parent;
        std::vector<std::string> platforms;
        std::vector<SOSInfo> operatingSystems;
        std::vector<SPCIInfo> pciEntries;

        CDeviceInfo* templ = new (std::nothrow) CDeviceInfo();
        if (templ == nullptr) {
            ZLOG("CSoftwareComponentInfo::getDependencyInfo() new  ( std::nothrow ) CDeviceInfo() failed");
            xmlXPathFreeObject(nodes);
            return dependencies;
        }

        templ->setDeviceType(CDeviceInfo::NON_PCI_DEVICE);
        if (isElementNamed(dependency, "SoftDependency")) {
            ZLOG("CSoftwareComponentInfo::getDependencyInfo() Found SoftDependecny");
            templ->setDependencyType(CDeviceInfo::SOFT_DEPENDENCY);
        } else {
            ZLOG("CSoftwareComponentInfo::getDependencyInfo() Found HardDependency");
            templ->setDependencyType(CDeviceInfo::HARD_DEPENDENCY);
        }

        const xmlChar* parentID = attributeValue(device, "componentID");
        if (parentID != nullptr) {
            templ->setParentComponentID(text(parentID));
            ZLOG("CSoftwareComponentInfo::getDependencyInfo() got the parent componentID info from package.xml");
        } else {
            ZLOG("CSoftwareComponentInfo::getDependencyInfo() failed to get the parent componentID info from "
                 "package.xml");
        }

        // Every identity read below starts empty: an attribute missing in
        // one element is absent, never taken over from an element before.
        templ->setParentDeviceType(CDeviceInfo::NON_PCI_DEVICE);
        std::vector<SPCIInfo> parentPCI;
        for (xmlNodePtr child = device != nullptr ? device->children : nullptr; child != nullptr; child = child->next) {
            if (!isElementNamed(child, "PCIInfo"))
                continue;
            templ->setParentDeviceType(CDeviceInfo::PCI_DEVICE);
            SPCIInfo parentEntry;
            std::string* fields[] = {&parentEntry.deviceID, &parentEntry.subDeviceID, &parentEntry.vendorID,
                                     &parentEntry.subVendorID};
            for (int f = 0; f < 4; ++f) {
                const xmlChar* value = attributeValue(child, identifierNames[f]);
                if (value != nullptr)
                    *fields[f] = text(value);
            }
            parentPCI.push_back(parentEntry);
        }
        templ->setParentPCIInfo(parentPCI);

        const xmlChar* context = attributeValue(dependency, "context");
        if (context != nullptr) {
            templ->setDependencyContext(text(context));
        } else {
            templ->setDependencyContext("OS");
            ZLOG("CSoftwareComponentInfo::getDependencyInfo() failed to get the context info from package.xml for "
                 "dependent device so setting Deafult as OS");
        }

        struct Attribute {
            const char* name;
            void (CDeviceInfo::*setter)(std::string);
        };
        static const Attribute attributes[] = {{"componentID", &CDeviceInfo::setComponentID},
                                               {"componentType", &CDeviceInfo::setComponentType},
                                               {"version", &CDeviceInfo::setVersion},
                                               {"path", &CDeviceInfo::setFilePath},
                                               {"releaseID", &CDeviceInfo::setReleaseID}};
        for (const Attribute& attribute : attributes) {
            const xmlChar* value = attributeValue(dependency, attribute.name);
            if (value != nullptr)
                (templ->*attribute.setter)(text(value));
            else
                ZLOG(std::string("CSoftwareComponentInfo::getDependencyInfo() failed to get the ") + attribute.name +
                     " info from package.xml for dependent device");
        }

        for (xmlNodePtr child = dependency->children; child != nullptr; child = child->next) {
            if (isElementNamed(child, "Display")) {
                const xmlChar* content = firstChildText(child);
                if (content != nullptr)
                    templ->setDisplay(text(content));
                else
                    ZLOG("CSoftwareComponentInfo::getDependencyInfo() failed to get the Display info from "
                         "package.xml for dependent device");
            }
            if (isElementNamed(child, "Detail")) {
                const xmlChar* content = firstChildText(child);
                if (content != nullptr)
                    templ->setDetail(text(content));
                else
                    ZLOG("CSoftwareComponentInfo::getDependencyInfo() failed to get the Detail info from "
                         "package.xml for dependent device");
            }
            if (isElementNamed(child, "Brand") || isElementNamed(child, "DepBrand")) {
                std::vector<std::string> found = getPlatformInfo(child);
                platforms.insert(platforms.end(), found.begin(), found.end());
                templ->setDependencyPlatforms(platforms);
            } else {
                ZLOG("CSoftwareComponentInfo::getDependencyInfo() unable to get the Platform info from package.xml "
                     "for dependent device");
            }
            if (isElementNamed(child, "OperatingSystem") || isElementNamed(child, "DepOperatingSystem")) {
                SOSInfo os;
                std::string* fields[] = {&os.majorVersion, &os.minorVersion, &os.spMajorVersion,
                                         &os.spMinorVersion, &os.osVendor, &os.osArch, &os.buildNumber};
                for (int f = 0; f < 7; ++f) {
                    const xmlChar* value = attributeValue(child, osNames[f]);
                    if (value != nullptr)
                        *fields[f] = text(value);
                    else
                        ZLOG("CSoftwareComponentInfo::getDependencyInfo() failed to get the MajorVersion info from "
                             "package.xml for dependent device");
                }
                operatingSystems.push_back(os);
            } else {
                ZLOG("CSoftwareComponentInfo::getDependencyInfo() unable to get the Platform info from package.xml "
                     "for dependent device or Opernating System Information Is not mentioned in the Dependency Node");
            }
            if (isElementNamed(child, "PCIInfo") || isElementNamed(child, "DepPCIInfo")) {
                ZLOG("CSoftwareComponentInfo::getDependencyInfo() Found a PCI Device");
                templ->setDeviceType(CDeviceInfo::PCI_DEVICE);
                SPCIInfo pci;
                std::string* fields[] = {&pci.deviceID, &pci.subDeviceID, &pci.vendorID, &pci.subVendorID};
                for (int f = 0; f < 4; ++f) {
                    const xmlChar* value = attributeValue(child, identifierNames[f]);
                    if (value != nullptr)
                        *fields[f] = text(value);
                }
                templ->setPCIInfo(pci);
                pciEntries.push_back(pci);
            }
        }
        templ->setDependencyOS(operatingSystems);

        if (pciEntries.empty()) {
            const size_t before = dependencies.size();
            AddDependencyInfo(dependencies, templ);
            if (dependencies.size() == before)
                delete templ;
            continue;
        }
        for (const SPCIInfo& pci : pciEntries) {
            CDeviceInfo* record = new (std::nothrow) CDeviceInfo(*templ);
            if (record == nullptr) {
                ZLOG("CSoftwareComponentInfo::getDependencyInfo() failed to get Memory allocation");
                continue;
            }
            record->setPCIInfo(pci);
            const size_t before = dependencies.size();
            AddDependencyInfo(dependencies, record);
            if (dependencies.size() == before)
                delete record;
            ZLOG("CSoftwareComponentInfo::getDependencyInfo() Adding dependency info for a PCI Device");
        }
        delete templ;
    }

    xmlXPathFreeObject(nodes);
    ZLOG("CSoftwareComponentInfo::getDependencyInfo() Exiting");
    return dependencies;
}
