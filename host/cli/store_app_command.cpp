// qorvex-host is-store-app [--cache] PATH... and remediate PATH...: the Store-app questions and
// the remediation order of AppRemediationImpl, one answer per path, all on one component.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "qorvex/app_remediation.h"

#if defined(_WIN32)
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>
#else
#include "winsim/sim.h"
#endif

namespace qorvex::host {
namespace {

struct Answer {
    std::string path;  // as given
    zef::ResultCode code;
};

// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD, as Windows' own conversion does.
std::u16string Utf16FromUtf8(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::uint32_t code = 0xFFFD;
        std::size_t length = 1;
        if (c < 0x80) {
            code = c;
        } else if ((c >> 5) == 0x6 || (c >> 4) == 0xE || (c >> 3) == 0x1E) {
            length = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : 4;
            std::uint32_t value = c & (0xFF >> (length + 1));
            bool ok = i + length <= text.size();
            for (std::size_t k = 1; ok && k < length; ++k) {
                const auto next = static_cast<unsigned char>(text[i + k]);
                ok = (next >> 6) == 0x2;
                value = (value << 6) | (next & 0x3F);
            }
            const std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
            if (ok && value >= minimum[length] && value <= 0x10FFFF &&
                (value < 0xD800 || value > 0xDFFF)) {
                code = value;
            } else {
                length = 1;
            }
        }
        if (code >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

// The paths as the module gets them: on Windows the command line's own UTF-16 (the trailing
// arguments are the paths), elsewhere the UTF-8 arguments converted.
std::vector<std::u16string> WidePaths(const std::vector<std::string>& paths) {
    std::vector<std::u16string> wide;
#if defined(_WIN32)
    int count = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
        if (static_cast<std::size_t>(count) >= paths.size()) {
            for (std::size_t i = static_cast<std::size_t>(count) - paths.size();
                 i < static_cast<std::size_t>(count); ++i)
                wide.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
        }
        LocalFree(argv);
    }
    if (wide.size() == paths.size()) return wide;
    wide.clear();
#endif
    for (const auto& path : paths) wide.push_back(Utf16FromUtf8(path));
    return wide;
}

void PrintAnswerText(std::ostream& out, const std::string& what, zef::ResultCode code) {
    out << what << ": " << FormatResultCode(code) << ' ' << ResultCodeText(code) << '\n';
}

void PrintAnswerJson(std::ostream& out, zef::ResultCode code) {
    out << "{\"result\": " << JsonString(FormatResultCode(code))
        << ", \"message\": " << JsonString(ResultCodeText(code)) << '}';
}

int ExitCodeOf(const std::vector<zef::ResultCode>& codes) {
    bool no = false;
    for (const zef::ResultCode code : codes) {
        if (code < 0) return kExitStepFailed;
        if (code == zef::rc::kFalse) no = true;
    }
    return no ? kExitAnswerNo : kExitSuccess;
}

int Run(CommandContext& context, const std::vector<std::string>& args, bool remediate) {
    bool cache = false;
    std::vector<std::string> paths;
    for (const auto& arg : args) {
        if (!remediate && arg == "--cache" && paths.empty()) {
            cache = true;
        } else if (arg.size() > 1 && arg[0] == '-' && paths.empty()) {
            return ReportUsageError({context.json, context.out, context.err},
                                    "unknown option '" + arg + "'");
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.empty()) {
        return ReportUsageError(
            {context.json, context.out, context.err},
            std::string(remediate ? "remediate" : "is-store-app") + " needs at least one path");
    }
    const std::vector<std::u16string> wide = WidePaths(paths);

    ObjectRef<IAppRemediation> component;
    std::vector<ChainStep> steps;
    const zef::ResultCode created =
        CreateComponent(context, kClassAppRemediation, kIidAppRemediation, component.put(), &steps);
    if (created != zef::rc::kOk || !component) {
        if (context.json) {
            context.out << "{\"steps\": ";
            PrintStepsJson(context.out, steps);
            context.out << "}\n";
        } else {
            PrintStepsText(context.out, steps);
        }
        return kExitStepFailed;
    }
#if !defined(_WIN32)
    if (remediate) winsim::ClearSetPackageStateCalls();
#endif

    std::vector<zef::ResultCode> codes;
    zef::ResultCode cacheCode = 0;
    if (cache) {
        cacheCode = component->BuildMetroStyleAppsCache();
        codes.push_back(cacheCode);
    }
    std::vector<Answer> answers;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const char16_t* path = wide[i].c_str();
        const zef::ResultCode code = remediate ? component->Remediate(path)
                                     : cache   ? component->IsMetroStyleAppByCache(path)
                                               : component->IsMetroStyleApp(path);
        answers.push_back({paths[i], code});
        codes.push_back(code);
    }
    component.reset();

    if (context.json) {
        context.out << '{';
        if (cache) {
            context.out << "\"cache\": ";
            PrintAnswerJson(context.out, cacheCode);
            context.out << ", ";
        }
        context.out << "\"results\": [";
        for (std::size_t i = 0; i < answers.size(); ++i) {
            if (i != 0) context.out << ", ";
            context.out << "{\"path\": " << JsonString(answers[i].path)
                        << ", \"result\": " << JsonString(FormatResultCode(answers[i].code))
                        << ", \"message\": " << JsonString(ResultCodeText(answers[i].code)) << '}';
        }
        context.out << ']';
#if !defined(_WIN32)
        if (remediate) {
            context.out << ", \"setPackageState\": [";
            bool first = true;
            for (const auto& call : winsim::GetSetPackageStateCalls()) {
                if (!first) context.out << ", ";
                first = false;
                context.out << "{\"fullName\": " << JsonString(winsim::Utf8FromUtf16(call.fullName))
                            << ", \"hresult\": "
                            << JsonString(
                                   FormatResultCode(static_cast<zef::ResultCode>(call.hresult)))
                            << '}';
            }
            context.out << ']';
        }
#endif
        context.out << "}\n";
    } else {
        if (cache) PrintAnswerText(context.out, "BuildMetroStyleAppsCache", cacheCode);
        for (const auto& answer : answers) PrintAnswerText(context.out, answer.path, answer.code);
#if !defined(_WIN32)
        if (remediate) {
            for (const auto& call : winsim::GetSetPackageStateCalls())
                context.out << "SetPackageState(" << winsim::Utf8FromUtf16(call.fullName)
                            << ", Tampered): "
                            << FormatResultCode(static_cast<zef::ResultCode>(call.hresult)) << '\n';
        }
#endif
    }
    return ExitCodeOf(codes);
}

}  // namespace

int RunIsStoreAppCommand(CommandContext& context, const std::vector<std::string>& args) {
    return Run(context, args, false);
}

int RunRemediateCommand(CommandContext& context, const std::vector<std::string>& args) {
    return Run(context, args, true);
}

}  // namespace qorvex::host
