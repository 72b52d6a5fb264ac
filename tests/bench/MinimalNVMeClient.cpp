// The least a program can do to flash or list ZAGO controllers: the same
// admin commands as nvmepcissd, with nothing around them (no listing, no
// sysfs, no package descriptor, no documents, one open per controller).
// The benchmark's yardstick.
//
//   zago_nvme_min_client flash <image> <node>
//     adapter information, Identify, 4096-byte Firmware Image Download
//     pieces, Firmware Commit (replace, activate at reset)
//   zago_nvme_min_client inventory <node>...
//     adapter information and Identify on each node

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <linux/nvme_ioctl.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

int Admin(int fd, nvme_passthru_cmd& cmd)
{
    int rc = ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd);
    if (rc != 0)
        std::fprintf(stderr, "admin command 0x%02x: %d (%s)\n", cmd.opcode, rc, rc < 0 ? std::strerror(errno) : "status");
    return rc;
}

bool Identify(int fd)
{
    alignas(4096) static unsigned char reply[4096];
    nvme_passthru_cmd cmd;
    std::memset(&cmd, 0, sizeof(cmd));
    cmd.opcode = 0xE2;  // adapter information
    cmd.cdw10 = 0x400;
    cmd.cdw12 = 0xE0;
    cmd.cdw14 = 0x0D;
    cmd.addr = reinterpret_cast<uintptr_t>(reply);
    cmd.data_len = sizeof(reply);
    if (Admin(fd, cmd) != 0)
        return false;
    std::memset(&cmd, 0, sizeof(cmd));
    cmd.opcode = 0x06;  // Identify Controller
    cmd.cdw10 = 1;
    cmd.addr = reinterpret_cast<uintptr_t>(reply);
    cmd.data_len = sizeof(reply);
    return Admin(fd, cmd) == 0;
}

int Flash(const char* imagePath, const char* node)
{
    int image = open(imagePath, O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (image < 0 || fstat(image, &info) != 0 || info.st_size <= 0 || info.st_size % 4 != 0)
        return 2;
    // Page-aligned, as nvme-cli and the tool hold it: every 4096-byte piece
    // then lies in one page.
    const size_t size = static_cast<size_t>(info.st_size);
    void* buffer = nullptr;
    if (posix_memalign(&buffer, static_cast<size_t>(sysconf(_SC_PAGESIZE)), size) != 0)
        return 2;
    std::unique_ptr<unsigned char, decltype(&std::free)> data(static_cast<unsigned char*>(buffer), &std::free);
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(image, data.get() + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 2;
        got += static_cast<size_t>(n);
    }
    close(image);

    int fd = open(node, O_RDWR | O_CLOEXEC);
    if (fd < 0 || !Identify(fd))
        return 3;
    for (size_t offset = 0; offset < size; offset += 4096) {
        const size_t piece = size - offset < 4096 ? size - offset : 4096;
        nvme_passthru_cmd cmd;
        std::memset(&cmd, 0, sizeof(cmd));
        cmd.opcode = 0x11;  // Firmware Image Download
        cmd.addr = reinterpret_cast<uintptr_t>(data.get() + offset);
        cmd.data_len = static_cast<uint32_t>(piece);
        cmd.cdw10 = static_cast<uint32_t>(piece / 4 - 1);
        cmd.cdw11 = static_cast<uint32_t>(offset / 4);
        if (Admin(fd, cmd) != 0)
            return 4;
    }
    nvme_passthru_cmd commit;
    std::memset(&commit, 0, sizeof(commit));
    commit.opcode = 0x10;  // Firmware Commit
    commit.cdw10 = 0x08;
    if (Admin(fd, commit) != 0)
        return 5;
    close(fd);
    return 0;
}

int Inventory(int count, char** nodes)
{
    for (int i = 0; i < count; ++i) {
        int fd = open(nodes[i], O_RDWR | O_CLOEXEC);
        if (fd < 0 || !Identify(fd))
            return 3;
        close(fd);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "flash") == 0)
        return Flash(argv[2], argv[3]);
    if (argc >= 3 && std::strcmp(argv[1], "inventory") == 0)
        return Inventory(argc - 2, argv + 2);
    std::fprintf(stderr, "usage: %s flash <image> <node> | inventory <node>...\n", argv[0]);
    return 1;
}
