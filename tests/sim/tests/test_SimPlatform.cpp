// The recording platform of the simulated host: which scripted answer a
// command gets, what is recorded, and that nothing unscripted reaches a
// shell.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "PlatformLayer.h"
#include "ScopedSeam.h"
#include "SimPlatform.h"
#include "TempDir.h"

using Strings = std::vector<std::string>;

TEST(SimPlatform, ExactTextBeatsLongestPrefixBeatsOthers)
{
    SimPlatform host;
    host.answer("lsmod | grep usb_storage", 0);
    host.answerPrefix("lsmod", 1);
    host.answerPrefix("lsmod | grep", 2);
    host.answerOthers(3);

    struct Case {
        const char* command;
        int status;
    };
    for (const Case& c : std::vector<Case>{{"lsmod | grep usb_storage", 0},
                                           {"lsmod | grep usb_storage ", 2},
                                           {"lsmod | grep ipmi_si", 2},
                                           {"lsmod", 1},
                                           {"lsmo", 3},
                                           {"modprobe x", 3}})
        EXPECT_EQ(host.ExecuteCmd(c.command, false, 0), c.status) << c.command;
    EXPECT_EQ(host.take(), (Strings{"lsmod | grep usb_storage", "lsmod | grep usb_storage ", "lsmod | grep ipmi_si",
                                    "lsmod", "lsmo", "modprobe x"}));
    EXPECT_TRUE(host.commands.empty());
}

TEST(SimPlatform, UnscriptedCommandsFailTheTestAndNeverRun)
{
    TempDir dir;
    SimPlatform host;
    int status = 0;
    EXPECT_NONFATAL_FAILURE(status = host.ExecuteCmd("touch ran", false, 0), "unexpected command: touch ran");
    EXPECT_EQ(status, 127);
    EXPECT_NONFATAL_FAILURE(status = host.ExecuteCmdNoWait("touch ran2", false, 0),
                            "unexpected background command: touch ran2");
    EXPECT_EQ(status, 127);
    EXPECT_FALSE(dir.exists("ran"));
    EXPECT_FALSE(dir.exists("ran2"));
    EXPECT_EQ(host.commands, (Strings{"touch ran"}));
    EXPECT_EQ(host.backgroundCommands, (Strings{"touch ran2"}));
}

TEST(SimPlatform, HandlersModelStateAndShellAnswersRunForReal)
{
    TempDir dir;
    SimPlatform host;
    bool loaded = false;
    host.answer("modprobe m", [&loaded](const std::string&) {
        loaded = true;
        return 0;
    });
    host.answerPrefix("lsmod", [&loaded](const std::string& command) {
        EXPECT_EQ(command, "lsmod | grep m");
        return loaded ? 0 : 256;
    });
    host.runInShell("echo real > ran; exit 3");
    EXPECT_EQ(host.ExecuteCmd("lsmod | grep m", false, 0), 256);
    EXPECT_EQ(host.ExecuteCmd("modprobe m", false, 0), 0);
    EXPECT_EQ(host.ExecuteCmd("lsmod | grep m", false, 0), 0);
    EXPECT_EQ(host.ExecuteCmd("echo real > ran; exit 3", false, 0), 3 << 8);
    EXPECT_EQ(dir.read("ran"), "real\n");

    host.runOthersInShell();
    EXPECT_EQ(host.ExecuteCmd("echo other > other", false, 0), 0);
    EXPECT_EQ(dir.read("other"), "other\n");
    EXPECT_EQ(host.recorded().size(), 5u);
}

TEST(SimPlatform, SleepsAreRecordedNotTaken)
{
    SimPlatform host;
    const auto start = std::chrono::steady_clock::now();
    host.Sleep(1);
    host.Sleep(59);
    {
        ScopedSeam<CPlatformLayer> installed(&host);
        CPlatformLayer::Sleep(3);
    }
    // Taken, they would last 63 seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(host.sleeps, (std::vector<int>{1, 59, 3}));
}

TEST(SimPlatform, KernelNameIsScripted)
{
    SimPlatform host;
    EXPECT_FALSE(host.isESXiSystem());
    host.kernelName = "vmkernel";
    EXPECT_TRUE(host.isESXiSystem());
    host.unameWorks = false;
    EXPECT_FALSE(host.isESXiSystem());
}

TEST(SimPlatform, RecordsFromSeveralThreads)
{
    SimPlatform host;
    host.answerOthers(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&host] {
            for (int i = 0; i < 250; ++i) {
                host.ExecuteCmd("cmd", false, 0);
                host.Sleep(0);
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(host.recorded().size(), 1000u);
    EXPECT_EQ(host.sleeps.size(), 1000u);
}

TEST(SimPlatform, UmountCallsAreRecordedAndScripted)
{
    SimPlatform host;
    host.scriptUmount({0, EBUSY});
    host.scriptUmount(EPERM, 2);
    std::vector<int> answers;
    {
        ScopedSeam<CPlatformLayer> installed(&host);
        for (int i = 0; i < 5; ++i)
            answers.push_back(CPlatformLayer::Umount("/tmp/SECUPD"));
    }
    // Past the script: nothing is mounted there, as the kernel would say.
    EXPECT_EQ(answers, (std::vector<int>{0, EBUSY, EPERM, EPERM, EINVAL}));
    EXPECT_EQ(host.umounts, std::vector<std::string>(5, "/tmp/SECUPD"));
}

TEST(SimPlatform, CapturedCommandsTakeTheSameAnswersWithTheirOutput)
{
    SimPlatform host;
    host.answer("lsmod | grep -w sg >/dev/null;echo $?", 0, "0\n");
    host.answerPrefix("/bin/cat /proc/scsi/scsi", 0, "Host: scsi6 Channel: 00 Id: 00 Lun: 00\n");
    host.answerPrefix("/etc/init.d/haldaemon", 768, "haldaemon is not running\n");
    host.answerPrefix("sync", 0);
    host.answerOthers(1, "other\n");

    struct Case {
        const char* command;
        size_t bound;
        int status;
        const char* output;
    };
    const std::vector<Case> cases = {
        {"lsmod | grep -w sg >/dev/null;echo $?", 512, 0, "0\n"},
        {"/bin/cat /proc/scsi/scsi | /bin/sed -n '/SECUPD/{g;1!p;};h'", 512, 0,
         "Host: scsi6 Channel: 00 Id: 00 Lun: 00\n"},
        {"/etc/init.d/haldaemon status", 9, 768, "haldaemon"},  // cut to the bound
        {"/etc/init.d/haldaemon status", 0, 768, ""},
        {"sync", 512, 0, ""},  // an answer without output gives none
        {"ls /tmp", 512, 1, "other\n"},
    };
    for (const Case& c : cases) {
        std::string output = "left over";
        EXPECT_EQ(host.ExecuteCmdCapture(c.command, c.bound, output), c.status) << c.command;
        EXPECT_EQ(output, c.output) << c.command;
    }
    // Run without capture, an answer with output gives its status alone.
    EXPECT_EQ(host.ExecuteCmd("lsmod | grep -w sg >/dev/null;echo $?", false, 0), 0);

    // One record, in the order the commands came, whichever way they ran.
    std::vector<std::string> expected;
    for (const Case& c : cases)
        expected.push_back(c.command);
    expected.push_back("lsmod | grep -w sg >/dev/null;echo $?");
    EXPECT_EQ(host.take(), expected);
}

TEST(SimPlatform, OutputHandlersModelState)
{
    SimPlatform host;
    int listed = 0;
    host.answerPrefix("ls ", [&listed](const std::string& command, std::string& output) {
        output = command.substr(3) + " " + std::to_string(++listed) + "\n";
        return 0;
    });
    std::string output;
    EXPECT_EQ(host.ExecuteCmdCapture("ls /dev/sg*", 512, output), 0);
    EXPECT_EQ(output, "/dev/sg* 1\n");
    EXPECT_EQ(host.ExecuteCmdCapture("ls /dev/sd*", 4, output), 0);
    EXPECT_EQ(output, "/dev");
    // Run without capture, the handler still runs; its output goes nowhere.
    EXPECT_EQ(host.ExecuteCmd("ls x", false, 0), 0);
    EXPECT_EQ(listed, 3);
}

TEST(SimPlatform, UnscriptedCapturedCommandsFailTheTestAndNeverRun)
{
    TempDir dir;
    SimPlatform host;
    host.answer("touch other", 0);
    int status = 0;
    std::string output = "left over";
    EXPECT_NONFATAL_FAILURE(status = host.ExecuteCmdCapture("touch ran; echo done", 512, output),
                            "unexpected command: touch ran; echo done");
    EXPECT_EQ(status, 127);
    EXPECT_EQ(output, "");
    EXPECT_FALSE(dir.exists("ran"));
    EXPECT_EQ(host.commands, (Strings{"touch ran; echo done"}));
}

TEST(SimPlatform, CapturedShellAnswersRunForRealWithTheBound)
{
    TempDir dir;
    SimPlatform host;
    host.runInShell("echo real > ran; printf 'abcdef'; exit 2");
    std::string output;
    EXPECT_EQ(host.ExecuteCmdCapture("echo real > ran; printf 'abcdef'; exit 2", 4, output), 2 << 8);
    EXPECT_EQ(output, "abcd");
    EXPECT_EQ(dir.read("ran"), "real\n");
}

TEST(SimPlatform, TheFacadeReachesTheScriptedCapture)
{
    SimPlatform host;
    host.answer("uname -r", 0, "6.1.0\n");
    std::string output;
    {
        ScopedSeam<CPlatformLayer> installed(&host);
        EXPECT_EQ(CPlatformLayer::ExecuteCmdCapture("uname -r", 512, output), 0);
    }
    EXPECT_EQ(output, "6.1.0\n");
    EXPECT_EQ(host.commands, (Strings{"uname -r"}));
}
