// Controls of the system room.
#include <winsim/system.h>

#include <algorithm>

#include "system/system.h"

namespace winsim {

using core::Lock;
using core::MachineLock;

namespace {

Environment FromRoom(const system::Environment& room) {
    Environment environment;
    for (const auto& v : room) environment.push_back({v.name, v.value, v.followsWindowsDirectory});
    return environment;
}

system::Environment ToRoom(const Environment& environment) {
    system::Environment room;
    for (const auto& v : environment) room.push_back({v.name, v.value, v.followsWindowsDirectory});
    return room;
}

}  // namespace

OsVersion GetOs() {
    Lock lock(MachineLock());
    const system::OsVersion os = system::Os();
    return {os.major,
            os.minor,
            os.build,
            os.servicePackMajor,
            os.servicePackMinor,
            os.productType,
            os.edition,
            os.architecture,
            os.wow64};
}

void SetOs(const OsVersion& os) {
    Lock lock(MachineLock());
    system::SetOs({os.major, os.minor, os.build, os.servicePackMajor, os.servicePackMinor,
                   os.productType, os.edition, os.architecture, os.wow64});
}

Environment GetEnvironment() {
    Lock lock(MachineLock());
    return FromRoom(system::CurrentEnvironment());
}

void SetEnvironment(Environment environment) {
    Lock lock(MachineLock());
    system::SetEnvironment(ToRoom(environment));
}

std::optional<std::u16string> GetEnvironmentVariable(std::u16string_view name) {
    Lock lock(MachineLock());
    return system::Variable(name);
}

void SetEnvironmentVariable(std::u16string_view name, std::optional<std::u16string_view> value) {
    Lock lock(MachineLock());
    system::SetVariable(name, value);
}

Environment ScopedEnvironment::With(std::u16string_view name,
                                    std::optional<std::u16string_view> value) {
    Lock lock(MachineLock());
    const system::Environment previous = system::CurrentEnvironment();
    system::SetVariable(name, value);
    Environment changed = FromRoom(system::CurrentEnvironment());
    system::SetEnvironment(previous);
    return changed;
}

MissingExports GetMissingExports() {
    Lock lock(MachineLock());
    system::MissingExports room = system::Missing();
    return {std::move(room.modules), std::move(room.functions)};
}

void SetMissingExports(MissingExports missing) {
    Lock lock(MachineLock());
    system::SetMissing({std::move(missing.modules), std::move(missing.functions)});
}

MissingExports ScopedMissingModule::WithModule(std::u16string_view module) {
    MissingExports missing = GetMissingExports();
    missing.modules.emplace_back(module);
    return missing;
}

MissingExports ScopedMissingFunction::WithFunction(std::u16string_view module,
                                                   std::string_view function) {
    MissingExports missing = GetMissingExports();
    missing.functions.emplace_back(std::u16string(module), std::string(function));
    return missing;
}

bool ThreadRedirectionDisabled() {
    Lock lock(MachineLock());
    return system::RedirectionDisabled();
}

}  // namespace winsim
