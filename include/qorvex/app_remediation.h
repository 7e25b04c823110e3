// The Store-app membership and remediation interface.
//
// IAppRemediation (class 0x74c151de, iid 0xd8d1855f) tells whether a file lies inside the
// install folder of an installed Windows Store package, asked of the live package manager or of
// a cache the host has it build, and marks every package that holds a file (under any of its
// hard-link names) as tampered with. Paths are NUL-terminated UTF-16; null counts as the empty
// path. Questions answer 0 for yes and 1 for no; failures are negative result codes.
//
// Threading: any thread, also concurrently.
#pragma once

#include "qorvex/module.h"
#include "zef/object.h"

namespace qorvex {

constexpr zef::InterfaceId kIidAppRemediation = 0xd8d1855fu;

class IAppRemediation : public zef::IObject {
public:
    // 0 when at least one package was marked and none failed, 1 when no package holds the file,
    // else the code of the last marking that failed (or of the failure that stopped the call).
    virtual zef::ResultCode Remediate(const char16_t* filePath) = 0;
    virtual zef::ResultCode IsMetroStyleApp(const char16_t* filePath) = 0;
    // Replaces the cache with every installed package the package manager lists.
    virtual zef::ResultCode BuildMetroStyleAppsCache() = 0;
    // Answers from the last cache built (1 before any build).
    virtual zef::ResultCode IsMetroStyleAppByCache(const char16_t* filePath) = 0;

protected:
    ~IAppRemediation() = default;
};

}  // namespace qorvex
