#include "SimPlatform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <utility>

SimPlatform::Answer SimPlatform::fixed(int status)
{
    Answer a;
    a.scripted = true;
    a.status = status;
    return a;
}

SimPlatform::Answer SimPlatform::by(Handler handler)
{
    Answer a;
    a.scripted = true;
    a.handler = std::move(handler);
    return a;
}

SimPlatform::Answer SimPlatform::shellAnswer()
{
    Answer a;
    a.scripted = true;
    a.shell = true;
    return a;
}

void SimPlatform::answer(const std::string& command, int status)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_exact[command] = fixed(status);
}

void SimPlatform::answer(const std::string& command, Handler handler)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_exact[command] = by(std::move(handler));
}

void SimPlatform::answerPrefix(const std::string& prefix, int status)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_prefixes[prefix] = fixed(status);
}

void SimPlatform::answerPrefix(const std::string& prefix, Handler handler)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_prefixes[prefix] = by(std::move(handler));
}

void SimPlatform::answerOthers(int status)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_others = fixed(status);
}

void SimPlatform::answerOthers(Handler handler)
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

int SimPlatform::respond(const std::string& command, bool background, bool flag, const long& value)
{
    const Answer* chosen = nullptr;
    auto exact = m_exact.find(command);
    if (exact != m_exact.end()) {
        chosen = &exact->second;
    } else {
        size_t longest = 0;
        for (const auto& entry : m_prefixes) {
            if (command.compare(0, entry.first.size(), entry.first) == 0 &&
                (chosen == nullptr || entry.first.size() > longest)) {
                chosen = &entry.second;
                longest = entry.first.size();
            }
        }
    }
    if (chosen == nullptr && m_others.scripted)
        chosen = &m_others;
    if (chosen == nullptr) {
        ADD_FAILURE() << "unexpected " << (background ? "background " : "") << "command: " << command;
        return 127;
    }
    // A copy: the handler may script new answers, replacing its own.
    const Answer answer = *chosen;
    if (answer.shell)
        return background ? CLinuxImpl::ExecuteCmdNoWait(command, flag, value)
                          : CLinuxImpl::ExecuteCmd(command, flag, value);
    if (answer.handler)
        return answer.handler(command);
    return answer.status;
}

int SimPlatform::ExecuteCmd(const std::string& command, bool flag, const long& value)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    commands.push_back(command);
    return respond(command, false, flag, value);
}

int SimPlatform::ExecuteCmdNoWait(const std::string& command, bool flag, const long& value)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    backgroundCommands.push_back(command);
    return respond(command, true, flag, value);
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

int SimPlatform::Umount(const std::string& directory)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    umounts.push_back(directory);
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
