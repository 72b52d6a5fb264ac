// Runs the managed-storage client's host-side work on an emulated host (the
// discovery of the management controller's USB disks, and the library
// operations that go through the drop box) and prints what happened, one
// line per step. Steps, in the order given:
//   send <hex>        an IPMI frame through the IPMI library (NetFn, command,
//                     data): "send result=<n> answer=<hex>"
//   search <label>    secureTessa::getDevicePath: "search <label>=<path>"
//   label <label>     CLinuxEnumerateDevices::GetDeviceWithLabel:
//                     "label <label>=<ran>:<path>"
//   disk-only <label> the same in disk-only mode
//   attach-dropbox <handle>  secureTessa::AttachPartition of the drop box
//                     (dynamic bit 0) in the session with that handle (hex),
//                     which mounts it: "attach-dropbox=<ok> error=<n>"
//   write <file>      writes "payload\n" to the file: "write=<ok>"
//   unmount-dropbox -  secureTessa::unmountDynPartition: "unmount-dropbox=<ok>"
//   client -          a client made ready as the rollback makes it (library,
//                     host, udev rules, then session and clean-up), kept for the steps
//                     after it: "client=<session active> error=<n>"
//   query <mode>      QueryVCL: "query=<ok> error=<n> answer=<text>"
//   depcheck <mode>   doDepCheck: "depcheck=<ok> error=<n> answer=<text>"
//                     (answers with their line feeds as "\n")
//   signedunzip <archive>  the archive (beside it "<archive>.sig", and
//                     "package.xml" in the working directory) staged as
//                     tes022/pkg/<name> with CompleteSignedUnzip:
//                     "signedunzip=<ok> error=<n>"
//   directcopy <file> the file queued as /payload/<name> and copied with
//                     copyPayloadtoDynamicPartition: "directcopy=<ok> error=<n>"
//   deletedropbox -   deleteDynamicPartition: "deletedropbox=<ok>"
// Refuses to run outside a umockdev testbed, so no real disk is ever read.

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "LinuxEnumerateDevices.h"
#include "QRMIPMIInterfaceImpl.h"
#include "SecureTessa.h"

namespace {

bool insideTestbed()
{
    const char* dir = std::getenv("UMOCKDEV_DIR");
    if (dir == nullptr)
        return false;
    struct stat info;
    if (lstat((std::string(dir) + "/dev/ipmi0").c_str(), &info) != 0)
        return false;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.find("libumockdev-preload") != std::string::npos)
            return true;
    return false;
}

void send(const char* hex)
{
    QRMIPMIInterfaceImpl library;
    _QRMIPMICommandData record;
    std::memset(&record, 0, sizeof(record));
    const size_t digits = std::strlen(hex);
    for (size_t at = 0; at + 1 < digits && record.requestLength < sizeof(record.request); at += 2) {
        const char pair[3] = {hex[at], hex[at + 1], 0};
        record.request[record.requestLength++] = static_cast<unsigned char>(std::strtoul(pair, nullptr, 16));
    }
    const unsigned result = library.IPMIRequest(&record);
    std::printf("send result=%u answer=", result);
    for (unsigned b = 2; b < record.responseLength && b < sizeof(record.response); ++b)
        std::printf("%02X", record.response[b]);
    std::printf("\n");
    library.Release();
}

std::string oneLine(const std::string& text)
{
    std::string line;
    for (char c : text)
        line += c == '\n' ? std::string("\\n") : std::string(1, c);
    return line;
}

std::string baseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A queued transaction of one file, carried out by `complete`.
bool stageOne(secureTessa& client, const std::string& source, const std::string& destination, exmlMode mode,
              digestType digest, bool (secureTessa::*complete)())
{
    if (!client.StartCopyFile() || !client.AddFile(source, destination, mode, digest))
        return false;
    return (client.*complete)();
}

} // namespace

int main(int argc, char** argv)
{
    if (!insideTestbed()) {
        std::printf("not-in-testbed\n");
        return 3;
    }
    // The attach and the unmount of the drop box are one client's work: a
    // second client would detach everything when it starts.
    std::unique_ptr<secureTessa> dropBoxClient;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::fflush(stdout);
        const std::string step = argv[i];
        std::string label = argv[i + 1];
        if (step == "send") {
            send(argv[i + 1]);
        } else if (step == "search") {
            secureTessa client;
            const std::string path = client.getDevicePath(label);
            std::printf("search %s=%s\n", label.c_str(), path.c_str());
        } else if (step == "attach-dropbox") {
            if (pQRMIPMILibHandle == nullptr)
                InitQRMIPMILibrary();
            dropBoxClient.reset(new secureTessa);
            secureTessa& client = *dropBoxClient;
            client.session.active = 1;
            client.session.handle = static_cast<uint16_t>(std::strtoul(argv[i + 1], nullptr, 16));
            const bool ok = client.AttachPartition(0, client.swapBytes(0x0001), 0);
            std::printf("attach-dropbox=%d error=%d\n", ok ? 1 : 0, client.getKOLTError());
        } else if (step == "write") {
            std::ofstream out(argv[i + 1]);
            out << "payload\n";
            out.close();
            std::printf("write=%d\n", out ? 1 : 0);
        } else if (step == "unmount-dropbox") {
            if (!dropBoxClient)
                dropBoxClient.reset(new secureTessa);
            std::printf("unmount-dropbox=%d\n", dropBoxClient->unmountDynPartition() ? 1 : 0);
        } else if (step == "client") {
            dropBoxClient.reset(new secureTessa);
            dropBoxClient->secureTessaInit();
            std::printf("client=%d error=%d\n", dropBoxClient->session.active, dropBoxClient->getKOLTError());
        } else if (step == "query" || step == "depcheck") {
            if (!dropBoxClient)
                dropBoxClient.reset(new secureTessa);
            std::stringstream answer;
            const exmlMode mode = static_cast<exmlMode>(std::atoi(argv[i + 1]));
            const bool ok = step == "query" ? dropBoxClient->QueryVCL(answer, mode)
                                            : dropBoxClient->doDepCheck(answer, mode);
            std::printf("%s=%d error=%d answer=%s\n", step.c_str(), ok ? 1 : 0, dropBoxClient->getKOLTError(),
                        oneLine(answer.str()).c_str());
        } else if (step == "signedunzip" || step == "directcopy") {
            if (!dropBoxClient)
                dropBoxClient.reset(new secureTessa);
            const std::string source = argv[i + 1];
            const bool ok = step == "signedunzip"
                                ? stageOne(*dropBoxClient, source, "tes022/pkg/" + baseName(source), signedunzip,
                                           DIGEST_MD5, &secureTessa::CompleteSignedUnzip)
                                : stageOne(*dropBoxClient, source, "/payload/" + baseName(source), filecopy,
                                           DIGEST_SHA256, &secureTessa::copyPayloadtoDynamicPartition);
            std::printf("%s=%d error=%d\n", step.c_str(), ok ? 1 : 0, dropBoxClient->getKOLTError());
        } else if (step == "deletedropbox") {
            if (!dropBoxClient)
                dropBoxClient.reset(new secureTessa);
            std::printf("deletedropbox=%d\n", dropBoxClient->deleteDynamicPartition() ? 1 : 0);
        } else if (step == "label" || step == "disk-only") {
            CLinuxEnumerateDevices devices(step == "disk-only");
            std::string path;
            const bool ran = devices.GetDeviceWithLabel(label, path);
            std::printf("%s %s=%d:%s\n", step.c_str(), label.c_str(), ran ? 1 : 0, path.c_str());
        } else {
            std::printf("unknown step %s\n", step.c_str());
            return 2;
        }
        std::fflush(stdout);
    }
    dropBoxClient.reset();
    if (pQRMIPMILibHandle != nullptr)
        ReleaseQRMIPMILibrary();
    return 0;
}
