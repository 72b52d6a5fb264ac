#ifndef CM_KOLT_LINUXUTILS_H
#define CM_KOLT_LINUXUTILS_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Volume-label reader for the FAT file systems of the partitions that the
// management controller exposes as USB disks. It reads the raw block device
// (or an image file) and never writes to it.
//
// The reader's state for one open device: a cache of the device from byte
// 0 (the boot sector, the FATs and, on small volumes, the FAT12/FAT16 root
// directory) and one window further in. The record owns its descriptor and
// both buffers; deleting it closes and frees them.
struct device {
    device() = default;
    ~device();
    device(const device&) = delete;
    device& operator=(const device&) = delete;

    int fd = -1;
    // Start buffer: 0x11000 bytes, allocated on first use, never moved.
    std::unique_ptr<unsigned char[]> start;
    uint32_t startValid = 0;
    // Window: at least 4096 bytes, grown to the longest stretch asked for.
    std::vector<unsigned char> window;
    uint64_t windowStart = 0;
    uint32_t windowValid = 0;
};

// Size of the start buffer and the smallest window.
const uint32_t kFatStartBufferBytes = 0x11000;
const uint32_t kFatWindowBytes = 4096;
// Longest stretch the window is grown to: more than a FAT12/FAT16 root
// directory of 65535 entries or a cluster of 255 sectors of 4096 bytes.
const uint32_t kFatLongestRead = 4u * 1024u * 1024u;

// length bytes of the device from byte offset, or null when they cannot be
// read in full. A pointer into the start buffer stays valid while the record
// lives; one into the window until the window is next refilled.
unsigned char* get_buffer(device* dev, unsigned long long offset, unsigned int length);

// Looks for the volume-label entry of the FAT file system that starts at
// byte offset. -1 when no boot sector can be read there, its sector size is
// not 512, 1024, 2048 or 4096 or it holds no sectors per cluster; 0
// otherwise. A label entry found is handed back as a pointer to its 32-byte
// directory entry through label, which is left unchanged otherwise.
int getLabel(device* dev, unsigned long long offset, unsigned char** label);

// Opens path read-only and non-blocking and gives a fresh record holding
// the descriptor (delete it when done), or null when the open fails.
device* open_dev(const char* path);

// The volume label of the FAT file system at byte 0 of path: the 11-byte
// name field up to its first zero byte, trailing blanks included; empty when
// there is none or the path cannot be read.
std::string getLabel(std::string path);

// Runs command through the shell and gives the start of its output (at
// most 512 bytes, up to the first zero byte); empty when it could not be
// started or printed nothing. Its exit status is not looked at. It belongs
// to the device search and logs as such (QueryVCL.cpp).
std::string executeCmd(const std::string& command);

// The client's one way to a shell: every command of the managed-storage
// client and of the rollback copy goes through these two, which hand it to
// the platform layer. Both give the command's wait status (0 when it exited
// with 0), or -1 when no shell could be started. captureCommand also hands
// back the first maxBytes bytes of the command's standard output (all of it
// when there is less); standard error is not captured.
int runCommand(const std::string& command);
int captureCommand(const std::string& command, size_t maxBytes, std::string& output);

// A path or label as one word of a shell command. Ordinary text goes in as
// it is; text holding anything a shell could split, expand or run (or
// nothing at all) is put in single quotes.
std::string shellWord(const std::string& text);

// Checks a text before it goes into a shell command: a partition label is
// six capital letters or digits ("SECUPD", "TES001"); a disk path is
// "/dev/sd" with one to three lower-case letters, optionally followed by the
// first partition's "1".
bool isSafePartitionLabel(const std::string& label);
bool isSafeDiskDevicePath(const std::string& path);

#endif
