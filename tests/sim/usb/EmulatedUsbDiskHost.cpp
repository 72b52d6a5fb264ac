#include "EmulatedUsbDiskHost.h"

#include <fcntl.h>
#include <poll.h>
#include <scsi/scsi.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <umockdev.h>

#include "EmulatedIPMIDevice.h"
#include "ScsiNodeModel.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

const int kUsbHostBase = 6;       // usb-storage adapters get their numbers after the board's
const int kLocalHost = 2;         // the virtio-scsi adapter
const unsigned kImageKiB = 4096;  // with 512-byte clusters, enough of them for FAT16
const unsigned kPartitionStart = 2048;   // sectors, as partitioning tools align

[[noreturn]] void fail(const std::string& message)
{
    throw std::runtime_error("EmulatedUsbDiskHost: " + message);
}

void writeFile(const std::string& path, const std::string& content, mode_t mode = 0644)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out || chmod(path.c_str(), mode) != 0)
        fail("cannot write " + path);
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            result.push_back(line);
    return result;
}

std::string diskLetters(int n)
{
    std::string name;
    for (++n; n > 0; n = (n - 1) / 26)
        name.insert(name.begin(), static_cast<char>('a' + (n - 1) % 26));
    return name;
}

// One device node's state, shared with umockdev's handler thread; kept for
// the host's life once made, as the handler stays attached to its path.
struct NodeContext {
    std::mutex mutex;
    ScsiNodeModel model;
    bool present = false;
};

gboolean onScsiIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
{
    auto* node = static_cast<NodeContext*>(user);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    size_t size = 0;
    switch (request) {
    case SG_EMULATED_HOST:
    case SCSI_IOCTL_GET_BUS_NUMBER:
        size = sizeof(int);
        break;
    case SG_GET_SCSI_ID:
        size = sizeof(sg_scsi_id);
        break;
    case SCSI_IOCTL_GET_IDLUN:
        size = 2 * sizeof(uint32_t);
        break;
    default:
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }
    std::lock_guard<std::mutex> lock(node->mutex);
    // A generic node kept open across the unplug answers nothing more; a
    // disk node still tells its address.
    if (!node->present && node->model.kind == ScsiNodeModel::Generic) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    GError* error = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, &error);
    if (data == nullptr) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
    }
    const int rc = node->model.control(request, data->data);
    const int err = rc == 0 ? 0 : errno;
    umockdev_ioctl_client_complete(client, rc, err);
    g_object_unref(data);
    return TRUE;
}

const char* const kMountTool = R"(#!/bin/bash
# mount(8) of a test host without a vfat driver: the emulated disk named by
# the device (or by the link to it) stands for a folder, which is bound on
# the mount point (read-only for "ro").
state=@STATE@
printf '%s\n' "$*" >> "$state/mount.log"
type= options= places=()
while [ $# -gt 0 ]; do
  case "$1" in
    -n) ;;
    -r) options="$options,ro" ;;
    -t) shift; type=$1 ;;
    -t*) type=${1#-t} ;;
    -o) shift; options="$options,$1" ;;
    -o*) options="$options,${1#-o}" ;;
    -*) echo "mount: option $1 not supported here" >&2; exit 1 ;;
    *) places+=("$1") ;;
  esac
  shift
done
if [ ${#places[@]} -ne 2 ]; then
  echo "mount: a device and a mount point are needed" >&2; exit 1
fi
device=${places[0]} point=${places[1]}
if [ "$type" != vfat ]; then
  echo "mount: unknown filesystem type '$type'" >&2; exit 32
fi
target=$device
[ -L "$device" ] && target=$(readlink "$device")
name=${target#/dev/}
if [ "$name" = "$target" ] || [ ! -f "$state/disks/$name" ]; then
  echo "mount: $point: special device $device does not exist." >&2; exit 32
fi
if [ ! -d "$point" ]; then
  echo "mount: $point: mount point does not exist." >&2; exit 32
fi
backing=$(cat "$state/disks/$name")
if [ -z "$backing" ]; then
  echo "mount: $point: wrong fs type, bad option, bad superblock on $device." >&2; exit 32
fi
/bin/mount --bind "$backing" "$point" || exit 32
case ",$options," in
  *,ro,*) /bin/mount -o remount,bind,ro "$point" || { /bin/umount "$point"; exit 32; } ;;
esac
exit 0
)";

// The scan before each search attempt: reports the attempt to the host and
// waits until the host has shown what is due.
const char* const kBlockdevTool = R"(#!/bin/bash
state=@STATE@
[ "$1" = --report ] || exit 0
echo attempt > "$state/attempt.request"
read -r -t 20 answer < "$state/attempt.answer"
exit 0
)";

const char* const kLsmodTool = R"(#!/bin/sh
cat @STATE@/modules
)";

// The commands the program starts run without umockdev's preload; a
// listing of /dev (how NVMe controllers are found) shows the testbed's
// nodes beside the private /dev's, as the preloaded program would see them.
const char* const kLsTool = R"(#!/bin/sh
if [ "$#" -eq 2 ] && [ "$1" = -a ] && [ "$2" = /dev ] && [ -n "$UMOCKDEV_DIR" ]; then
  { /bin/ls -a /dev; /bin/ls -a "$UMOCKDEV_DIR/dev" 2>/dev/null; } | sort -u
else
  exec /bin/ls "$@"
fi
)";

// Never a real module change from a test: recorded, and refused.
const char* const kModuleChangeTool = R"(#!/bin/sh
echo "$(basename "$0") $*" >> @STATE@/modules.log
exit 1
)";

std::string withState(const char* text, const std::string& state)
{
    std::string result = text;
    for (size_t at; (at = result.find("@STATE@")) != std::string::npos;)
        result.replace(at, 7, state);
    return result;
}

} // namespace

struct EmulatedUsbDiskHost::Impl {
    enum Kind { Static, Dynamic, Decoy };

    struct Disk {
        Kind kind = Decoy;
        unsigned bit = 0;
        std::string label;
        bool mbr = false;
        bool usb = true;
        std::string image;     // the FAT volume
        std::string backing;   // what a mount shows
        bool attached = false; // by the controller (decoys: always)
        bool shown = false;
        unsigned attachedAt = 0;
        int host = 0;
        int sg = -1;
        int sd = -1;
        std::string devicePath;   // sysfs path of the SCSI device
    };

    SimTessaController& tessa;
    TempDir state{false};
    UMockdevTestbed* testbed = nullptr;
    std::string root;
    std::unique_ptr<EmulatedIPMIDevice> ipmi;

    mutable std::mutex mutex;
    std::vector<Disk> disks;
    std::map<std::string, std::unique_ptr<NodeContext>> contexts;   // by node path
    std::vector<UMockdevIoctlBase*> handlers;
    unsigned attemptsBeforeAppearing = 0;
    unsigned attempts = 0;           // since the host was made
    unsigned attemptsAtRun = 0;
    int nextUsbHost = kUsbHostBase;
    int nextGeneric = 0;
    uint16_t attachedStatic = 0;
    uint16_t attachedDynamic = 0;
    bool changed = false;            // the controller's word moved since last applied

    int wakeup = -1;                 // eventfd: the controller's word moved, or stop
    int request = -1;                // the attempt FIFOs
    int answer = -1;
    std::atomic<bool> stopping{false};
    std::thread worker;
    std::condition_variable applied;

    explicit Impl(SimTessaController& t) : tessa(t) {}

    std::string stateFile(const std::string& name) const { return state.file(name); }

    std::string makeImage(const std::string& label)
    {
        const std::string path = stateFile("images/" + label + std::to_string(disks.size()) + ".img");
        const std::string command = "/sbin/mkfs.vfat -F 16 -s 1 -n '" + label + "' -C '" + path + "' " +
                                    std::to_string(kImageKiB) + " >/dev/null 2>&1";
        if (label.find('\'') != std::string::npos || std::system(command.c_str()) != 0)
            fail("mkfs.vfat could not make an image labelled " + label);
        return path;
    }

    void addDisk(Disk disk)
    {
        disk.image = makeImage(disk.label);
        disk.backing = stateFile("backing/" + disk.label + "-" + std::to_string(disks.size()));
        fs::create_directories(disk.backing);
        std::lock_guard<std::mutex> lock(mutex);
        disks.push_back(disk);
        if (disk.kind == Decoy) {
            disks.back().attached = true;
            show(disks.back());
        }
    }

    int lowestFreeDisk() const
    {
        for (int n = 0;; ++n) {
            bool used = false;
            for (const Disk& d : disks)
                used = used || (d.shown && d.sd == n);
            if (!used)
                return n;
        }
    }

    void addFromString(const std::string& description)
    {
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(testbed, description.c_str(), &error)) {
            std::string message = error ? error->message : "unknown error";
            g_clear_error(&error);
            fail("umockdev: " + message);
        }
    }

    NodeContext& context(const std::string& node)
    {
        auto found = contexts.find(node);
        if (found != contexts.end())
            return *found->second;
        std::unique_ptr<NodeContext> made(new NodeContext);
        NodeContext& result = *made;
        contexts[node] = std::move(made);
        UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
        g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onScsiIoctl), &result);
        GError* error = nullptr;
        if (!umockdev_testbed_attach_ioctl(testbed, node.c_str(), handler, &error)) {
            std::string message = error ? error->message : "unknown error";
            g_clear_error(&error);
            g_object_unref(handler);
            fail("umockdev: cannot attach the ioctl handler of " + node + ": " + message);
        }
        handlers.push_back(handler);
        return result;
    }

    void setModel(const std::string& node, const ScsiNodeModel& model)
    {
        NodeContext& c = context(node);
        std::lock_guard<std::mutex> lock(c.mutex);
        c.model = model;
        c.present = true;
    }

    static std::string mbrFor(uint64_t imageBytes)
    {
        std::string sector(512, '\0');
        unsigned char* entry = reinterpret_cast<unsigned char*>(&sector[0x1BE]);
        const uint32_t start = kPartitionStart;
        const uint32_t count = static_cast<uint32_t>(imageBytes / 512);
        entry[4] = 0x06;   // FAT16
        for (int i = 0; i < 4; ++i) {
            entry[8 + i] = static_cast<unsigned char>(start >> (8 * i));
            entry[12 + i] = static_cast<unsigned char>(count >> (8 * i));
        }
        sector[510] = '\x55';
        sector[511] = '\xAA';
        return sector;
    }

    // Called with the lock held.
    void show(Disk& disk)
    {
        // Generic numbers are not reused: umockdev cannot make a terminal
        // node again under a name it once had.
        disk.sg = nextGeneric++;
        disk.sd = lowestFreeDisk();
        disk.host = disk.usb ? nextUsbHost++ : kLocalHost;
        const std::string h = std::to_string(disk.host);
        const std::string sg = "sg" + std::to_string(disk.sg);
        const std::string sd = "sd" + diskLetters(disk.sd);
        disk.devicePath = disk.usb ? "/devices/pci0000:00/0000:00:14.0/usb1/1-" + h + "/1-" + h + ":1.0/host" + h +
                                         "/target" + h + ":0:0/" + h + ":0:0:0"
                                   : "/devices/pci0000:00/0000:00:04.0/virtio1/host" + h + "/target" + h + ":0:0/" + h +
                                         ":0:" + std::to_string(disk.sd) + ":0";
        std::ostringstream description;
        description << "P: " << disk.devicePath << "/scsi_generic/" << sg << "\nN: " << sg
                    << "\nE: SUBSYSTEM=scsi_generic\nE: DEVNAME=/dev/" << sg << "\nA: dev=21:" << disk.sg << "\n\n";
        description << "P: " << disk.devicePath << "/block/" << sd << "\nN: " << sd
                    << "\nE: SUBSYSTEM=block\nE: DEVTYPE=disk\nE: DEVNAME=/dev/" << sd << "\nA: dev=8:" << 16 * disk.sd
                    << "\n\n";
        if (disk.mbr)
            description << "P: " << disk.devicePath << "/block/" << sd << "/" << sd << "1\nN: " << sd
                        << "1\nE: SUBSYSTEM=block\nE: DEVTYPE=partition\nE: DEVNAME=/dev/" << sd
                        << "1\nA: dev=8:" << 16 * disk.sd + 1 << "\n\n";
        addFromString(description.str());

        // The disk's contents: the volume, behind a partition table with MBR.
        const std::string volume = readWholeFile(disk.image);
        if (disk.mbr) {
            std::string whole = mbrFor(volume.size());
            whole.resize(kPartitionStart * 512, '\0');
            writeFile(root + "/dev/" + sd, whole + volume);
            writeFile(root + "/dev/" + sd + "1", volume);
        } else {
            writeFile(root + "/dev/" + sd, volume);
        }

        ScsiNodeModel generic;
        generic.kind = ScsiNodeModel::Generic;
        generic.host = disk.host;
        generic.id = disk.usb ? 0 : disk.sd;
        generic.emulated = disk.usb ? 1 : 0;
        ScsiNodeModel block = generic;
        block.kind = ScsiNodeModel::Disk;
        setModel("/dev/" + sg, generic);
        setModel("/dev/" + sd, block);
        if (disk.mbr)
            setModel("/dev/" + sd + "1", block);

        const std::string volumeNode = disk.mbr ? sd + "1" : sd;
        fs::create_directories(stateFile("disks"));
        writeFile(stateFile("disks/" + volumeNode), disk.backing + "\n");
        disk.shown = true;
    }

    // Called with the lock held.
    void hide(Disk& disk)
    {
        const std::string sg = "sg" + std::to_string(disk.sg);
        const std::string sd = "sd" + diskLetters(disk.sd);
        std::vector<std::string> blocks = {sd};
        if (disk.mbr)
            blocks.push_back(sd + "1");
        for (const std::string& node : blocks) {
            // A descriptor kept open reads end of file from now on.
            if (truncate((root + "/dev/" + node).c_str(), 0) != 0)
                fail("cannot empty /dev/" + node);
            std::lock_guard<std::mutex> lock(context("/dev/" + node).mutex);
            context("/dev/" + node).present = false;
            fs::remove(stateFile("disks/" + node));
        }
        {
            NodeContext& c = context("/dev/" + sg);
            std::lock_guard<std::mutex> lock(c.mutex);
            c.present = false;
        }
        if (disk.mbr)
            umockdev_testbed_remove_device(testbed, ("/sys" + disk.devicePath + "/block/" + sd + "/" + sd + "1").c_str());
        umockdev_testbed_remove_device(testbed, ("/sys" + disk.devicePath + "/block/" + sd).c_str());
        umockdev_testbed_remove_device(testbed, ("/sys" + disk.devicePath + "/scsi_generic/" + sg).c_str());
        // umockdev leaves the /sys/block links behind; the name may come back.
        for (const std::string& node : blocks) {
            std::error_code ignored;
            fs::remove(root + "/sys/block/" + node, ignored);
            fs::remove(root + "/sys/class/block/" + node, ignored);
        }
        disk.shown = false;
        disk.sg = disk.sd = -1;
    }

    // Brings the disks in line with the controller's attached words.
    // Called with the lock held.
    void apply(bool attempt)
    {
        if (attempt)
            ++attempts;
        for (Disk& disk : disks) {
            if (disk.kind == Decoy)
                continue;
            const uint16_t word = disk.kind == Static ? attachedStatic : attachedDynamic;
            const bool attached = (word >> disk.bit) & 1u;
            if (attached && !disk.attached)
                disk.attachedAt = attempts;
            disk.attached = attached;
            if (!attached && disk.shown)
                hide(disk);
            const unsigned missed = attempts - disk.attachedAt;
            if (attached && !disk.shown && (attemptsBeforeAppearing == 0 || missed > attemptsBeforeAppearing))
                show(disk);
        }
        changed = false;
        applied.notify_all();
    }

    void signal() const
    {
        const uint64_t one = 1;
        ssize_t n = ::write(wakeup, &one, sizeof one);
        (void)n;
    }

    void run()
    {
        struct pollfd fds[2] = {{wakeup, POLLIN, 0}, {request, POLLIN, 0}};
        while (!stopping) {
            if (poll(fds, 2, -1) < 0 && errno != EINTR)
                break;
            if (fds[0].revents & POLLIN) {
                uint64_t count;
                ssize_t n = ::read(wakeup, &count, sizeof count);
                (void)n;
                std::lock_guard<std::mutex> lock(mutex);
                if (changed)
                    apply(false);
            }
            if (fds[1].revents & POLLIN) {
                char buffer[256];
                const ssize_t got = ::read(request, buffer, sizeof buffer);
                for (ssize_t i = 0; i < got; ++i) {
                    if (buffer[i] != '\n')
                        continue;
                    {
                        std::lock_guard<std::mutex> lock(mutex);
                        apply(true);
                    }
                    ssize_t n = ::write(answer, "ok\n", 3);
                    (void)n;
                }
            }
        }
    }

    void waitApplied()
    {
        std::unique_lock<std::mutex> lock(mutex);
        applied.wait_for(lock, std::chrono::seconds(10), [this] { return !changed; });
    }
};

EmulatedUsbDiskHost::EmulatedUsbDiskHost(HostNamespace& ns, SimTessaController& tessa) : m_impl(new Impl(tessa))
{
    Impl& impl = *m_impl;
    const std::string state = impl.state.path();
    fs::create_directories(state + "/bin");
    fs::create_directories(state + "/images");
    fs::create_directories(state + "/disks");
    writeFile(state + "/bin/mount", withState(kMountTool, state), 0755);
    writeFile(state + "/bin/lsmod", withState(kLsmodTool, state), 0755);
    writeFile(state + "/bin/ls", kLsTool, 0755);
    for (const char* tool : {"modprobe", "rmmod", "insmod"})
        writeFile(state + "/bin/" + tool, withState(kModuleChangeTool, state), 0755);
    setModulesLoaded(true, true);
    ns.putFile("/sbin/blockdev", withState(kBlockdevTool, state), 0755);

    for (const char* fifo : {"attempt.request", "attempt.answer"})
        if (mkfifo(impl.stateFile(fifo).c_str(), 0600) != 0)
            fail(std::string("cannot make ") + fifo);
    // Held open both ways, so neither side ever sees the other end closed.
    impl.request = ::open(impl.stateFile("attempt.request").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    impl.answer = ::open(impl.stateFile("attempt.answer").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    impl.wakeup = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl.request < 0 || impl.answer < 0 || impl.wakeup < 0)
        fail("cannot open the attempt channel");

    impl.testbed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(impl.testbed);
    impl.root = root;
    g_free(root);
    // What scandir lists in the run's /sys: the testbed's class folder is
    // bound there at launch. The whole of it, because umockdev removes the
    // scsi_generic folder when its last device goes, and a bind of that
    // folder would then never show the next one.
    fs::create_directories(impl.root + "/sys/class/scsi_generic");
    impl.ipmi.reset(new EmulatedIPMIDevice(impl.testbed, tessa.Controller()));

    Impl* self = &impl;
    // The answer to an attach or detach waits until the host has caught
    // up, so a program sees the disks change before it hears back (a disk
    // held back for search attempts appears at one of them).
    tessa.SetAttachObserver([self](uint16_t attachedStatic, uint16_t attachedDynamic) {
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            self->attachedStatic = attachedStatic;
            self->attachedDynamic = attachedDynamic;
            self->changed = true;
        }
        self->signal();
        self->waitApplied();
    });
    impl.worker = std::thread([self] { self->run(); });
}

EmulatedUsbDiskHost::~EmulatedUsbDiskHost()
{
    Impl& impl = *m_impl;
    impl.tessa.SetAttachObserver(nullptr);
    impl.stopping = true;
    impl.signal();
    if (impl.worker.joinable())
        impl.worker.join();
    impl.ipmi.reset();
    for (auto& context : impl.contexts)
        umockdev_testbed_detach_ioctl(impl.testbed, context.first.c_str(), nullptr);
    for (UMockdevIoctlBase* handler : impl.handlers)
        g_object_unref(handler);
    g_object_unref(impl.testbed);
    for (int fd : {impl.request, impl.answer, impl.wakeup})
        if (fd >= 0)
            ::close(fd);
}

void EmulatedUsbDiskHost::exposeStatic(unsigned bit, const std::string& label, const DiskOptions& options)
{
    Impl::Disk disk;
    disk.kind = Impl::Static;
    disk.bit = bit;
    disk.label = label;
    disk.mbr = options.mbr;
    m_impl->addDisk(disk);
}

void EmulatedUsbDiskHost::exposeDynamic(unsigned bit, const std::string& label, const DiskOptions& options)
{
    Impl::Disk disk;
    disk.kind = Impl::Dynamic;
    disk.bit = bit;
    disk.label = label;
    disk.mbr = options.mbr;
    m_impl->addDisk(disk);
}

void EmulatedUsbDiskHost::setAttemptsBeforeAppearing(unsigned attempts)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->attemptsBeforeAppearing = attempts;
}

void EmulatedUsbDiskHost::addLocalDisk(const std::string& label, const DiskOptions& options)
{
    Impl::Disk disk;
    disk.label = label;
    disk.mbr = options.mbr;
    disk.usb = false;
    m_impl->addDisk(disk);
}

void EmulatedUsbDiskHost::addUsbDisk(const std::string& label, const DiskOptions& options)
{
    Impl::Disk disk;
    disk.label = label;
    disk.mbr = options.mbr;
    m_impl->addDisk(disk);
}

void EmulatedUsbDiskHost::setModulesLoaded(bool sg, bool usbStorage)
{
    std::string text = "Module                  Size  Used by\n";
    if (sg)
        text += "sg                     45056  0\n";
    if (usbStorage)
        text += "usb_storage            81920  1 uas\n";
    text += "vfat                   24576  0\n";
    // A server with a management controller has its IPMI stack up; the
    // library would otherwise try to load it and pause before each unload.
    text += "ipmi_si                86016  0\n"
            "ipmi_devintf           20480  0\n"
            "ipmi_msghandler        77824  2 ipmi_devintf,ipmi_si\n";
    writeFile(m_impl->stateFile("modules"), text);
}

std::string EmulatedUsbDiskHost::deviceOf(const std::string& label) const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    for (const Impl::Disk& disk : m_impl->disks)
        if (disk.label == label && disk.shown && disk.kind != Impl::Decoy)
            return "/dev/sd" + diskLetters(disk.sd) + (disk.mbr ? "1" : "");
    return std::string();
}

std::string EmulatedUsbDiskHost::backingFolder(const std::string& label) const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    for (const Impl::Disk& disk : m_impl->disks)
        if (disk.label == label)
            return disk.backing;
    return std::string();
}

std::vector<std::string> EmulatedUsbDiskHost::nodes() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    std::vector<std::string> result;
    for (const fs::directory_entry& entry : fs::directory_iterator(m_impl->root + "/dev")) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, 2, "sd") == 0 || name.compare(0, 2, "sg") == 0)
            result.push_back("/dev/" + name);
    }
    std::sort(result.begin(), result.end());
    return result;
}

unsigned EmulatedUsbDiskHost::attempts() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->attempts - m_impl->attemptsAtRun;
}

std::vector<std::string> EmulatedUsbDiskHost::mountCalls() const
{
    return lines(readWholeFile(m_impl->stateFile("mount.log")));
}

std::vector<std::string> EmulatedUsbDiskHost::umountCalls() const
{
    return lines(readWholeFile(m_impl->stateFile("umounts.log")));
}

std::vector<std::string> EmulatedUsbDiskHost::sleeps() const
{
    return lines(readWholeFile(m_impl->stateFile("sleeps.log")));
}

double EmulatedUsbDiskHost::sleptSeconds() const
{
    double total = 0;
    for (const std::string& line : sleeps())
        total += std::strtod(line.c_str() + line.find(' ') + 1, nullptr);
    return total;
}

EmulatedRun EmulatedUsbDiskHost::run(const std::string& executable, const std::vector<std::string>& args,
                                     const std::string& workDir, int timeoutSeconds,
                                     const std::vector<std::string>& environment, const std::string& before,
                                     const std::string& after)
{
    Impl& impl = *m_impl;
    impl.waitApplied();
    {
        std::lock_guard<std::mutex> lock(impl.mutex);
        impl.attemptsAtRun = impl.attempts;
    }
    fs::remove(impl.stateFile("sleeps.log"));
    fs::remove(impl.stateFile("mount.log"));
    fs::remove(impl.stateFile("umounts.log"));

    LaunchRequest request;
    request.executable = executable;
    request.args = args;
    request.workDir = workDir;
    request.umockdevRoot = impl.root;
    request.preload = sleepPreloadLibrary() + ":libumockdev-preload.so.0";
    const char* path = std::getenv("PATH");
    request.environment = {"ZAGO_SLEEP_LOG=" + impl.stateFile("sleeps.log"),
                           "ZAGO_UMOUNT_LOG=" + impl.stateFile("umounts.log"), "ZAGO_PRELOAD_SCOPE=process",
                           "PATH=" + impl.stateFile("bin") + ":" + (path ? path : "/usr/sbin:/usr/bin:/sbin:/bin")};
    request.environment.insert(request.environment.end(), environment.begin(), environment.end());
    request.timeoutSeconds = timeoutSeconds;
    request.writableDev = true;
    request.privateTmp = true;
    request.binds = {{impl.state.path(), impl.state.path()},
                     {impl.root + "/sys/class", "/sys/class"}};
    request.before = before;
    request.after = after;
    return launchIsolated(request);
}

std::string EmulatedUsbDiskHost::rootDir() const { return m_impl->root; }

UMockdevTestbed* EmulatedUsbDiskHost::testbed() const { return m_impl->testbed; }

std::string sleepPreloadLibrary() { return ZAGO_SLEEP_PRELOAD; }
