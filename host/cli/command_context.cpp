#include "cli/commands.h"

#include <cstdio>
#include <ostream>

namespace qorvex::host {

namespace {

struct CodeText {
    std::uint32_t code;
    const char* text;
};

// The texts of the result codes, as the module itself names them. The host keeps its own copy:
// it reaches the module only through its exports and links none of its code.
constexpr CodeText kCodeTexts[] = {
    {0x00000000u, "No error"},
    {0x00000001u, "False"},
    {0x80000001u, "Interface not supported"},
    {0x80000040u, "Unexpected"},
    {0x80000041u, "Out of memory"},
    {0x80000042u, "Not supported"},
    {0x80000043u, "Not implemented"},
    {0x80000044u, "Buffer too small"},
    {0x80000045u, "Access denied"},
    {0x80000046u, "Invalid argument"},
    {0x8000004Au, "Not matched"},
    {0x8000004Bu, "Unspecified error"},
    {0x8000004Cu, "Not found"},
    {0x8000004Du, "Found"},
    {0x8000004Fu, "Locked"},
    {0x80000050u, "Not locked"},
    {0x80000051u, "Operation cancelled"},
    {0x80000057u, "Method not found"},
    {0x80000058u, "Stack is empty"},
    {0x80000059u, "Media error"},
    {0x8000005Au, "Invalid signature"},
    {0x8000005Bu, "Invalid version"},
    {0x8000005Cu, "Invalid size"},
    {0x8000005Du, "Invalid type"},
    {0x8000005Eu, "Invalid index"},
    {0x80000062u, "Out of space"},
    {0x80000063u, "Not ready"},
    {0x80000064u, "Less than"},
    {0x80000065u, "More than"},
    {0x80000066u, "Prohibited"},
    {0x80000067u, "Already done"},
    {0x80000068u, "Need reboot"},
    {0x80000069u, "Bases corrupted"},
    {0x8000006Au, "Invalid state"},
    {0x8000006Bu, "Not initialized"},
    {0x8000006Cu, "Insufficient resources"},
    {0x80000071u, "Invalid result"},
    {0x80000072u, "Unknown exception"},
    {0x80000076u, "Meta information not found"},
    {0x80000100u, "Class not found"},
    {0x80000180u, "Property not found"},
    {0x80000221u, "Operation timeout"},
    {0x80010100u, "Unspecified platform error"},
    {0x80010101u, "Invalid handle"},
    {0x80010102u, "File not found"},
    {0x80010103u, "Path not found"},
    {0x80010104u, "Sharing violation"},
    {0x80010105u, "Already exists"},
    {0x80010106u, "Wait abandoned"},
    {0x80010107u, "Symbol not found"},
    {0x80010108u, "Sxs is incorrect"},
    {0x80010109u, "Invalid path name"},
    {0x80010110u, "Cannot open an anonymous level security token"},
    {0x80010111u, "Password is invalid"},
    {0x80010112u, "Module not found"},
    {0x80010113u, "System image bad signature"},
};

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

const char* ResultCodeText(zef::ResultCode code) {
    for (const CodeText& entry : kCodeTexts) {
        if (entry.code == static_cast<std::uint32_t>(code)) return entry.text;
    }
    // Family 1 (platform codes) has a default of its own, whatever bit 31 holds.
    if ((static_cast<std::uint32_t>(code) & 0x7FFF0000u) == 0x00010000u)
        return "Unknown platform result code";
    return "Unknown result code";
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

std::string JsonString(std::string_view text) {
    std::string json = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                json += "\\\"";
                break;
            case '\\':
                json += "\\\\";
                break;
            case '\n':
                json += "\\n";
                break;
            case '\r':
                json += "\\r";
                break;
            case '\t':
                json += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x",
                                  static_cast<unsigned>(static_cast<unsigned char>(c)));
                    json += escape;
                } else {
                    json += c;
                }
        }
    }
    json += '"';
    return json;
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
        if (i != 0) out << ',';
        out << "{\"step\":" << JsonString(step.step) << ",\"class\":" << JsonString(step.className)
            << ",\"result\":" << JsonString(FormatResultCode(step.code))
            << ",\"message\":" << JsonString(ResultCodeText(step.code)) << '}';
    }
    out << ']';
}

}  // namespace qorvex::host
