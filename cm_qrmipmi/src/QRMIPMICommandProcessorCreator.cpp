#define QRM_LOG_UNIT "cm_qrmipmi/src/QRMIPMICommandProcessorCreator"

#include "QRMIPMICommandProcessorCreator.h"

#include <new>

#include "LQRMIPMIProcessor.h"
#include "QRMLogger.h"

IIPMICommandProcessor* IPMICommandProcessorCreator::Create()
{
    QRMLOG(QRM_LOG_INFO, "IPMICommandProcessorCreator::Create() Entering");
    IPMIProcessor* processor = new (std::nothrow) IPMIProcessor();
    if (processor == nullptr)
        return nullptr;
    if (processor->Initialize() != QRMIPMI_RESULT_SUCCESS) {
        delete processor;
        return nullptr;
    }
    QRMLOG(QRM_LOG_INFO, "IPMICommandProcessorCreator::Create() Leaving");
    return processor;
}
