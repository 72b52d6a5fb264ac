#ifndef CM_QRMIPMI_SRC_QRMIPMIXMLCONFIGURATION_H
#define CM_QRMIPMI_SRC_QRMIPMIXMLCONFIGURATION_H

#include <libxml/tree.h>

#include "QRMString.h"

// A source of the library's integer settings.
class IQRMIPMIConfiguration {
public:
    virtual bool Initialize() = 0;
    virtual bool GetConfigInt(const QRMString& key, int* value) = 0;
    virtual void SetConfigurationFileName(QRMString fileName) = 0;
    virtual ~IQRMIPMIConfiguration() {}
    virtual bool Release() = 0;
};

// Reads the optional settings file. The keys are the elements below the
// first name="Default" element of the root's first name="Default" child:
//   <root><x name="Default"><y name="Default"><RetryCount>3</RetryCount>...
// The file is parsed once; a failed attempt is repeated by the next call.
class QRMIPMIXMLConfig : public IQRMIPMIConfiguration {
public:
    explicit QRMIPMIXMLConfig(QRMString fileName);
    ~QRMIPMIXMLConfig() override;

    bool Initialize() override;
    bool GetConfigInt(const QRMString& key, int* value) override;
    void SetConfigurationFileName(QRMString fileName) override;
    bool Release() override;

    xmlNodePtr GetDefaultConfigNode();

private:
    QRMIPMIXMLConfig(const QRMIPMIXMLConfig&) = delete;
    QRMIPMIXMLConfig& operator=(const QRMIPMIXMLConfig&) = delete;

    QRMString mFileName;
    bool mInitialized;
    xmlDocPtr mDocument;
    xmlNodePtr mDefaultNode;
};

#endif
