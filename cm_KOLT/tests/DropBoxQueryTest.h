#ifndef CM_KOLT_TESTS_DROPBOXQUERYTEST_H
#define CM_KOLT_TESTS_DROPBOXQUERYTEST_H

// The controller-log query and the dependency check on a Linux host with
// the controller model, which plays the controller's side of the exchange
// (SimDropBoxRequests): once the request's digest was handed over it reads
// "update.xml" from the drop box, checks it against the digest and writes
// its answer "output.xml" there. The drop box's folder is /tmp/SECUPD in
// the test's private /tmp.

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "PartitionHostTest.h"
#include "SimDropBoxRequests.h"

class DropBoxQueryTest : public PartitionHostTest {
protected:
    using Strings = std::vector<std::string>;

    static constexpr const char* kBox = "/tmp/SECUPD/";
    // What the controller answers unless a test sets another answer.
    const std::string kVclAnswer = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VCL><Record>1</Record></VCL>\n";

    void SetUp() override
    {
        PartitionHostTest::SetUp();
        if (HasFatalFailure())
            return;
        exposeAndMountable();
        host.answer("sync", 0);
        host.answerPrefix("umount ", 0);
        // The copy of package.xml runs in the test's namespace.
        host.answerPrefix("/bin/cp ", [](const std::string& command) { return std::system(command.c_str()); });
    }

    // The working directory lies below the hidden /tmp: written through it.
    static void writeHere(const std::string& name, const std::string& content)
    {
        std::ofstream(name, std::ios::binary | std::ios::trunc) << content;
    }

    // The managed-storage sub-commands of the exchange, in order, as
    // two-digit texts: create 07, attach 05, detach 06, digest 09, delete
    // 08 (queries of the partition table left out); other OEM commands by
    // their command byte ("BF", "BD").
    Strings exchangeSteps() const
    {
        Strings steps;
        for (const std::string& frame : framesSinceSetUp()) {
            if (frame.compare(0, 5, "30 A2") != 0) {
                steps.push_back(frame.substr(3, 2));
                continue;
            }
            const std::string sub = frame.substr(6, 2);
            if (sub != "03" && sub != "04")
                steps.push_back(sub);
        }
        return steps;
    }

    // The create frame's size field (units of 32 KiB, low byte first).
    std::string createdUnits() const
    {
        for (const std::string& frame : framesSinceSetUp())
            if (frame.compare(0, 8, "30 A2 07") == 0)
                return frame.substr(15, 5);
        return "";
    }

    // The documents the controller read, and whether each matched its
    // digest.
    Strings Requests() const
    {
        Strings documents;
        for (const SimDropBoxRequests::Request& r : dropBox.Requests())
            documents.push_back(r.document);
        return documents;
    }
    std::vector<bool> DigestsMatched() const
    {
        std::vector<bool> matched;
        for (const SimDropBoxRequests::Request& r : dropBox.Requests())
            matched.push_back(r.matched);
        return matched;
    }

    SimDropBoxRequests dropBox{tessa, kBox, kVclAnswer};
};

#endif
