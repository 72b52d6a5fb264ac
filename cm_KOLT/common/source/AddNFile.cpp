#include "SecureTessa.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "TessaPath.h"
#include "TessaResources.h"

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

// A component id names the package's folder on the firmware-image
// partition and is written into the controller's request document: only
// text that is one name there, and needs no escaping in the document, can
// be one.
bool namesOneFolder(const std::string& id)
{
    if (!TessaPath::isName(id))
        return false;
    for (const char c : id) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '<' || c == '&' || c == '"')
            return false;
    }
    return true;
}

// The id as a log line can show it: control characters as \xNN.
std::string printable(const std::string& text)
{
    std::string shown;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            static const char* const digits = "0123456789ABCDEF";
            shown += "\\x";
            shown += digits[byte >> 4];
            shown += digits[byte & 0x0F];
        } else {
            shown += c;
        }
    }
    return shown;
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
                // A Device without an id, or with one that cannot name the
                // component's folder, is skipped.
                const std::string text = attributeText(device, kComponentID);
                if (!text.empty() && !namesOneFolder(text)) {
                    TESSA_LOG("componentID is no folder name, skipped: [" + printable(text) + "]");
                    continue;
                }
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

namespace {

const char* const kCurrentDir = "current";
const char* const kPreviousDir = "previous";
const char* const kFirmwareImagePartition = "TES022";
const char* const kFirmwareImageFolder = "tes022";

// Holds a listing's folder handle for one scope.
struct DirClose {
    void operator()(DIR* dir) const { closedir(dir); }
};

std::string withSlashes(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// A place in the component's folder on the firmware-image partition, one
// name per level below it. A name that cannot be one there (a file name
// "..", an id that was never checked) is refused like an unusable
// destination.
std::optional<TessaPath> componentPlace(secureTessa& client, std::initializer_list<std::string> names)
{
    std::vector<std::string> levels{client.componentId};
    levels.insert(levels.end(), names);
    TessaPath::Fault fault = TessaPath::Fault::none;
    std::optional<TessaPath> place = TessaPath::on(kFirmwareImageFolder, levels, &fault);
    if (!place) {
        TESSA_LOG(std::string("No place in the component's folder, the path holds ") + TessaPath::describe(fault));
        client.storeErrorInfo(KOLT_EMPTYDESTINATION);
    }
    return place;
}

// Queues an entry for a place in the component's folder (see above) with
// the digest these folders always take.
bool queueInComponent(secureTessa& client, const std::string& source, exmlMode mode,
                      std::initializer_list<std::string> names)
{
    const std::optional<TessaPath> place = componentPlace(client, names);
    return place && client.AddFile(source, place->text(), mode, DIGEST_MD5);
}

} // namespace

unsigned char* GetAttribute(struct _xmlNode* element, const char* attributeName)
{
    if (element == nullptr || attributeName == nullptr)
        return nullptr;
    const xmlAttr* attribute = xmlHasProp(element, reinterpret_cast<const xmlChar*>(attributeName));
    if (attribute == nullptr || attribute->children == nullptr)
        return nullptr;
    return attribute->children->content;
}

bool string_in_list(std::string name, std::vector<std::string> list)
{
    TESSA_LOG("List of folder contents:");
    for (const std::string& entry : list) {
        TESSA_LOG(entry);
        if (entry == name)
            return true;
    }
    TESSA_LOG("END of List of folder contents:");
    return false;
}

bool secureTessa::system_specific_list_dir(std::string path, std::vector<std::string>& entries)
{
    entries.clear();
    TESSA_LOG("entering secureTessa::system_specific_list_dir");
    TESSA_LOG("path at 1:");
    TESSA_LOG(path);
    const std::string folder = withSlashes(path) + "/";
    TESSA_LOG("path at 2:");
    TESSA_LOG(folder);
    std::unique_ptr<DIR, DirClose> dir(opendir(folder.c_str()));
    if (!dir) {
        storeErrorInfo(KOLT_INTERNALERROR);
        TESSA_LOG("Exit at 1");
        return false;
    }
    while (const struct dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            entries.push_back(name);
    }
    return true;
}

bool secureTessa::compareVendorVersion(const std::string& mountPoint, bool& matched)
{
    TESSA_LOG("Entering compareVendorVersion");
    matched = false;
    const std::string current = mountPoint + "\\" + componentId + "\\" + kCurrentDir;
    std::vector<std::string> entries;
    if (!system_specific_list_dir(current, entries)) {
        TESSA_LOG("List Current folder failed");
        return false;
    }
    if (!string_in_list(kPackageFile, entries)) {
        TESSA_LOG("Current folder not there or package.xml not found in TES partition");
        return true;
    }
    TESSA_LOG("Found package.xml");
    std::string stored;
    if (!getVendorVersion(current + "\\" + kPackageFile, stored)) {
        TESSA_LOG("getVendorVersion from TES022 Failed");
        return false;
    }
    std::string running;
    if (!getVendorVersion(kPackageFile, running)) {
        TESSA_LOG("getVendorVersion from ZOR Failed");
        return false;
    }
    auto lower = [](std::string text) {
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    stored = lower(stored);
    running = lower(running);
    TESSA_LOG("tolower of Vendor Version from Tessa");
    TESSA_LOG(stored);
    TESSA_LOG("tolower of Vendor Version from ZOR");
    TESSA_LOG(running);
    if (stored == running) {
        TESSA_LOG("Vendor Version Matched");
        matched = true;
    }
    return true;
}

bool secureTessa::IsFreshInstall(std::vector<std::string>& entries, uint8_t& fresh)
{
    TESSA_LOG("Entering IsFreshInstall");
    fresh = 0;
    if (std::find(entries.begin(), entries.end(), kCurrentDir) != entries.end()) {
        TESSA_LOG("Current dir present in Tessa");
        return true;
    }
    TESSA_LOG("Current Folder not present in Tessa");
    if (std::find(entries.begin(), entries.end(), kPreviousDir) != entries.end()) {
        TESSA_LOG("Preivous Folder present in Tessa");
        return true;
    }
    TESSA_LOG("Previous Folder not present in Tessa");
    fresh = 1;
    return true;
}

bool secureTessa::MakeFreshInstall()
{
    TESSA_LOG("Entering MakeFreshInstall");
    if (freshInstall == 0) {
        TESSA_LOG("isFreshInstall is OFF");
        return false;
    }
    if (!queueInComponent(*this, "", dirmake, {kPreviousDir}))
        return false;
    return queueInComponent(*this, "", dirmake, {kCurrentDir});
}

bool secureTessa::ReplaceCurrentFolder(std::string& mountPoint)
{
    TESSA_LOG("Entering ReplaceCurrentFolder");
    const std::string componentFolder = mountPoint + "\\" + componentId;
    std::vector<std::string> entries;
    if (!system_specific_list_dir(componentFolder + "\\" + kCurrentDir, entries)) {
        TESSA_LOG("Listing files from MountPoint\\CompId\\current Failed");
        return false;
    }
    for (const std::string& name : entries)
        if (!queueInComponent(*this, "", filedelete, {kCurrentDir, name}))
            return false;
    if (!system_specific_list_dir(componentFolder, entries))
        return false;
    if (std::find(entries.begin(), entries.end(), kPreviousDir) == entries.end()) {
        TESSA_LOG("Previous dir not there, so make it");
        return queueInComponent(*this, "", dirmake, {kPreviousDir});
    }
    return true;
}

namespace {

// How one walk over the component's folders differs from the other: the
// lines AttachAndCompare and AddNFile log (null for none), and what a new
// vendor version needs while the partition is attached.
struct FolderWalk {
    // Logged before usb-storage block-listed (65) goes on to the caller;
    // null: the number is stored and the walk reports false.
    const char* blocklisted;
    const char* componentMissing;
    const char* componentListFailed;
    const char* freshInstall;
    const char* versionMatched;
    // Null: nothing is queued for a new version here.
    bool (*newVersion)(secureTessa& client, const std::string& mountPoint);
};

void logLine(const char* line)
{
    if (line != nullptr)
        TESSA_LOG(line);
}

// Attaches TES022, looks at the component's folders there and queues the
// folder work they need: the folders of a fresh install, current emptied
// for the same vendor version again, or what `walk` does for a new one.
// TES022 is detached on every way out once attached.
bool walkComponentFolders(secureTessa& client, const FolderWalk& walk, bool& matched)
{
    TESSA_LOG("Attaching TES022 and getting mount point");
    ScopedAttachment tes022(client, TESSA_SITE, {nullptr, nullptr});
    try {
        if (!tes022.attachNumbered(kFirmwareImagePartition)) {
            TESSA_LOG("AttachTessaParition Failed");
            return false;
        }
    } catch (unsigned char error) {
        if (walk.blocklisted == nullptr) {
            client.storeErrorInfo(error);
            return false;
        }
        if (error != KOLT_USBBLOCKLISTED) {
            TESSA_LOG("KOLT internal error");
            return false;
        }
        client.storeErrorInfo(error);
        TESSA_LOG(walk.blocklisted);
        throw;
    } catch (...) {
        TESSA_LOG("KOLT internal error");
        return false;
    }

    std::string mountPoint;
    client.getPartDrive(kFirmwareImagePartition, &mountPoint);
    std::vector<std::string> entries;
    if (!client.system_specific_list_dir(mountPoint, entries)) {
        TESSA_LOG("Listing files from Mount Point Failed");
        return false;
    }
    if (!string_in_list(client.componentId, entries)) {
        TESSA_LOG(walk.componentMissing);
        client.freshInstall = 1;
        return queueInComponent(client, "", dirmake, {}) && client.MakeFreshInstall();
    }
    TESSA_LOG("Component ID dir already there");
    if (!client.system_specific_list_dir(mountPoint + "\\" + client.componentId, entries)) {
        logLine(walk.componentListFailed);
        return false;
    }
    client.IsFreshInstall(entries, client.freshInstall);
    if (client.freshInstall != 0) {
        logLine(walk.freshInstall);
        if (!client.MakeFreshInstall()) {
            TESSA_LOG("MakeFreshInstall Failed");
            return false;
        }
        return true;
    }
    if (!client.compareVendorVersion(mountPoint, matched)) {
        TESSA_LOG("CompareVendorVersion Failed");
        return false;
    }
    if (matched) {
        logLine(walk.versionMatched);
        if (!client.ReplaceCurrentFolder(mountPoint)) {
            TESSA_LOG("ReplaceCurrentFolder Failed");
            return false;
        }
        return true;
    }
    return walk.newVersion == nullptr || walk.newVersion(client, mountPoint);
}

// The planner of the older controllers rotates whole folders after the walk.
const FolderWalk kCompareWalk = {
    "Throwing USBBlocklisted Error from AttachAndCompares",
    "Component ID Dir not there, so make it",
    "Listing files from MountPoint\\CompId Failed",
    "isFreshInstall is ON",
    nullptr,
    nullptr,
};

} // namespace

bool secureTessa::AttachAndCompare(bool& matched)
{
    TESSA_LOG("Entering AttachAndCompare");
    matched = false;
    if (!get_comp_id(componentId)) {
        TESSA_LOG("Get Component ID failed");
        return false;
    }
    return walkComponentFolders(*this, kCompareWalk, matched);
}

namespace {

// The file name of a host path: the text after its last '/' or '\', all of
// it when it has neither, empty when it ends with one.
std::string baseName(const std::string& path)
{
    const std::string::size_type position = path.find_last_of("/\\");
    return position == std::string::npos ? path : path.substr(position + 1);
}

// AddNFile's rotation for a new vendor version: previous is emptied entry by
// entry (or made), and every entry of current moves into it on its own;
// current itself stays.
bool rotateEntryByEntry(secureTessa& client, const std::string& mountPoint)
{
    const std::string componentOnHost = mountPoint + "\\" + client.componentId;
    std::vector<std::string> entries;
    if (!client.system_specific_list_dir(componentOnHost, entries))
        return false;
    if (string_in_list(kPreviousDir, entries)) {
        TESSA_LOG("Previous dir already there, delete all files");
        if (!client.system_specific_list_dir(componentOnHost + "\\" + kPreviousDir, entries))
            return false;
        for (const std::string& entry : entries)
            if (!queueInComponent(client, "", filedelete, {kPreviousDir, entry}))
                return false;
    } else {
        TESSA_LOG("Previous dir not there, make it");
        if (!queueInComponent(client, "", dirmake, {kPreviousDir}))
            return false;
    }
    if (!client.system_specific_list_dir(componentOnHost, entries))
        return false;
    TESSA_LOG("Current dir already there, move files to Previous");
    if (!client.system_specific_list_dir(componentOnHost + "\\" + kCurrentDir, entries))
        return false;
    for (const std::string& entry : entries) {
        const std::optional<TessaPath> from = componentPlace(client, {kCurrentDir, entry});
        if (!from || !queueInComponent(client, from->text(), filemove, {kPreviousDir, entry}))
            return false;
    }
    return true;
}

const FolderWalk kAddNFileWalk = {
    nullptr,
    "Component ID dir not there, add it and Current",
    nullptr,
    nullptr,
    "Vendor Version Matched",
    rotateEntryByEntry,
};

} // namespace

bool secureTessa::AddNFile(std::string path)
{
    // A path without a file name ("/opt/pkg/", "/opt/..") would be queued
    // as the folder "current" itself or above it: nothing sensible reaches
    // the controller from it.
    const std::string name = baseName(path);
    if (!TessaPath::isName(name)) {
        TESSA_LOG("No file name in " + path);
        storeErrorInfo(KOLT_EMPTYDESTINATION);
        return false;
    }

    if (nFileSetupDone != 0) {
        TESSA_LOG("Adding subsequent N payload file");
    } else {
        nFileSetupDone = 1;
        TESSA_LOG("Adding first N payload file");
        if (!get_comp_id(componentId))
            return false;
        bool matched = false;
        if (!walkComponentFolders(*this, kAddNFileWalk, matched))
            return false;

        if (!queueInComponent(*this, kPackageFile, filecopy, {kCurrentDir, kPackageFile}))
            return false;
        if (freshInstall != 0 && !queueInComponent(*this, kPackageFile, filecopy, {kPreviousDir, kPackageFile}))
            return false;
    }

    // A setup that found no component id leaves nothing to queue under:
    // "tes022//current/..." names no component's folder.
    if (componentId.empty()) {
        TESSA_LOG("No component id to add the file under");
        storeErrorInfo(KOLT_NOPACKAGEIDENTITY);
        return false;
    }
    bool result = queueInComponent(*this, path, filecopy, {kCurrentDir, name});
    if (result && freshInstall != 0)
        result = queueInComponent(*this, path, filecopy, {kPreviousDir, name});
    return result;
}
