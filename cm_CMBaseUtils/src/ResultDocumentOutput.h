#ifndef CM_CMBASEUTILS_RESULTDOCUMENTOUTPUT_H
#define CM_CMBASEUTILS_RESULTDOCUMENTOUTPUT_H

#include <stdexcept>
#include <string>

#include "FileIO.h"

// Where a result document writer puts its text: the result file, or standard
// output when no file was named. A reader of the result file must never find
// a half-written document, nor take an earlier run's document for this one:
// the text goes into a fresh temporary file beside the result file and is
// renamed over the name only once it is complete and on disk. Whatever keeps
// the file from being written (it cannot be created, a write, the flush or
// the close fails, the disk is full, the name is held by something other
// than a regular file) leaves an earlier file as it was, and the text goes
// to standard output instead, so that it is not lost; the delivery then
// counts as failed. The writers log each outcome themselves, so that their
// log lines keep their own unit and words.
class CResultDocumentOutput {
public:
    CResultDocumentOutput();
    // Removes a temporary file that was never delivered.
    ~CResultDocumentOutput();
    CResultDocumentOutput(const CResultDocumentOutput&) = delete;
    CResultDocumentOutput& operator=(const CResultDocumentOutput&) = delete;

    // Prepares the delivery to `fileName`: creates the temporary file in the
    // same folder. False, with the reason in `error`, when it cannot; the
    // text will then go to standard output and Deliver reports the failure.
    bool Open(const std::string& fileName, std::string& error);
    bool IsOpen() const { return m_file.valid(); }
    // A result file was named (whether or not it could be prepared).
    bool ToFile() const { return !m_target.empty(); }

    // Delivers the whole text: to the file when one was named, else to
    // standard output (written directly and flushed). True when it reached
    // the place asked for; false, with what failed and where in `error`,
    // otherwise.
    bool Deliver(const std::string& text, std::string& error);

private:
    void discardTemporary();

    std::string m_target;
    std::string m_temporary;
    std::string m_openError;
    CUniqueFd m_file;
};

// What a result writer throws when its document did not reach the place
// asked for; the run then ends with a failure status (see generateXML).
class CResultDocumentError : public std::runtime_error {
public:
    explicit CResultDocumentError(const std::string& what) : std::runtime_error(what) {}
};

#endif
