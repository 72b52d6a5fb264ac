// The component-id and SSIB documents of an SSIB task: their exact bytes per
// category, where they are queued, and what keeps them from being queued.

#include "RollbackWrapperTest.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

namespace {

using Strings = std::vector<std::string>;

const std::string kFile = "/opt/fw/fw.bin";
const std::string kBiosGuid = "6A4F2E1C-5B3D-4C8E-9F17-2D0B7A9E3C51";
const std::string kCpldGuid = "B3E8D2A7-1F64-4A09-8C5D-7E2F9B1A6D34";

// The document of a category without firmware-management data.
std::string plainComponentDocument(const std::string& name, const std::string& source)
{
    return "<Wrapper name=\"" + name + "\" filePathName=\"/opt/fw/fw.bin\" digitalSignature=\"false\" timeout=\"300\" >"
           "<SupportedDevices><Device componentID=\"1234\" ></Device></SupportedDevices>"
           "<Inventory supported=\"true\" source=\"" + source + "\" />"
           "<Update supported=\"true\" rollback=\"true\" validationNeeded=\"true\" /></Wrapper>\n";
}

std::string firmwareComponentDocument(const std::string& name, const std::string& extension, const std::string& guid)
{
    return "<Wrapper name=\"" + name + "\" filePathName=\"/opt/fw/fw.bin\" digitalSignature=\"false\" timeout=\"300\" >"
           "<SupportedDevices><Device componentID=\"1234\" impactsTPMmeasurements=\"true\" fieldservice=\"forced\" >"
           "<FmpInfo vendorcode=\"\" vendorcodetype=\"UINT32\" FileExtension=\"" + extension + "\" fmpGUID=\"" + guid +
           "\" /></Device></SupportedDevices>"
           "<Inventory supported=\"true\" source=\"Device\" />"
           "<Update supported=\"true\" rollback=\"true\" validationNeeded=\"true\" /></Wrapper>\n";
}

std::string ssibDocument(const std::string& required, const std::string& type, const std::string& extra)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><SSIB><Record type=\"0\" blockid=\"6\" reboot_required=\"" +
           required + "\" reboot_type=\"" + type + "\" timeout=\"300\" returncode=\"0\" retrycount=\"0\" "
           "cmd=\"/opt/fw/fw.bin /u frmw:\\1234\\1234.xml ramfs:\\output.xml\"" + extra + " /></SSIB>\n";
}

// The value of an attribute of the first element named `element`, as an XML
// reader sees it; "<not parsed>" when the document is not well-formed.
std::string parsedAttribute(const std::string& document, const char* element, const char* attribute)
{
    xmlDoc* doc = xmlReadMemory(document.data(), static_cast<int>(document.size()), "doc.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc == nullptr)
        return "<not parsed>";
    std::string value = "<missing>";
    std::vector<xmlNode*> pending{xmlDocGetRootElement(doc)};
    while (!pending.empty()) {
        xmlNode* node = pending.back();
        pending.pop_back();
        if (node == nullptr)
            continue;
        if (node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, BAD_CAST element) == 0) {
            xmlChar* text = xmlGetProp(node, BAD_CAST attribute);
            if (text != nullptr) {
                value = reinterpret_cast<const char*>(text);
                xmlFree(text);
            }
            break;
        }
        for (xmlNode* child = node->children; child != nullptr; child = child->next)
            pending.push_back(child);
    }
    xmlFreeDoc(doc);
    return value;
}

class RollbackDocuments : public RollbackWrapperTest {
protected:
    void SetUp() override
    {
        NewWrapper();
        out = dir.path() + "/out";
        ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
        ASSERT_TRUE(wrapper->StartCopyFile());
    }

    // A fresh copy transaction with nothing queued.
    void Restart()
    {
        wrapper->EndCopyFile();
        ASSERT_TRUE(wrapper->StartCopyFile());
    }

    Strings Queue() const
    {
        Strings texts;
        for (const cfgEntry& entry : wrapper->cfgEntries)
            texts.push_back(std::to_string(entry.mode) + ' ' + entry.source + " -> " + entry.destination);
        return texts;
    }

    std::string out;
};

} // namespace

TEST_F(RollbackDocuments, ComponentIdDocumentPerCategory)
{
    const struct {
        const char* category;
        std::string document;
    } cases[] = {
        {"PSU", plainComponentDocument("PSU", "VCL")},
        {"BIOS", firmwareComponentDocument("BIOS", ".hdr", kBiosGuid)},
        {"CPLD", firmwareComponentDocument("CPLD", ".jbc", kCpldGuid)},
        // Categories are compared exactly: a lower-case one is unknown.
        {"bios", plainComponentDocument("bios", "")},
        {"NIC", plainComponentDocument("NIC", "")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.category);
        Restart();
        EXPECT_EQ(wrapper->createComponentIdFile(c.category, kFile, out), 0);
        EXPECT_EQ(readWholeFile(out + "/1234.xml"), c.document);
        EXPECT_EQ(Queue(), (Strings{"1 " + out + "/1234.xml -> tes022/1234/1234.xml"}));
        ASSERT_EQ(wrapper->cfgEntries.size(), 1u);
        EXPECT_EQ(wrapper->cfgEntries[0].hash.size(), 32u) << "queued with its MD5";
        EXPECT_EQ(wrapper->cfgEntries[0].partIndex, 22);
    }
}

TEST_F(RollbackDocuments, SsibDocumentPerCategory)
{
    const struct {
        const char* category;
        std::string document;
    } cases[] = {
        {"BIOS", ssibDocument("1", "1", "")},
        {"CPLD", ssibDocument("2", "0", "  category=\"CPLD\" taskName=\"CPLD\"  ")},
        {"PSU", ssibDocument("", "", "")},
        {"bios", ssibDocument("", "", "")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.category);
        Restart();
        EXPECT_EQ(wrapper->createSSIBUpdateFile(kFile, out, c.category), 0);
        EXPECT_EQ(readWholeFile(out + "/ssibinput.xml"), c.document);
        EXPECT_EQ(Queue(), (Strings{"9 " + out + "/ssibinput.xml -> "}));
        ASSERT_EQ(wrapper->cfgEntries.size(), 1u);
        EXPECT_EQ(wrapper->cfgEntries[0].hash.size(), 32u);
    }
}

TEST_F(RollbackDocuments, WorkingDirectoryServesWhenNoOutputDirectoryIsGiven)
{
    EXPECT_EQ(wrapper->createComponentIdFile("PSU", kFile, ""), 0);
    EXPECT_EQ(wrapper->createSSIBUpdateFile(kFile, "", "BIOS"), 0);
    EXPECT_EQ(dir.read("1234.xml"), plainComponentDocument("PSU", "VCL"));
    EXPECT_EQ(dir.read("ssibinput.xml"), ssibDocument("1", "1", ""));
    EXPECT_EQ(Queue(), (Strings{"1 " + dir.path() + "/1234.xml -> tes022/1234/1234.xml",
                                "9 " + dir.path() + "/ssibinput.xml -> "}));
}

TEST_F(RollbackDocuments, EarlierDocumentsAreReplacedWhole)
{
    const std::string left(4000, 'x');
    dir.write("out/1234.xml", left);
    dir.write("out/ssibinput.xml", left);
    EXPECT_EQ(wrapper->createComponentIdFile("BIOS", kFile, out), 0);
    EXPECT_EQ(wrapper->createSSIBUpdateFile(kFile, out, "CPLD"), 0);
    EXPECT_EQ(readWholeFile(out + "/1234.xml"), firmwareComponentDocument("BIOS", ".hdr", kBiosGuid));
    EXPECT_EQ(readWholeFile(out + "/ssibinput.xml"), ssibDocument("2", "0", "  category=\"CPLD\" taskName=\"CPLD\"  "));
}

// Quotes, ampersands and '<' in the texts put into attributes are written as
// references, so that the controller reads back exactly the text given. (A
// component id holding them is refused before any document is written.)
TEST_F(RollbackDocuments, AttributeTextsAreEscaped)
{
    dir.write("package.xml", RollbackPackage("1234"));
    const std::string category = "A\"B&C<D";
    const std::string file = "/opt/a \"b\"&<c>.bin";
    EXPECT_EQ(wrapper->createComponentIdFile(category, file, out), 0);
    EXPECT_EQ(wrapper->createSSIBUpdateFile(file, out, category), 0);

    const std::string component = readWholeFile(out + "/1234.xml");
    EXPECT_NE(component.find("<Wrapper name=\"A&quot;B&amp;C&lt;D\" filePathName=\"/opt/a &quot;b&quot;&amp;&lt;c>.bin\""),
              std::string::npos)
        << component;
    EXPECT_EQ(parsedAttribute(component, "Wrapper", "name"), category);
    EXPECT_EQ(parsedAttribute(component, "Wrapper", "filePathName"), file);
    EXPECT_EQ(parsedAttribute(component, "Device", "componentID"), "1234");

    const std::string task = readWholeFile(out + "/ssibinput.xml");
    EXPECT_EQ(parsedAttribute(task, "Record", "cmd"),
              file + " /u frmw:\\1234\\1234.xml ramfs:\\output.xml");
    EXPECT_EQ(Queue(), (Strings{"1 " + out + "/1234.xml -> tes022/1234/1234.xml", "9 " + out + "/ssibinput.xml -> "}));
}

// The id names the document's file and its folder on "TES022": one that
// cannot be one folder name writes nothing anywhere.
TEST_F(RollbackDocuments, AComponentIdThatIsNoFolderNameWritesNoDocument)
{
    dir.write("package.xml", RollbackPackage("../victim"));
    EXPECT_EQ(wrapper->createComponentIdFile("BIOS", kFile, out), KOLT_NOPACKAGEIDENTITY);
    EXPECT_EQ(wrapper->createSSIBUpdateFile(kFile, out, "BIOS"), KOLT_NOPACKAGEIDENTITY);
    EXPECT_TRUE(wrapper->cfgEntries.empty());
    EXPECT_FALSE(dir.exists("victim.xml"));
    EXPECT_FALSE(dir.exists("out/ssibinput.xml"));
}

// The documents go into a folder others may write to: a link planted at a
// document's name is neither followed nor emptied, and the document counts
// as not written.
TEST_F(RollbackDocuments, LinksPlantedAtTheDocumentNamesAreLeftAlone)
{
    dir.write("victim", "precious");
    const std::string victim = dir.file("victim");
    const std::string nowhere = dir.file("nowhere");
    const struct {
        const char* name;
        std::function<int(const std::string&)> plant;
    } cases[] = {
        {"link", [&](const std::string& at) { return symlink(victim.c_str(), at.c_str()); }},
        {"dangling link", [&](const std::string& at) { return symlink(nowhere.c_str(), at.c_str()); }},
        {"hard link", [&](const std::string& at) { return link(victim.c_str(), at.c_str()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        for (const char* name : {"1234.xml", "ssibinput.xml"}) {
            const std::string at = out + "/" + name;
            std::remove(at.c_str());
            ASSERT_EQ(c.plant(at), 0);
        }
        const size_t logged = Log().size();

        EXPECT_EQ(wrapper->createComponentIdFile("BIOS", kFile, out), 82);
        EXPECT_EQ(wrapper->createSSIBUpdateFile(kFile, out, "BIOS"), 83);

        EXPECT_TRUE(wrapper->cfgEntries.empty());
        EXPECT_EQ(dir.read("victim"), "precious");
        EXPECT_FALSE(dir.exists("nowhere"));
        const Strings all = Log();
        const Strings log(all.begin() + static_cast<long>(std::min(logged, all.size())), all.end());
        for (const char* name : {"1234.xml", "ssibinput.xml"}) {
            const std::string at = out + "/" + name;
            EXPECT_TRUE(Contains(log, "Could not open file " + at + " for writing")) << name;
            const bool reason = std::any_of(log.begin(), log.end(), [&](const std::string& line) {
                return line.rfind("Opening " + at + " failed: ", 0) == 0;
            });
            EXPECT_TRUE(reason) << testing::PrintToString(log);
        }
    }
}

// Every failure returns its number and queues nothing.
TEST_F(RollbackDocuments, FailuresQueueNothing)
{
    enum Fault { NoPackage, NoOutputDirectory, MissingFolder, DiskFull, NoTransaction };
    const struct {
        Fault fault;
        int component;
        int task;
        const char* line;   // logged for the component-id document
    } cases[] = {
        {NoPackage, 53, 53, "Could not get Component ID"},
        {NoOutputDirectory, 81, 81, nullptr},
        {MissingFolder, 82, 83, "Could not open file "},
        {DiskFull, 82, 83, "Could not write file "},
        {NoTransaction, 84, 84, "Could not add component ID file to FileList"},
    };
    const std::string full = ns.smallDisk(4096);
    ns.fill(full);
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        Restart();
        wrapper->storeErrorInfo(0);
        std::remove(dir.file("package.xml").c_str());
        dir.write("package.xml", RollbackPackage());
        std::string target = out;
        const std::string gone = dir.file("gone");
        switch (c.fault) {
        case NoPackage: std::remove(dir.file("package.xml").c_str()); break;
        case NoOutputDirectory:
            // The working directory was taken away: it has no name left.
            ASSERT_EQ(::mkdir(gone.c_str(), 0755), 0);
            ASSERT_EQ(::chdir(gone.c_str()), 0);
            ASSERT_EQ(::rmdir(gone.c_str()), 0);
            target.clear();
            break;
        case MissingFolder: target = dir.file("none"); break;
        case DiskFull: target = full; break;
        case NoTransaction: wrapper->EndCopyFile(); break;
        }
        for (const char* name : {"1234.xml", "ssibinput.xml"})
            std::remove((out + "/" + name).c_str());
        const size_t logged = Log().size();

        EXPECT_EQ(wrapper->createComponentIdFile("BIOS", kFile, target), c.component);
        EXPECT_EQ(wrapper->createSSIBUpdateFile(kFile, target, "BIOS"), c.task);
        EXPECT_TRUE(wrapper->cfgEntries.empty());
        if (c.fault == NoOutputDirectory) {
            ASSERT_EQ(::chdir(dir.path().c_str()), 0);
        }

        const Strings all = Log();
        const Strings log(all.begin() + static_cast<long>(std::min(logged, all.size())), all.end());
        if (c.line != nullptr) {
            const bool found = std::any_of(log.begin(), log.end(), [&](const std::string& line) {
                return line.compare(0, std::strlen(c.line), c.line) == 0;
            });
            EXPECT_TRUE(found) << testing::PrintToString(log);
        }
        switch (c.fault) {
        case NoPackage:
        case NoOutputDirectory:
            // Nothing was written.
            EXPECT_FALSE(dir.exists("out/1234.xml"));
            EXPECT_FALSE(dir.exists("out/ssibinput.xml"));
            break;
        case MissingFolder:
            EXPECT_TRUE(Contains(log, "Could not open file " + dir.file("none") + "/1234.xml for writing"));
            EXPECT_TRUE(Contains(log, "Could not open file " + dir.file("none") + "/ssibinput.xml for writing"));
            break;
        case DiskFull:
            EXPECT_TRUE(Contains(log, "Could not write file " + full + "/ssibinput.xml"));
            break;
        case NoTransaction:
            // Written but refused: the documents stay on disk, AddFile's
            // number stays stored.
            EXPECT_EQ(wrapper->getKOLTError(), KOLT_NOTRANSACTION);
            EXPECT_TRUE(Contains(log, "Could not add SSIB file to FileList"));
            EXPECT_EQ(readWholeFile(out + "/1234.xml"), firmwareComponentDocument("BIOS", ".hdr", kBiosGuid));
            EXPECT_EQ(readWholeFile(out + "/ssibinput.xml"), ssibDocument("1", "1", ""));
            break;
        }
    }
}
