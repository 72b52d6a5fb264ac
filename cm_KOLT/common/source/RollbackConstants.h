#ifndef CM_KOLT_ROLLBACKCONSTANTS_H
#define CM_KOLT_ROLLBACKCONSTANTS_H

#include <string>

// Names and messages of the rollback staging code. Every unit that
// includes this header holds its own copies.
static const std::string NDir = "current";
static const std::string N_1Dir = "previous";
static const std::string pkgFile = "package.xml";
static const std::string strPkgSignFile = "package.xml.sign";
static const std::string ssibFile = "ssibinput.xml";
static const std::string tes022_lower = "tes022";
static const std::string fileSeparator = "/";
static const std::string secureTessaError = "Could not create Secure Tessa object";
static const std::string secureTessaSuccess = "Secure Tessa initialized successfully";
static const std::string secureInitError = "Could not initialize Secure Tessa";

#endif
