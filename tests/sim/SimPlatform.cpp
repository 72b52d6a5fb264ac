#include "SimPlatform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <utility>

SimPlatform::Answer SimPlatform::fixed(int status, const std::string& output)
{
    Answer a;
    a.scripted = true;
    a.status = status;
    a.output = output;
    return a;
}

SimPlatform::Answer SimPlatform::by(OutputHandler handler)
{
    Answer a;
    a.scripted = true;
    a.handler = std::move(handler);
    return a;
}

SimPlatform::Answer SimPlatform::by(Handler handler)
{
    return by(OutputHandler([handler](const std::string& command, std::string&) { return handler(command); }));
}

SimPlatform::Answer SimPlatform::shellAnswer()
{
    Answer a;
    a.scripted = true;
    a.shell = true;
    return a;
}

void SimPlatform::answer(const std::string& command, int status) { answer(command, status, std::string()); }

void SimPlatform::answer(const std::string& command, int status, const std::string& output)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_exact[command] = fixed(status, output);
}

void SimPlatform::answer(const std::string& command, Handler handler)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_exact[command] = by(std::move(handler));
}

void SimPlatform::answer(const std::string& command, OutputHandler handler)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_exact[command] = by(std::move(handler));
}

void SimPlatform::answerPrefix(const std::string& prefix, int status) { answerPrefix(prefix, status, std::string()); }

void SimPlatform::answerPrefix(const std::string& prefix, int status, const std::string& output)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_prefixes[prefix] = fixed(status, output);
}

void SimPlatform::answerPrefix(const std::string& prefix, Handler handler)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_prefixes[prefix] = by(std::move(handler));
}

void SimPlatform::answerPrefix(const std::string& prefix, OutputHandler handler)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_prefixes[prefix] = by(std::move(handler));
}

void SimPlatform::answerOthers(int status) { answerOthers(status, std::string()); }

void SimPlatform::answerOthers(int status, const std::string& output)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_others = fixed(status, output);
}

void SimPlatform::answerOthers(Handler handler)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_others = by(std::move(handler));
}

void SimPlatform::answerOthers(OutputHandler handler)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_others = by(std::move(handler));
}

void SimPlatform::runInShell(const std::string& command)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_exact[command] = shellAnswer();
}

void SimPlatform::runOthersInShell()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_others = shellAnswer();
}

std::vector<std::string> SimPlatform::recorded()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return commands;
}

std::vector<std::string> SimPlatform::take()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    std::vector<std::string> out;
    out.swap(commands);
    return out;
}

const SimPlatform::Answer* SimPlatform::chosenFor(const std::string& command) const
{
    auto exact = m_exact.find(command);
    if (exact != m_exact.end())
        return &exact->second;
    const Answer* chosen = nullptr;
    size_t longest = 0;
    for (const auto& entry : m_prefixes) {
        if (command.compare(0, entry.first.size(), entry.first) == 0 &&
            (chosen == nullptr || entry.first.size() > longest)) {
            chosen = &entry.second;
            longest = entry.first.size();
        }
    }
    if (chosen == nullptr && m_others.scripted)
        chosen = &m_others;
    return chosen;
}

int SimPlatform::respond(const std::string& command, Mode mode, std::size_t maxBytes, std::string* output)
{
    const Answer* chosen = chosenFor(command);
    if (chosen == nullptr) {
        ADD_FAILURE() << "unexpected " << (mode == Mode::Background ? "background " : "") << "command: " << command;
        return 127;
    }
    // A copy: the handler may script new answers, replacing its own.
    const Answer answer = *chosen;
    if (answer.shell) {
        switch (mode) {
        case Mode::Run:
            return CLinuxImpl::ExecuteCmd(command, false, 0);
        case Mode::Background:
            return CLinuxImpl::ExecuteCmdNoWait(command, false, 0);
        case Mode::Capture:
            return CLinuxImpl::ExecuteCmdCapture(command, maxBytes, *output);
        }
    }
    std::string written = answer.output;
    const int status = answer.handler ? answer.handler(command, written) : answer.status;
    if (output != nullptr)
        output->assign(written, 0, maxBytes);
    return status;
}

int SimPlatform::ExecuteCmd(const std::string& command, bool, const long&)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    commands.push_back(command);
    return respond(command, Mode::Run, 0, nullptr);
}

int SimPlatform::ExecuteCmdNoWait(const std::string& command, bool, const long&)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    backgroundCommands.push_back(command);
    return respond(command, Mode::Background, 0, nullptr);
}

int SimPlatform::ExecuteCmdCapture(const std::string& command, std::size_t maxBytes, std::string& output)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    output.clear();
    commands.push_back(command);
    return respond(command, Mode::Capture, maxBytes, &output);
}

void SimPlatform::Sleep(int seconds)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    sleeps.push_back(seconds);
}

void SimPlatform::scriptUmount(std::initializer_list<int> answers)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_umountAnswers.insert(m_umountAnswers.end(), answers.begin(), answers.end());
}

void SimPlatform::scriptUmount(int answer, unsigned times)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_umountAnswers.insert(m_umountAnswers.end(), times, answer);
}

void SimPlatform::unmountForReal()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_realUmount = true;
}

int SimPlatform::Umount(const std::string& directory)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    umounts.push_back(directory);
    if (m_realUmount)
        return CLinuxImpl::Umount(directory);
    if (m_umountAnswers.empty())
        return EINVAL;
    const int answer = m_umountAnswers.front();
    m_umountAnswers.pop_front();
    return answer;
}

bool SimPlatform::queryKernelName(std::string& systemName)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!unameWorks)
        return false;
    systemName = kernelName;
    return true;
}
