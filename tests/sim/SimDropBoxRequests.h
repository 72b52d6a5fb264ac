#ifndef ZAGO_SIM_SIMDROPBOXREQUESTS_H
#define ZAGO_SIM_SIMDROPBOXREQUESTS_H

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "SimTessaController.h"

// The management controller reading the drop box once a request
// document's digest was handed over (0xA2 sub-command 0x09): it reads
// "update.xml" from the drop box's folder, checks it against the digest
// (with coreutils' md5sum, not the client's own digest code) and answers a
// controller-log query or dependency check ("<Mode>vcl_query...") that
// matched with "output.xml" in the same folder. Other requests (file
// copies) are only recorded.
//
// The folder is where the drop box's files are seen from the test: the
// mount folder of a component test's private /tmp, or the backing folder
// of an emulated USB disk.
class SimDropBoxRequests {
public:
    struct Request {
        std::string document;   // "update.xml" as read, empty when missing
        std::string digest;     // as handed over
        bool matched = false;
    };

    SimDropBoxRequests(SimTessaController& tessa, const std::string& dropBoxFolder, const std::string& answer);
    ~SimDropBoxRequests();
    SimDropBoxRequests(const SimDropBoxRequests&) = delete;
    SimDropBoxRequests& operator=(const SimDropBoxRequests&) = delete;

    // The answer document; with answers off the controller writes none.
    void SetAnswer(const std::string& text);
    void SetAnswers(bool answers);
    // Runs after each request was read (and answered).
    void SetOnRequest(std::function<void()> action);

    std::vector<Request> Requests() const;

private:
    void handOver(const std::string& digest);

    SimTessaController& m_tessa;
    const std::string m_folder;
    mutable std::mutex m_mutex;
    std::string m_answer;
    bool m_answers = true;
    std::function<void()> m_onRequest;
    std::vector<Request> m_requests;
};

#endif
