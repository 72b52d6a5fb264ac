#ifndef TESTS_SIM_SIMPLATFORM_H
#define TESTS_SIM_SIMPLATFORM_H

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "LinuxImpl.h"

// The platform layer of a simulated host: every shell command is recorded
// and answered from a script instead of a shell, pauses are recorded and not
// taken, and the kernel name is scripted. Everything else is the real
// Linux implementation. Install it with CPlatformLayer::SetForTesting,
// or call its operations directly.
//
// A command is answered by the answer for its exact text, else by the one
// for its longest matching prefix, else by the answer for all others. A
// command nobody scripted fails the test and gets 127. Safe to call from
// several threads; handlers run one at a time.
class SimPlatform : public CLinuxImpl {
public:
    // Gets the command text, gives its exit status (as system() reports it).
    using Handler = std::function<int(const std::string& command)>;

    void answer(const std::string& command, int status);
    void answer(const std::string& command, Handler handler);
    void answerPrefix(const std::string& prefix, int status);
    void answerPrefix(const std::string& prefix, Handler handler);
    void answerOthers(int status);
    void answerOthers(Handler handler);
    // Hands the command (or every unscripted one) to the real shell, still
    // recording it: only for commands harmless on the test machine, such as
    // scripts of the test's own or reads of files staged in a HostNamespace.
    void runInShell(const std::string& command);
    void runOthersInShell();

    // Recorded so far, in order: ExecuteCmd commands, ExecuteCmdNoWait
    // commands, Sleep arguments. Read them directly once the code under
    // test is done, or through the locked copies while threads still run.
    std::vector<std::string> commands;
    std::vector<std::string> backgroundCommands;
    std::vector<int> sleeps;
    std::vector<std::string> recorded();
    // The commands so far; the record starts again empty.
    std::vector<std::string> take();

    // umount(2): every call's directory, in order; each call takes the next
    // scripted answer (0 unmounted, else an errno value such as EBUSY) and,
    // once the script is used up, answers EINVAL as the kernel does for a
    // folder with nothing mounted on it. Nothing is ever unmounted.
    std::vector<std::string> umounts;
    void scriptUmount(std::initializer_list<int> answers);
    void scriptUmount(int answer, unsigned times);

    // uname()'s system name as the host reports it (ESXi: "VMkernel"), or
    // uname() failing.
    std::string kernelName = "Linux";
    bool unameWorks = true;

    int ExecuteCmd(const std::string& command, bool flag, const long& value) override;
    int ExecuteCmdNoWait(const std::string& command, bool flag, const long& value) override;
    void Sleep(int seconds) override;
    int Umount(const std::string& directory) override;

protected:
    bool queryKernelName(std::string& systemName) override;

private:
    struct Answer {
        bool scripted = false;
        bool shell = false;
        int status = 0;
        Handler handler;
    };
    static Answer fixed(int status);
    static Answer by(Handler handler);
    static Answer shellAnswer();
    int respond(const std::string& command, bool background, bool flag, const long& value);

    std::recursive_mutex m_mutex;
    std::map<std::string, Answer> m_exact;
    std::map<std::string, Answer> m_prefixes;
    Answer m_others;
    std::deque<int> m_umountAnswers;
};

#endif
