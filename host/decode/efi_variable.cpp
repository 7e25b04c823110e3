#include "decode/efi_variable.h"

#include <algorithm>
#include <cstdio>

#include "decode/byte_reader.h"
#include "decode/event_types.h"
#include "decode/signature_list.h"
#include "decode/text_events.h"

namespace qorvex::decode {

namespace {

// Reads one UEFI_VARIABLE_DATA at the reader. False when not even its header fits.
bool ReadVariable(ByteReader& reader, std::span<const std::uint8_t> data, UefiVariable& variable) {
    const std::size_t start = reader.offset();
    if (!reader.ReadGuid(variable.vendor) || !reader.U64(variable.nameLength) ||
        !reader.U64(variable.dataLength)) {
        variable.malformed = Malformed{
            "a variable's header is 32 bytes; " + std::to_string(data.size() - start) + " are left",
            start, data};
        return false;
    }
    if (variable.nameLength > reader.remaining() / 2) {
        variable.malformed =
            Malformed{"the variable's name says " + std::to_string(variable.nameLength) +
                          " characters; " + std::to_string(reader.remaining()) + " bytes follow",
                      reader.offset(), data};
        return true;
    }
    std::span<const std::uint8_t> name;
    reader.Take(variable.nameLength * 2, name);
    variable.name.resize(name.size() / 2);
    for (std::size_t i = 0; i < variable.name.size(); ++i)
        variable.name[i] = static_cast<char16_t>(name[2 * i] | (name[2 * i + 1] << 8));
    while (!variable.name.empty() && variable.name.back() == 0) variable.name.pop_back();
    if (!reader.Take(variable.dataLength, variable.data)) {
        variable.malformed =
            Malformed{"the variable's data says " + std::to_string(variable.dataLength) +
                          " bytes; " + std::to_string(reader.remaining()) + " follow",
                      reader.offset(), data};
        variable.data = reader.Rest();
        reader.Skip(reader.remaining());
    }
    return true;
}

bool IsHexDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
}

// "Boot" followed by four upper-case hex digits, and the like.
bool IsOptionName(std::u16string_view name, std::u16string_view prefix) {
    return name.size() == prefix.size() + 4 && name.substr(0, prefix.size()) == prefix &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       IsHexDigit);
}

std::string OptionName(std::uint16_t number) {
    char text[16];
    std::snprintf(text, sizeof text, "Boot%04X", static_cast<unsigned>(number));
    return text;
}

std::string AttributeNames(std::uint32_t attributes) {
    std::string names;
    const auto add = [&](const char* name) {
        if (!names.empty()) names += ", ";
        names += name;
    };
    if ((attributes & kLoadOptionActive) != 0) add("active");
    if ((attributes & kLoadOptionForceReconnect) != 0) add("force reconnect");
    if ((attributes & kLoadOptionHidden) != 0) add("hidden");
    if ((attributes & kLoadOptionCategoryApp) != 0) add("application");
    return names;
}

void AddContent(Node& node, std::uint32_t eventType, const UefiVariable& variable) {
    const auto data = variable.data;
    VariableKind kind = ClassifyVariable(variable.vendor, variable.name);
    if (eventType == kEvEfiVariableAuthority || eventType == kEvEfiSpdmDeviceAuthority) {
        // Boot loaders record their own switches and SBAT levels as authorities too.
        if (kind != VariableKind::Switch && kind != VariableKind::Text) {
            AddAuthorityData(node, DecodeAuthorityData(data));
            return;
        }
    }
    if (eventType == kEvEfiSpdmDevicePolicy) kind = VariableKind::SignatureDatabase;
    switch (kind) {
        case VariableKind::Switch: {
            const SwitchValue value = DecodeSwitch(data);
            if (value.value) {
                const std::uint8_t v = *value.value;
                node.Add("value", Node::Number(v, v == 0 ? "off" : v == 1 ? "on" : ""));
            }
            if (value.malformed) node.Add("data", Node::Bytes(data));
            node.AddMalformed(value.malformed ? &*value.malformed : nullptr);
            return;
        }
        case VariableKind::SignatureDatabase: {
            const SignatureDatabase database = DecodeSignatureDatabase(data);
            node.Add("signatureLists", Describe(database));
            node.AddMalformed(database.malformed ? &*database.malformed : nullptr);
            return;
        }
        case VariableKind::BootOrder: {
            const BootOrder order = DecodeBootOrder(data);
            Node options = Node::List();
            for (const std::uint16_t option : order.options)
                options.Push(Node::Text(OptionName(option)));
            node.Add("bootOrder", std::move(options));
            node.AddMalformed(order.malformed ? &*order.malformed : nullptr);
            return;
        }
        case VariableKind::LoadOption:
            // An empty variable is one that is not set.
            if (data.empty()) break;
            node.Add("loadOption", Describe(DecodeLoadOption(data)));
            return;
        case VariableKind::Text:
            if (auto text = ReadNarrowText(data)) {
                node.Add("text", Node::Text(text->text));
                return;
            }
            break;
        case VariableKind::Other:
            break;
    }
    node.Add("data", Node::Bytes(data));
}

}  // namespace

UefiVariableEvent DecodeUefiVariableEvent(std::span<const std::uint8_t> data) {
    UefiVariableEvent event;
    ByteReader reader(data);
    UefiVariable first;
    if (!ReadVariable(reader, data, first)) {
        event.malformed = first.malformed;
        return event;
    }
    event.variables.push_back(std::move(first));
    while (!reader.AtEnd() && !event.variables.back().malformed) {
        // Only a whole further variable counts; anything else is left over.
        ByteReader probe(reader.Rest());
        UefiVariable next;
        if (!ReadVariable(probe, reader.Rest(), next) || next.malformed) {
            event.malformed =
                Malformed{std::to_string(reader.remaining()) + " bytes follow the variable's data",
                          reader.offset(), data};
            break;
        }
        reader.Skip(probe.offset());
        event.variables.push_back(std::move(next));
    }
    return event;
}

VariableKind ClassifyVariable(const Guid& vendor, std::u16string_view name) noexcept {
    if (vendor == guids::kEfiGlobalVariable) {
        for (const std::u16string_view switchName :
             {u"SecureBoot", u"SetupMode", u"AuditMode", u"DeployedMode", u"VendorKeys"}) {
            if (name == switchName) return VariableKind::Switch;
        }
        for (const std::u16string_view database :
             {u"PK", u"KEK", u"PKDefault", u"KEKDefault", u"dbDefault", u"dbxDefault",
              u"dbtDefault", u"dbrDefault"}) {
            if (name == database) return VariableKind::SignatureDatabase;
        }
        if (name == u"BootOrder") return VariableKind::BootOrder;
        for (const std::u16string_view prefix :
             {u"Boot", u"Driver", u"SysPrep", u"PlatformRecovery"}) {
            if (IsOptionName(name, prefix)) return VariableKind::LoadOption;
        }
    } else if (vendor == guids::kImageSecurityDatabase) {
        for (const std::u16string_view database : {u"db", u"dbx", u"dbt", u"dbr"}) {
            if (name == database) return VariableKind::SignatureDatabase;
        }
    } else if (vendor == guids::kShimLock) {
        if (name == u"MokSBState" || name == u"MokListTrusted") return VariableKind::Switch;
        if (name == u"MokList" || name == u"MokListX") return VariableKind::SignatureDatabase;
        if (name == u"SbatLevel") return VariableKind::Text;
    }
    return VariableKind::Other;
}

SwitchValue DecodeSwitch(std::span<const std::uint8_t> data) {
    SwitchValue value;
    if (data.size() == 1) {
        value.value = data[0];
    } else if (!data.empty()) {
        value.malformed =
            Malformed{"a switch holds one byte; this one " + std::to_string(data.size()), 0, data};
    }
    return value;
}

BootOrder DecodeBootOrder(std::span<const std::uint8_t> data) {
    BootOrder order;
    ByteReader reader(data);
    std::uint16_t option = 0;
    while (reader.U16(option)) order.options.push_back(option);
    if (!reader.AtEnd()) {
        order.malformed =
            Malformed{"BootOrder holds an odd number of bytes", reader.offset(), data};
    }
    return order;
}

LoadOption DecodeLoadOption(std::span<const std::uint8_t> data) {
    LoadOption option;
    ByteReader reader(data);
    if (!reader.U32(option.attributes) || !reader.U16(option.filePathListLength)) {
        option.malformed = Malformed{"the load option's header is cut short", 0, data};
        return option;
    }
    std::uint16_t unit = 0;
    bool terminated = false;
    while (reader.U16(unit)) {
        if (unit == 0) {
            terminated = true;
            break;
        }
        option.description += static_cast<char16_t>(unit);
    }
    if (!terminated) {
        option.malformed = Malformed{"the load option's description has no terminating zero",
                                     reader.offset(), data};
        return option;
    }
    std::span<const std::uint8_t> paths;
    if (!reader.Take(option.filePathListLength, paths)) {
        option.malformed = Malformed{"the load option's device paths say " +
                                         std::to_string(option.filePathListLength) + " bytes; " +
                                         std::to_string(reader.remaining()) + " follow",
                                     reader.offset(), data};
        option.devicePaths = DecodeDevicePaths(reader.Rest());
        return option;
    }
    option.devicePaths = DecodeDevicePaths(paths);
    option.optionalData = reader.Rest();
    return option;
}

Node Describe(const LoadOption& option) {
    Node node = Node::Object();
    node.Add("attributes", Node::Hex(option.attributes, AttributeNames(option.attributes)))
        .Add("description", Node::Text(option.description))
        .Add("filePathListLength", Node::Number(option.filePathListLength));
    const bool pathsRead = !option.malformed || !option.devicePaths.empty();
    if (pathsRead) AddDevicePaths(node, option.devicePaths);
    if (!option.malformed) {
        node.Add("optionalDataSize", Node::Number(option.optionalData.size()));
        if (!option.optionalData.empty())
            node.Add("optionalData", Node::Bytes(option.optionalData));
    }
    node.AddMalformed(option.malformed ? &*option.malformed : nullptr);
    return node;
}

Node DescribeVariable(std::uint32_t eventType, const UefiVariable& variable) {
    Node node = Node::Object();
    node.Add("guid", Node::GuidValue(variable.vendor))
        .Add("name", Node::Text(variable.name))
        .Add("dataLength", Node::Number(variable.dataLength));
    if (variable.malformed) {
        node.Add("data", Node::Bytes(variable.data)).AddMalformed(&*variable.malformed);
        return node;
    }
    AddContent(node, eventType, variable);
    return node;
}

Node Describe(std::uint32_t eventType, const UefiVariableEvent& event) {
    if (event.variables.empty()) {
        Node node = Node::Object();
        node.AddMalformed(event.malformed ? &*event.malformed : nullptr);
        return node;
    }
    Node node = DescribeVariable(eventType, event.variables.front());
    if (event.variables.size() > 1) {
        Node following = Node::List();
        for (std::size_t i = 1; i < event.variables.size(); ++i)
            following.Push(DescribeVariable(eventType, event.variables[i]));
        node.Add("followingVariables", std::move(following));
    }
    // The first variable may have a fault of its own; the bytes after the variables get theirs
    // in a member of its own.
    if (event.malformed)
        node.Add("afterVariables", std::move(Node::Object().AddMalformed(&*event.malformed)));
    return node;
}

}  // namespace qorvex::decode
