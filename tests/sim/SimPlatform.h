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
// Linux implementation. Install it with ScopedSeam<CPlatformLayer>, or call
// its operations directly.
//
// A command is answered by the answer for its exact text, else by the one
// for its longest matching prefix, else by the answer for all others. A
// command nobody scripted fails the test and gets 127. Commands whose output
// is captured (ExecuteCmdCapture) take the same answers: an answer may carry
// the standard output they get, cut to the caller's bound; an answer without
// output gives them none. Safe to call from several threads; handlers run
// one at a time.
class SimPlatform : public CLinuxImpl {
public:
    // Gets the command text, gives its exit status (as system() reports it).
    using Handler = std::function<int(const std::string& command)>;
    // The same for a command that also writes to its standard output:
    // `output` starts empty (and is dropped unless the output is captured).
    using OutputHandler = std::function<int(const std::string& command, std::string& output)>;

    void answer(const std::string& command, int status);
    void answer(const std::string& command, int status, const std::string& output);
    void answer(const std::string& command, Handler handler);
    void answer(const std::string& command, OutputHandler handler);
    void answerPrefix(const std::string& prefix, int status);
    void answerPrefix(const std::string& prefix, int status, const std::string& output);
    void answerPrefix(const std::string& prefix, Handler handler);
    void answerPrefix(const std::string& prefix, OutputHandler handler);
    void answerOthers(int status);
    void answerOthers(int status, const std::string& output);
    void answerOthers(Handler handler);
    void answerOthers(OutputHandler handler);
    // Hands the command (or every unscripted one) to the real shell, still
    // recording it: only for commands harmless on the test machine, such as
    // scripts of the test's own or reads of files staged in a HostNamespace.
    void runInShell(const std::string& command);
    void runOthersInShell();

    // Recorded so far, in order: ExecuteCmd and ExecuteCmdCapture commands
    // (together, as they came), ExecuteCmdNoWait commands, Sleep arguments. Read them directly once the code under
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
    // folder with nothing mounted on it. Nothing is ever unmounted, unless
    // the test asks for the real umount(2) (still recorded): only in a
    // private mount namespace whose mounts are the test's own.
    std::vector<std::string> umounts;
    void scriptUmount(std::initializer_list<int> answers);
    void scriptUmount(int answer, unsigned times);
    void unmountForReal();

    // uname()'s system name as the host reports it (ESXi: "VMkernel"), or
    // uname() failing.
    std::string kernelName = "Linux";
    bool unameWorks = true;

    int ExecuteCmd(const std::string& command, bool flag, const long& value) override;
    int ExecuteCmdNoWait(const std::string& command, bool flag, const long& value) override;
    int ExecuteCmdCapture(const std::string& command, std::size_t maxBytes, std::string& output) override;
    void Sleep(int seconds) override;
    int Umount(const std::string& directory) override;

protected:
    bool queryKernelName(std::string& systemName) override;

private:
    struct Answer {
        bool scripted = false;
        bool shell = false;
        int status = 0;
        std::string output;
        OutputHandler handler;
    };
    enum class Mode { Run, Background, Capture };
    static Answer fixed(int status, const std::string& output = std::string());
    static Answer by(OutputHandler handler);
    static Answer by(Handler handler);
    static Answer shellAnswer();
    const Answer* chosenFor(const std::string& command) const;
    // `output` is null unless the command's output is captured.
    int respond(const std::string& command, Mode mode, std::size_t maxBytes, std::string* output);

    std::recursive_mutex m_mutex;
    std::map<std::string, Answer> m_exact;
    std::map<std::string, Answer> m_prefixes;
    Answer m_others;
    std::deque<int> m_umountAnswers;
    bool m_realUmount = false;
};

#endif
