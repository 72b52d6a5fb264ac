#include "UpdRollbackWrapper.h"

UpdRollbackWrapper::UpdRollbackWrapper() : secureTessa() {}

UpdRollbackWrapper::~UpdRollbackWrapper() {}
