// `chain`: walks the way a product reaches each component (export, registry object, component
// factories, components), reports every call's code, releases everything and unloads the module
// once it says it can be unloaded.
#include <ostream>

#include "cli/commands.h"
#include "cli/output.h"
#include "qorvex/tcg_log.h"

namespace qorvex::host {

int RunChainCommand(CommandContext& context, const std::vector<std::string>& args) {
    if (!args.empty()) {
        return ReportUsageError({context.json, context.out, context.err},
                                "chain takes no arguments (got '" + args.front() + "')");
    }

    std::vector<ChainStep> steps;
    {
        ObjectRef<zef::IObjectFactoryProvider> registry;
        if (OpenRegistry(context, registry, &steps) >= 0) {
            struct Component {
                zef::ClassId classId;
                zef::InterfaceId iid;
            };
            for (const Component& component :
                 {Component{kClassTcgLogProvider, kIidTcgLogProvider},
                  Component{kClassAppRemediation, kIidAppRemediation}}) {
                ObjectRef<zef::IObject> object;
                CreateFromRegistry(context, registry.get(), component.classId, component.iid,
                                   object.put(), &steps);
            }
        }
    }

    const zef::ResultCode canUnload = UnloadModuleIfIdle(context);

    bool failed = canUnload != zef::rc::kOk;
    for (const ChainStep& step : steps) failed = failed || step.code < 0;

    if (context.json) {
        context.out << "{\"steps\": ";
        PrintStepsJson(context.out, steps);
        context.out << ", \"canUnload\": " << JsonString(FormatResultCode(canUnload))
                    << ", \"unloaded\": " << (context.module.IsLoaded() ? "false" : "true")
                    << "}\n";
    } else {
        PrintStepsText(context.out, steps);
        context.out << "zefCanUnloadModule: " << FormatResultCode(canUnload) << ' '
                    << ResultCodeText(canUnload)
                    << (context.module.IsLoaded() ? " (module objects still alive; not unloaded)"
                                                  : " (module unloaded)")
                    << '\n';
    }
    ThrowIfFailed(context.out);
    return failed ? kExitStepFailed : kExitSuccess;
}

}  // namespace qorvex::host
