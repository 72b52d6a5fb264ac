#ifndef CM_CMBASEUTILS_UPDATEXMLWRITER_H
#define CM_CMBASEUTILS_UPDATEXMLWRITER_H

#include <sstream>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "IDeviceXMLWriter.h"
#include "ResultDocumentOutput.h"

// Writes the update result document (root SVMExecution) for the devices of
// one update run, on one line, to the result file or to standard output.
// One writer serves one document.
class CUpdateXMLWriter : public IDeviceXMLWriter {
public:
    CUpdateXMLWriter();
    virtual ~CUpdateXMLWriter();

    // outputFile empty: standard output. The result file is replaced only
    // by a complete document; when it cannot be written the document goes
    // to standard output and GetXML throws CResultDocumentError, as it does
    // when standard output cannot take the document. False only when
    // preparing the file raised another exception.
    virtual bool GetXML(const std::vector<CDeviceInfo*>& devices, std::string outputFile) override;

    void addXMLHeader();
    void addUpdateHeader();
    void addRebootRequiredStatus(bool rebootRequired);
    void addUpdateFooter();
    void print();

private:
    CUpdateXMLWriter(const CUpdateXMLWriter&) = delete;
    CUpdateXMLWriter& operator=(const CUpdateXMLWriter&) = delete;

    void addDeviceElement(CDeviceInfo* device, const std::string& enumText);
    void addStatus(bool success, CDeviceInfo* device);

    std::ostringstream document;
    CResultDocumentOutput resultFile;
    // Why the last document did not reach its place; empty when it did.
    std::string m_deliveryError;
};

#endif
