#include "UpdateXMLWriter.h"

#include "Logger.h"
#include "ResultDocumentOutput.h"

#define ZAGO_LOG_UNIT "cm_CMBaseUtils/src/UpdateXMLWriter"

CUpdateXMLWriter::CUpdateXMLWriter()
{
    ZLOG("CUpdateXMLWriter::CUpdateXMLWriter() In Constructor Method");
}

CUpdateXMLWriter::~CUpdateXMLWriter()
{
    ZLOG("CUpdateXMLWriter::~CUpdateXMLWriter() In Destructor Method");
}

bool CUpdateXMLWriter::GetXML(const std::vector<CDeviceInfo*>& devices, std::string outputFile)
{
    ZLOG("CUpdateXMLWriter::GetXML() Entering");
    m_deliveryError.clear();
    if (!outputFile.empty()) {
        std::string error;
        bool opened = false;
        try {
            opened = resultFile.Open(outputFile, error);
        } catch (const std::exception& e) {
            // The inventory writer's words: both writers report this alike.
            ZLOG(std::string("CInventoryXMLWriter::GetXML() exception caught during file opening ") + e.what());
            return false;
        }
        ZLOG("CUpdateXMLWriter::GetXML() udpate xml file opened");
        if (!opened)
            ZLOG("ERROR: CUpdateXMLWriter::GetXML() " + error);
    }

    addXMLHeader();
    addUpdateHeader();

    bool rebootRequired = false;
    if (devices.empty()) {
        document << "<SPStatus result = \"false\" ><Message id=\"1\" >Device not found</Message></SPStatus>";
    } else {
        for (CDeviceInfo* device : devices) {
            std::string enumId = device->getEnumId();
            std::string enumText = enumId.empty() ? std::string() : "enum = \"" + XMLEscape(enumId) + "\" ";
            int status = device->getStatus();
            CDeviceInfo::eDeviceType type = device->getDeviceType();
            if (type == CDeviceInfo::NON_PCI_DEVICE && status == 0) {
                ZLOG("CUpdateXMLWriter::GetXML() Found one Non PCI Device");
                if (device->getRebootRequired())
                    rebootRequired = true;
                addDeviceElement(device, enumText);
                addStatus(true, device);
            } else if (type == CDeviceInfo::PCI_DEVICE && status == 0) {
                ZLOG("CUpdateXMLWriter::GetXML() Found one PCI Device");
                if (device->getRebootRequired())
                    rebootRequired = true;
                addDeviceElement(device, enumText);
                addStatus(true, device);
            } else if (status != 0) {
                ZLOG("CUpdateXMLWriter::GetXML() Update failed for one Device");
                if (type == CDeviceInfo::PCI_DEVICE) {
                    addDeviceElement(device, enumText);
                    addStatus(false, device);
                } else {
                    document << "<SPStatus result = \"false\" ><Message id=\"" << device->getMessageID()
                             << "\" >" << XMLEscape(device->getErrorMsg()) << "</Message></SPStatus>";
                }
            }
        }
    }

    addRebootRequiredStatus(rebootRequired);
    addUpdateFooter();
    print();
    ZLOG("CUpdateXMLWriter::GetXML() Exiting");
    // A document that did not reach the result file (or standard output)
    // must not pass for a finished run.
    if (!m_deliveryError.empty())
        throw CResultDocumentError(m_deliveryError);
    return true;
}

// Device and Application start tags of a success or PCI failure entry.
void CUpdateXMLWriter::addDeviceElement(CDeviceInfo* device, const std::string& enumText)
{
    if (device->getDeviceType() == CDeviceInfo::NON_PCI_DEVICE) {
        document << "<Device  componentID=\"" << XMLEscape(device->getComponentID()) << "\" display=\""
                 << XMLEscape(device->getDisplay()) << "\" " << enumText << ">";
    } else {
        SPCIInfo pci = device->getPCIInfo();
        document << "<Device  vendorID=\"" << XMLEscape(pci.vendorID) << "\" deviceID=\"" << XMLEscape(pci.deviceID)
                 << "\" subVendorID=\"" << XMLEscape(pci.subVendorID) << "\" subDeviceID=\""
                 << XMLEscape(pci.subDeviceID) << "\" display=\"" << XMLEscape(device->getDisplay()) << "\" "
                 << enumText << ">";
    }
    document << "<Application componentType=\"" << XMLEscape(device->getComponentType()) << "\" version=\""
             << XMLEscape(device->getVersion()) << "\" display=\"" << XMLEscape(device->getDeviceName()) << "\" >";
}

void CUpdateXMLWriter::addStatus(bool success, CDeviceInfo* device)
{
    document << "<SPStatus result = \"" << (success ? "true" : "false") << "\" ><Message id=\""
             << device->getMessageID() << "\" >" << XMLEscape(device->getErrorMsg())
             << "</Message></SPStatus></Application></Device>";
}

void CUpdateXMLWriter::addXMLHeader()
{
    ZLOG("CUpdateXMLWriter::addXMLHeader() In addXMLHeader Method");
    document << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
}

void CUpdateXMLWriter::addUpdateHeader()
{
    ZLOG("CUpdateXMLWriter::addUpdateHeader() In addUpdateHeader Method");
    document << "<SVMExecution lang=\"en\">";
}

void CUpdateXMLWriter::addRebootRequiredStatus(bool rebootRequired)
{
    ZLOG("CUpdateXMLWriter::addRebootRequiredStatus() In addRebootRequiredStatus Method");
    if (rebootRequired) {
        document << "<RebootRequired>" << 1 << "</RebootRequired>";
        ZLOG("CUpdateXMLWriter::addRebootRequiredStatus() Device need reboot");
    }
}

void CUpdateXMLWriter::addUpdateFooter()
{
    ZLOG("CUpdateXMLWriter::addUpdateFooter() In addUpdateFooter Method");
    document << "</SVMExecution>";
}

void CUpdateXMLWriter::print()
{
    ZLOG("CUpdateXMLWriter::print() Entering");
    std::string error;
    bool delivered = false;
    try {
        delivered = resultFile.Deliver(document.str(), error);
    } catch (const std::exception& e) {
        ZLOG(std::string("CUpdateXMLWriter::print() exception caught during file is_open function ") + e.what());
        m_deliveryError = std::string("writing the document failed: ") + e.what();
        return;
    }
    if (!delivered) {
        ZLOG("ERROR: CUpdateXMLWriter::print() " + error);
        m_deliveryError = error;
    } else if (resultFile.ToFile()) {
        ZLOG("CUpdateXMLWriter::print() copying the contents to Update XML file");
    }
    document.str(std::string());
    ZLOG("CUpdateXMLWriter::print() Exiting");
}
