#include "SimDropBoxRequests.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The MD5 of a file as md5sum prints it, or empty.
std::string md5sumOf(const std::string& path)
{
    std::string quoted = "'";
    for (char c : path)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    FILE* pipe = ::popen(("md5sum -- " + quoted + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr)
        return "";
    char digest[33] = {0};
    const size_t got = std::fread(digest, 1, 32, pipe);
    ::pclose(pipe);
    return got == 32 ? std::string(digest, 32) : std::string();
}

} // namespace

SimDropBoxRequests::SimDropBoxRequests(SimTessaController& tessa, const std::string& dropBoxFolder,
                                       const std::string& answer)
    : m_tessa(tessa),
      m_folder(!dropBoxFolder.empty() && dropBoxFolder.back() == '/' ? dropBoxFolder : dropBoxFolder + "/"),
      m_answer(answer)
{
    m_tessa.SetHandOverObserver([this](const std::string& digest) { handOver(digest); });
}

SimDropBoxRequests::~SimDropBoxRequests()
{
    m_tessa.SetHandOverObserver(nullptr);
}

void SimDropBoxRequests::SetAnswer(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answer = text;
}

void SimDropBoxRequests::SetAnswers(bool answers)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers = answers;
}

void SimDropBoxRequests::SetOnRequest(std::function<void()> action)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onRequest = std::move(action);
}

std::vector<SimDropBoxRequests::Request> SimDropBoxRequests::Requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void SimDropBoxRequests::handOver(const std::string& digest)
{
    const std::string requestPath = m_folder + "update.xml";
    Request request;
    request.document = readFile(requestPath);
    request.digest = digest;
    request.matched = !request.document.empty() && md5sumOf(requestPath) == digest;

    std::function<void()> onRequest;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool query = request.document.find("<Mode>vcl_query") != std::string::npos;
        if (request.matched && query && m_answers)
            std::ofstream(m_folder + "output.xml", std::ios::binary | std::ios::trunc) << m_answer;
        m_requests.push_back(request);
        onRequest = m_onRequest;
    }
    if (onRequest)
        onRequest();
}
