// What a host needs to load a qorvex module: the two exports and the class ids it serves.
#pragma once

#include "zef/object.h"

namespace qorvex {

constexpr zef::ClassId kClassModuleFactoryProvider = 0xfb252268u;
constexpr zef::ClassId kClassTcgLogProvider = 0xfcbf1089u;
constexpr zef::ClassId kClassAppRemediation = 0x74c151deu;

// Signatures of the exports, for GetProcAddress / dlsym.
using GetObjectFactoryFn = zef::ResultCode (*)(zef::IServiceLocator* locator, zef::ClassId classId,
                                               void** out);
using CanUnloadModuleFn = zef::ResultCode (*)();

constexpr const char* kGetObjectFactoryExport = "zefGetObjectFactory";
constexpr const char* kCanUnloadModuleExport = "zefCanUnloadModule";

}  // namespace qorvex
