#include "cli/commands.h"
#include "zef/result_code_texts.h"

#include <cstdio>
#include <ostream>

namespace qorvex::host {

namespace {

void AddStep(std::vector<ChainStep>* steps, const char* step, zef::ClassId classId,
             zef::ResultCode code) {
    if (steps != nullptr) steps->push_back(ChainStep{step, ClassName(classId), code});
}

}  // namespace

zef::ResultCode OpenRegistry(CommandContext& context,
                             ObjectRef<zef::IObjectFactoryProvider>& registry,
                             std::vector<ChainStep>* steps) {
    registry.reset();
    ObjectRef<zef::IObjectFactory> factory;
    zef::ResultCode code = context.module.GetObjectFactory()(
        context.locator, kClassModuleFactoryProvider, factory.put());
    AddStep(steps, "zefGetObjectFactory", kClassModuleFactoryProvider, code);
    if (code < 0 || !factory) return code < 0 ? code : zef::rc::kUnexpected;

    code = factory->CreateInstance(context.locator, zef::kIidObjectFactoryProvider, registry.put());
    AddStep(steps, "CreateInstance", kClassModuleFactoryProvider, code);
    if (code >= 0 && !registry) return zef::rc::kUnexpected;
    return code;
}

zef::ResultCode CreateFromRegistry(CommandContext& context, zef::IObjectFactoryProvider* registry,
                                   zef::ClassId classId, zef::InterfaceId iid, void** out,
                                   std::vector<ChainStep>* steps) {
    ObjectRef<zef::IObjectFactory> factory;
    zef::ResultCode code = registry->GetObjectFactory(context.locator, classId, factory.put());
    AddStep(steps, "GetObjectFactory", classId, code);
    if (code < 0 || !factory) return code < 0 ? code : zef::rc::kUnexpected;

    void* object = nullptr;
    code = factory->CreateInstance(context.locator, iid, &object);
    AddStep(steps, "CreateInstance", classId, code);
    if (code < 0) return code;
    if (object == nullptr) return zef::rc::kUnexpected;
    *out = object;
    return code;
}

zef::ResultCode CreateComponent(CommandContext& context, zef::ClassId classId, zef::InterfaceId iid,
                                void** out, std::vector<ChainStep>* steps) {
    ObjectRef<zef::IObjectFactoryProvider> registry;
    const zef::ResultCode code = OpenRegistry(context, registry, steps);
    if (code < 0) return code;
    return CreateFromRegistry(context, registry.get(), classId, iid, out, steps);
}

zef::ResultCode UnloadModuleIfIdle(CommandContext& context) {
    if (!context.module.IsLoaded()) return zef::rc::kOk;
    const zef::ResultCode code = context.module.CanUnloadModule()();
    if (code == zef::rc::kOk) context.module.Unload();
    return code;
}

std::string FormatResultCode(zef::ResultCode code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(code));
    return text;
}

std::string ResultCodeText(zef::ResultCode code) {
    // The tables are ASCII; each unit is one character.
    std::string text;
    for (const char16_t* p = zef::result_code_texts::Any(code); *p != 0; ++p)
        text += static_cast<char>(*p);
    return text;
}

std::string ClassName(zef::ClassId classId) {
    switch (classId) {
        case kClassModuleFactoryProvider:
            return "ModuleFactoryProvider";
        case kClassTcgLogProvider:
            return "TcgLogProviderImpl";
        case kClassAppRemediation:
            return "AppRemediationImpl";
        default: {
            char text[16];
            std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(classId));
            return text;
        }
    }
}

void PrintStepsText(std::ostream& out, const std::vector<ChainStep>& steps) {
    for (const ChainStep& step : steps) {
        out << step.step << '(' << step.className << "): " << FormatResultCode(step.code) << ' '
            << ResultCodeText(step.code) << '\n';
    }
}

void PrintStepsJson(std::ostream& out, const std::vector<ChainStep>& steps) {
    out << '[';
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const ChainStep& step = steps[i];
        if (i != 0) out << ", ";
        out << "{\"step\": " << JsonString(step.step)
            << ", \"class\": " << JsonString(step.className)
            << ", \"result\": " << JsonString(FormatResultCode(step.code))
            << ", \"message\": " << JsonString(ResultCodeText(step.code)) << '}';
    }
    out << ']';
}

int ReportError(const OutputContext& context, const std::string& message, int exitCode) {
    context.err << "qorvex-host: " << message << '\n';
    if (context.json) context.out << "{\"error\": " << JsonString(message) << "}\n";
    return exitCode;
}

int ReportUsageError(const OutputContext& context, const std::string& message) {
    return ReportError(context, message, kExitUsage);
}

}  // namespace qorvex::host
