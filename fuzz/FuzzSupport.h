#ifndef FUZZ_FUZZSUPPORT_H
#define FUZZ_FUZZSUPPORT_H

// What the fuzz targets share: a scratch working directory of their own, a
// platform layer that runs no shell command, a quiet libxml2 and the
// well-formedness check of produced documents. Header-only; never part of
// the shipped program.

#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <libxml/parser.h>
#include <libxml/xmlIO.h>

#include "LinuxImpl.h"
#include "PlatformLayer.h"

namespace fuzz {

// The real Linux platform for files and directories; shell commands,
// library loads and pauses never happen.
class NoShellPlatform : public CLinuxImpl {
public:
    int ExecuteCmd(const std::string&, bool, const long&) override { return 127 << 8; }
    int ExecuteCmdNoWait(const std::string&, bool, const long&) override { return -1; }
    int ExecuteCmdCapture(const std::string&, std::size_t, std::string& output) override
    {
        output.clear();
        return 127 << 8;
    }
    void Sleep(int) override {}
    void* LoadLibrary(const std::string&) override { return nullptr; }
    void* LoadZemoLibrary(const std::string&) override { return nullptr; }
    void* LoadLibrarywithoutCustomization(const std::string&) override { return nullptr; }
    void unloadUSB() override {}
};

inline void IgnoreXmlError(void*, const char*, ...) {}

// libxml2 reads every file through its decompressing readers, whose
// decoder set-up costs milliseconds per file under AddressSanitizer; the
// fuzz targets feed plain files, read plainly.
inline int MatchAnyFile(const char*) { return 1; }
inline void* OpenPlainFile(const char* name) { return std::fopen(name, "rb"); }
inline int ReadPlainFile(void* file, char* buffer, int length)
{
    size_t got = std::fread(buffer, 1, static_cast<size_t>(length), static_cast<FILE*>(file));
    return std::ferror(static_cast<FILE*>(file)) ? -1 : static_cast<int>(got);
}
inline int ClosePlainFile(void* file) { return std::fclose(static_cast<FILE*>(file)); }

inline std::string& ScratchPath()
{
    static std::string path;
    return path;
}

inline void RemoveScratch()
{
    std::error_code ignored;
    if (!ScratchPath().empty())
        std::filesystem::remove_all(ScratchPath(), ignored);
}

// Moves the process into a fresh folder under $TMPDIR (or /tmp), removed
// at exit, and installs the platform layer and the silent libxml2 error
// handler. Called once, from LLVMFuzzerInitialize.
inline void EnterScratchDirectory()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zago-fuzz-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr || chdir(pattern.c_str()) != 0) {
        std::perror("fuzz: scratch directory");
        std::abort();
    }
    ScratchPath() = pattern;
    std::atexit(RemoveScratch);

    static NoShellPlatform platform;
    CPlatformLayer::SetForTesting(&platform);
    xmlSetGenericErrorFunc(nullptr, IgnoreXmlError);
    xmlInitParser();  // registers the default readers, which ours must follow
    xmlRegisterInputCallbacks(MatchAnyFile, OpenPlainFile, ReadPlainFile, ClosePlainFile);
}

inline void WriteFile(const std::string& name, const void* data, size_t size)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) {
        std::perror(("fuzz: write " + name).c_str());
        std::abort();
    }
}

inline std::string ReadFile(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Aborts (a finding) unless `text` is one well-formed XML document whose
// root element is `root`.
inline void RequireWellFormed(const std::string& text, const char* root)
{
    xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "document.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlNodePtr top = doc != nullptr ? xmlDocGetRootElement(doc) : nullptr;
    bool good = top != nullptr && xmlStrcmp(top->name, reinterpret_cast<const xmlChar*>(root)) == 0;
    if (doc != nullptr)
        xmlFreeDoc(doc);
    if (!good) {
        std::fprintf(stderr, "fuzz: produced document is not a well-formed <%s> document:\n%s\n", root,
                     text.c_str());
        std::abort();
    }
}

} // namespace fuzz

#endif
