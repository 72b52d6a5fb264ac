#ifndef CM_KOLT_TESTS_COMPONENTFOLDERTEST_H
#define CM_KOLT_TESTS_COMPONENTFOLDERTEST_H

// The firmware-image partition "TES022" on a Linux host, exposed and
// mountable, its folder /tmp/TES022 in the test's private /tmp; a package
// descriptor of component 1234 in the working directory and a copy
// transaction open.

#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "PartitionHostTest.h"

// A package descriptor of component 1234 with the given vendor version.
inline std::string ComponentPackage(const std::string& version)
{
    return "<?xml version=\"1.0\"?>\n<SoftwareComponent vendorVersion=\"" + version +
           "\"><SupportedDevices><Device componentID=\"1234\"/></SupportedDevices></SoftwareComponent>\n";
}

class ComponentFolderTest : public PartitionHostTest {
protected:
    using Strings = std::vector<std::string>;

    void SetUp() override
    {
        PartitionHostTest::SetUp();
        if (HasFatalFailure())
            return;
        exposeAndMountable();
        host.answerPrefix("umount ", 0);
        host.answer(parthost::kUsbLoad, 0);
        // The working folder lies under the /tmp the private one hides: the
        // descriptor is written through the working directory.
        std::ofstream("package.xml") << ComponentPackage("A00");
        ASSERT_EQ(::mkdir("/tmp/TES022", 0755), 0);
        client->l_state = 0;
        ASSERT_TRUE(client->StartCopyFile());
    }

    // Folders (ending in "/") and files on "TES022", as the controller keeps them.
    void onPartition(const Strings& paths, const std::string& content = "")
    {
        for (const std::string& path : paths) {
            const std::string full = "/tmp/TES022/" + path;
            if (full.back() == '/')
                ::mkdir(full.c_str(), 0755);
            else
                std::ofstream(full) << content;
        }
    }
};

#endif
