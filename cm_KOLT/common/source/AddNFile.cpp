#include "SecureTessa.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kPackageFile = "package.xml";
const xmlChar* const kSoftwareComponent = reinterpret_cast<const xmlChar*>("SoftwareComponent");
const xmlChar* const kSupportedDevices = reinterpret_cast<const xmlChar*>("SupportedDevices");
const xmlChar* const kDevice = reinterpret_cast<const xmlChar*>("Device");
const char* const kComponentID = "componentID";
const char* const kVendorVersion = "vendorVersion";

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

bool isElement(const xmlNode* node, const xmlChar* name)
{
    return node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, name) == 0;
}

// The text of an attribute of `element`: the content of the attribute
// node's first child. Empty when the attribute is missing or has no text.
std::string attributeText(xmlNode* element, const char* name)
{
    const xmlAttr* attribute = xmlHasProp(element, reinterpret_cast<const xmlChar*>(name));
    if (attribute == nullptr || attribute->children == nullptr || attribute->children->content == nullptr)
        return std::string();
    return reinterpret_cast<const char*>(attribute->children->content);
}

// Parses a package descriptor and checks its root element, logging and
// storing the failure as the readers of the descriptor do. libxml2's global
// state is left alone: the package reader and the IPMI configuration keep
// their documents for the whole run, and xmlCleanupParser would pull it from
// under them.
DocPtr openPackage(secureTessa& client, const std::string& path, xmlNode*& root)
{
    DocPtr doc(xmlParseFile(path.c_str()));
    root = nullptr;
    if (!doc) {
        TESSA_LOG("Could not open package.xml");
        client.storeErrorInfo(KOLT_NOPACKAGEIDENTITY);
        return nullptr;
    }
    root = xmlDocGetRootElement(doc.get());
    if (root == nullptr) {
        TESSA_LOG("Could not get root node");
        client.storeErrorInfo(KOLT_NOPACKAGEIDENTITY);
        return nullptr;
    }
    if (xmlStrcmp(root->name, kSoftwareComponent) != 0) {
        TESSA_LOG("Root node is not SoftwareComponent");
        client.storeErrorInfo(KOLT_NOPACKAGEIDENTITY);
        root = nullptr;
        return nullptr;
    }
    return doc;
}

// strtol's value truncated to 32 bits, as the ids are compared.
int32_t idNumber(const std::string& id)
{
    return static_cast<int32_t>(std::strtol(id.c_str(), nullptr, 10));
}

} // namespace

bool secureTessa::get_comp_id(std::string& id)
{
    TESSA_LOG("Getting component id from package.xml");
    std::vector<std::string> ids;
    {
        xmlNode* root = nullptr;
        const DocPtr doc = openPackage(*this, kPackageFile, root);
        if (!doc)
            return false;
        for (xmlNode* devices = root->children; devices != nullptr; devices = devices->next) {
            if (!isElement(devices, kSupportedDevices))
                continue;
            for (xmlNode* device = devices->children; device != nullptr; device = device->next) {
                if (!isElement(device, kDevice))
                    continue;
                TESSA_LOG("Found comp id:");
                // A Device without an id names no folder: it is skipped.
                const std::string text = attributeText(device, kComponentID);
                TESSA_LOG(text);
                if (!text.empty())
                    ids.push_back(text);
            }
        }
    }

    if (ids.empty()) {
        TESSA_LOG("Did not find SupportedDevices or Device or componentID");
        storeErrorInfo(KOLT_NOPACKAGEIDENTITY);
        return false;
    }

    size_t smallest = 0;
    int32_t smallestNumber = idNumber(ids[0]);
    TESSA_LOG("List of ComponentIds:");
    for (size_t i = 0; i < ids.size(); ++i) {
        TESSA_LOG(ids[i]);
        const int32_t number = idNumber(ids[i]);
        if (number < smallestNumber) {
            TESSA_LOG("This One Smaller");
            smallest = i;
            smallestNumber = number;
        }
    }
    id = ids[smallest];
    TESSA_LOG("Smallest ComponentId:" + id);
    return true;
}

bool secureTessa::getVendorVersion(const std::string& path, std::string& version)
{
    TESSA_LOG("Entering getVendorVersion");
    version.clear();
    std::string converted = path;
    TESSA_LOG("path at 1:" + converted);
    std::replace(converted.begin(), converted.end(), '\\', '/');
    TESSA_LOG("path at 2:" + converted);

    xmlNode* root = nullptr;
    const DocPtr doc = openPackage(*this, converted, root);
    if (!doc)
        return false;
    // Without a version there is nothing to compare a stored package with.
    const std::string text = attributeText(root, kVendorVersion);
    if (text.empty()) {
        TESSA_LOG("Could not get vendorVersion");
        storeErrorInfo(KOLT_NOPACKAGEIDENTITY);
        return false;
    }
    version = text;
    TESSA_LOG("VendorVersion from " + path + version);
    return true;
}

// Placeholders until the component folders land.
bool secureTessa::compareVendorVersion(const std::string&, bool&) { return false; }
bool secureTessa::system_specific_list_dir(std::string, std::vector<std::string>&) { return false; }
bool string_in_list(std::string, std::vector<std::string>) { return false; }
unsigned char* GetAttribute(struct _xmlNode*, const char*) { return nullptr; }
bool secureTessa::AttachAndCompare(bool&) { return false; }
bool secureTessa::IsFreshInstall(std::vector<std::string>&, uint8_t&) { return true; }
bool secureTessa::MakeFreshInstall() { return false; }
bool secureTessa::ReplaceCurrentFolder(std::string&) { return false; }
