// The request document of a copy pass, byte for byte: header, one element
// per staging entry of every mode, chunk elements and the footer. Texts go
// in unescaped and the line feeds stand where the controller expects them.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "SecureTessa.h"

namespace {

const std::string kHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TESSA_Update>\n";
const std::string kFooter = "</TESSA_Update>\n\n";
const std::string kMd5 = "0123456789abcdef0123456789abcdef";
const std::string kSha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

cfgEntry Entry(int order, exmlMode mode, const std::string& source, const std::string& destination,
               const std::string& hash = "", int label = 1, bool omitDestination = false)
{
    cfgEntry e;
    e.order = order;
    e.mode = mode;
    e.source = source;
    e.destination = destination;
    e.hash = hash;
    e.algorithmLabel = label;
    e.omitDestination = omitDestination;
    return e;
}

std::string Element(const cfgEntry& entry, bool chunk = false)
{
    std::ostringstream doc;
    EXPECT_TRUE(AddCfgEntry(&doc, entry, chunk));
    return doc.str();
}

TEST(RequestDocument, DocumentNames)
{
    EXPECT_STREQ(updFileName, "update.xml");
    EXPECT_STREQ(updFileNameWaveCPlus, "input_secupd.xml");
}

TEST(RequestDocument, OneElementPerMode)
{
    const struct {
        cfgEntry entry;
        std::string element;
    } cases[] = {
        {Entry(3, filecopy, "/opt/pkg/fw.bin", "tes022/1234/current/fw.bin", kMd5),
         "\t<File order=\"3\"><Hash>" + kMd5 +
             "</Hash><Source>1234/current/fw.bin</Source><Destination>tes022/1234/current/fw.bin</Destination>"
             "<Mode>filecopy</Mode><Algorithm>MD5</Algorithm>\n</File>\n"},
        {Entry(2, dircopy, "/opt/pkg", "tes022/1234/dir"),
         "\t<File order=\"2\"><Hash></Hash><SourceTESSA>tes022/1234/dir</SourceTESSA>\n"
         "<Destination>tes022/1234/dir</Destination>\n<Mode>dircopy</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n"},
        {Entry(4, filemove, "tes022/1234/current/a", "tes022/1234/previous/a"),
         "\t<File order=\"4\"><Hash></Hash><SourceTESSA>tes022/1234/current/a</SourceTESSA>\n"
         "<Destination>tes022/1234/previous/a</Destination>\n<Mode>filemove</Mode>\n<Algorithm>MD5</Algorithm>\n"
         "</File>\n"},
        {Entry(5, dirmove, "tes022/1234/current", "tes022/1234/previous"),
         "\t<File order=\"5\"><Hash></Hash><SourceTESSA>tes022/1234/current</SourceTESSA>\n"
         "<Destination>tes022/1234/previous</Destination><Mode>dirmove</Mode>\n<Algorithm>MD5</Algorithm>\n"
         "</File>\n"},
        {Entry(6, filedelete, "", "tes022/1234/current/old.bin"),
         "\t<File order=\"6\"><Hash></Hash><Destination>tes022/1234/current/old.bin</Destination>\n"
         "<Mode>filedelete</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n"},
        {Entry(7, dirdelete, "tes022/1234/previous", ""),
         "\t<File order=\"7\"><Hash></Hash><Destination>tes022/1234/previous</Destination>\n"
         "<Mode>dirdelete</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n"},
        {Entry(8, fileappend, "/opt/pkg/part", "tes022/1234/current/fw.bin", kMd5),
         "\t<File order=\"8\"><Hash>" + kMd5 +
             "</Hash><Source>1234/current/fw.bin</Source><Destination>tes022/1234/current/fw.bin</Destination>"
             "<Mode>fileappend</Mode><Algorithm>MD5</Algorithm>\n</File>\n"},
        {Entry(1, dirmake, "", "tes022/1234"),
         "\t<File order=\"1\"><Hash></Hash><Destination>tes022/1234</Destination><Mode>dirmake</Mode>\n"
         "<Algorithm>MD5</Algorithm>\n</File>\n"},
        {Entry(9, ssib, "/var/tmp/ssibinput.xml", "", kMd5),
         "\t<File order=\"9\"><Hash>" + kMd5 +
             "</Hash><Source>ssibinput.xml</Source>\n<Mode>ssib</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n"},
        {Entry(10, signedunzip, "/opt/pkg/p.zip", "tes022/pkg"),
         "\t<File order=\"10\"><Source>pkg</Source><Destination>tes022/.</Destination>"
         "<Mode>signedunzip</Mode></File>\n"},
        // The controller-log modes and unknown values have no elements of
        // their own; the algorithm follows the destination.
        {Entry(11, vcl_query_current_records, "", ""), "\t<File order=\"11\"><Hash></Hash></File>\n"},
        {Entry(12, static_cast<exmlMode>(0), "", "x"),
         "\t<File order=\"12\"><Hash></Hash><Algorithm>MD5</Algorithm>\n</File>\n"},
        // Texts are not escaped.
        {Entry(13, filecopy, "/a", "tes022/a&b<c>.bin", "", 1),
         "\t<File order=\"13\"><Hash></Hash><Source>a&b<c>.bin</Source><Destination>tes022/a&b<c>.bin"
         "</Destination><Mode>filecopy</Mode><Algorithm>MD5</Algorithm>\n</File>\n"},
        // A destination without "/" is its own source text.
        {Entry(14, filecopy, "/a", "payload", "", 0),
         "\t<File order=\"14\"><Hash></Hash><Source>payload</Source><Destination>payload</Destination>"
         "<Mode>filecopy</Mode><Algorithm>SHA1</Algorithm>\n</File>\n"},
        {Entry(15, dirmake, "", "tes022/1234", "", 5),
         "\t<File order=\"15\"><Hash></Hash><Destination>tes022/1234</Destination><Mode>dirmake</Mode>\n</File>\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Element(c.entry), c.element) << "mode " << c.entry.mode;
}

// The controller acts on what an element names: an entry whose partition
// path names no place gets no element at all.
TEST(RequestDocument, AnEntryNamingNoPlaceIsNotDescribed)
{
    const cfgEntry cases[] = {
        Entry(1, filedelete, "", "tes022/1234/../../victim"),
        Entry(2, filecopy, "/opt/pkg/fw.bin", "tes022//fw.bin", kMd5),
        Entry(3, dirmake, "", "tes022/1234/."),
        Entry(4, signedunzip, "/opt/pkg/p.zip", "tes022\\pkg"),
        Entry(5, dirdelete, "tes022/1234/..", ""),
        Entry(6, dirmove, "tes022/..", "tes022/1234/previous"),
        Entry(7, filemove, "tes022/1234/current/a", "tes022/1234/previous/../a"),
    };
    for (const cfgEntry& entry : cases) {
        SCOPED_TRACE(entry.order);
        std::ostringstream doc;
        EXPECT_FALSE(AddCfgEntry(&doc, entry, false));
        EXPECT_EQ(doc.str(), "");
    }
}

TEST(RequestDocument, ChunkElementNamesTheChunkAsItsSource)
{
    cfgEntry chunk = Entry(4, fileappend, "FileChunk3", "tes022/1234/current/fw.bin", kMd5);
    EXPECT_EQ(Element(chunk, true),
              "\t<File order=\"4\"><Hash>" + kMd5 +
                  "</Hash><Source>FileChunk3</Source><Destination>tes022/1234/current/fw.bin</Destination>"
                  "<Mode>fileappend</Mode><Algorithm>MD5</Algorithm>\n</File>\n");
    chunk.mode = filecopy;
    chunk.source = "FileChunk0";
    EXPECT_EQ(Element(chunk, true),
              "\t<File order=\"4\"><Hash>" + kMd5 +
                  "</Hash><Source>FileChunk0</Source><Destination>tes022/1234/current/fw.bin</Destination>"
                  "<Mode>filecopy</Mode><Algorithm>MD5</Algorithm>\n</File>\n");
}

TEST(RequestDocument, WaveCDocumentForPackageAndOnePayloadFile)
{
    std::ostringstream doc;
    AddCfgHdr(&doc);
    ASSERT_TRUE(AddCfgEntry(&doc, Entry(2, filecopy, "/opt/pkg/package.xml", "/payload/package.xml", kSha, 2, true),
                            false));
    ASSERT_TRUE(AddCfgEntry(&doc, Entry(3, filecopy, "/opt/pkg/fw.bin", "/payload/fw.bin", kSha, 2, true), false));
    doc << kFooter;
    EXPECT_EQ(doc.str(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<TESSA_Update>\n"
                         "\t<File order=\"2\"><Hash>" + kSha + "</Hash><Source>payload/package.xml</Source>"
                         "<Mode>filecopy</Mode><Algorithm>SHA256</Algorithm>\n"
                         "</File>\n"
                         "\t<File order=\"3\"><Hash>" + kSha + "</Hash><Source>payload/fw.bin</Source>"
                         "<Mode>filecopy</Mode><Algorithm>SHA256</Algorithm>\n"
                         "</File>\n"
                         "</TESSA_Update>\n"
                         "\n");
}

TEST(RequestDocument, WaveBFreshInstallDocument)
{
    const std::string pkg = "d41d8cd98f00b204e9800998ecf8427e";
    const cfgEntry entries[] = {
        Entry(1, dirmake, "", "tes022/1234"),
        Entry(2, dirmake, "", "tes022/1234/previous"),
        Entry(3, dirmake, "", "tes022/1234/current"),
        Entry(4, filecopy, "/opt/pkg/package.xml", "tes022/1234/current/package.xml", pkg),
        Entry(5, filecopy, "/opt/pkg/fw.bin", "tes022/1234/current/fw.bin", kMd5),
        Entry(6, filecopy, "/opt/pkg/package.xml", "tes022/1234/previous/package.xml", pkg),
        Entry(7, filecopy, "/opt/pkg/fw.bin", "tes022/1234/previous/fw.bin", kMd5),
    };
    std::ostringstream doc;
    AddCfgHdr(&doc);
    for (const cfgEntry& e : entries)
        ASSERT_TRUE(AddCfgEntry(&doc, e, false));
    doc << kFooter;
    EXPECT_EQ(doc.str(),
              kHeader +
                  "\t<File order=\"1\"><Hash></Hash><Destination>tes022/1234</Destination><Mode>dirmake</Mode>\n"
                  "<Algorithm>MD5</Algorithm>\n</File>\n"
                  "\t<File order=\"2\"><Hash></Hash><Destination>tes022/1234/previous</Destination>"
                  "<Mode>dirmake</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n"
                  "\t<File order=\"3\"><Hash></Hash><Destination>tes022/1234/current</Destination>"
                  "<Mode>dirmake</Mode>\n<Algorithm>MD5</Algorithm>\n</File>\n"
                  "\t<File order=\"4\"><Hash>" + pkg + "</Hash><Source>1234/current/package.xml</Source>"
                  "<Destination>tes022/1234/current/package.xml</Destination><Mode>filecopy</Mode>"
                  "<Algorithm>MD5</Algorithm>\n</File>\n"
                  "\t<File order=\"5\"><Hash>" + kMd5 + "</Hash><Source>1234/current/fw.bin</Source>"
                  "<Destination>tes022/1234/current/fw.bin</Destination><Mode>filecopy</Mode>"
                  "<Algorithm>MD5</Algorithm>\n</File>\n"
                  "\t<File order=\"6\"><Hash>" + pkg + "</Hash><Source>1234/previous/package.xml</Source>"
                  "<Destination>tes022/1234/previous/package.xml</Destination><Mode>filecopy</Mode>"
                  "<Algorithm>MD5</Algorithm>\n</File>\n"
                  "\t<File order=\"7\"><Hash>" + kMd5 + "</Hash><Source>1234/previous/fw.bin</Source>"
                  "<Destination>tes022/1234/previous/fw.bin</Destination><Mode>filecopy</Mode>"
                  "<Algorithm>MD5</Algorithm>\n</File>\n" + kFooter);
}

} // namespace
