// libFuzzer target for the trace writer. The input scripts one record: how the host answers the
// open (granted, refused, granted without a buffer), then a run of operations: narrow and UTF-16
// appends (unpaired surrogates included), numbers by the flags and by a FormatSpec, manipulators,
// widths (negative and large), fills, function prefixes, the host refusing or allowing growth
// between operations, and an early Close. Checked:
// - while open, the text never passes the granted capacity;
// - as long as only narrow text, widths, fills and adjustment are used, the record holds exactly
//   what a model of the writer expects (fill placement, a refused growth starting the record
//   afresh);
// - after Close: at most one record, of the writer's last length, no buffer left open, every
//   host reference back.
// Any disagreement traps.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "services/host_services.h"
#include "zef/rtl/trace.h"

namespace {

using zef::Manip;
using zef::TraceWriter;

// The writer as the record's text should show it, for the operations it models.
struct Model {
    std::string text;
    std::size_t capacity = TraceWriter::kInitialCapacity;
    bool buffer = true;
    bool refuseGrowth = false;
    std::int32_t width = 0;
    char fill = ' ';
    enum class Adjust { Right, Left, Internal } adjust = Adjust::Right;

    // One piece: `count` bytes, either `text` or (text null) the fill character.
    void Reserve(std::size_t count, const char* text) {
        if (count == 0 || !buffer) return;
        const std::size_t needed = this->text.size() + count;
        if (needed > capacity) {
            if (refuseGrowth) {
                this->text.clear();
                capacity = 0;
                return;
            }
            capacity = std::max(2 * capacity, needed);
        }
        if (text != nullptr)
            this->text.append(text, count);
        else
            this->text.append(count, fill);
    }
    void Append(const std::string& prefix, const std::string& body) {
        const std::size_t total = prefix.size() + body.size();
        const std::size_t padding =
            width > 0 && static_cast<std::size_t>(width) > total ? width - total : 0;
        if (adjust == Adjust::Right) Reserve(padding, nullptr);
        Reserve(prefix.size(), prefix.data());
        if (adjust == Adjust::Internal) Reserve(padding, nullptr);
        Reserve(body.size(), body.data());
        if (adjust == Adjust::Left) Reserve(padding, nullptr);
        width = 0;
    }
};

std::string Bytes(FuzzedDataProvider& in, std::size_t max) {
    return in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, max));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    qorvex::host::HostServicesBundle host;
    const std::uint8_t open = in.ConsumeIntegralInRange<std::uint8_t>(0, 3);
    host.tracer.RefuseRecords(open == 1);
    host.tracer.GrantWithoutBuffer(open == 2);
    if (open == 3) host.tracer.SetMaxLevel(500);
    const std::uint32_t level =
        in.ConsumeBool() ? zef::trace_level::kError : zef::trace_level::kDetail;

    zef::TraceRecord record;
    zef::OpenTraceRecord(record, &host.tracer, level);
    const bool granted = record.tracer != nullptr;
    if (record.buffer == nullptr) {
        if (host.tracer.AcquireCalls() != 1 || !host.tracer.Records().empty()) __builtin_trap();
        return 0;
    }

    Model model;
    bool exact = true;
    bool closed = false;
    std::size_t lengthAtClose = 0;
    {
        TraceWriter writer(record);
        while (in.remaining_bytes() > 0 && !closed) {
            switch (in.ConsumeIntegralInRange<int>(0, 12)) {
                case 0: {
                    const std::string text = Bytes(in, 700);
                    writer.Append(text.data(), text.size());
                    model.Append("", text);
                    break;
                }
                case 1: {
                    const std::string prefix = Bytes(in, 8);
                    const std::string text = Bytes(in, 64);
                    writer.Append(prefix.data(), prefix.size(), text.data(), text.size());
                    model.Append(prefix, text);
                    break;
                }
                case 2: {
                    std::u16string text;
                    const std::size_t units = in.ConsumeIntegralInRange<std::size_t>(0, 300);
                    for (std::size_t i = 0; i < units && in.remaining_bytes() > 0; ++i)
                        text.push_back(static_cast<char16_t>(in.ConsumeIntegral<std::uint16_t>()));
                    writer.Append(text.data(), text.size());
                    exact = false;
                    break;
                }
                case 3:
                    writer << in.ConsumeIntegral<std::uint32_t>();
                    exact = false;
                    break;
                case 4: {
                    zef::FormatSpec spec;
                    spec.width = in.ConsumeIntegralInRange<std::int32_t>(-4, 4096);
                    spec.base = in.ConsumeIntegralInRange<std::uint32_t>(0, 40);
                    spec.alignment = in.ConsumeIntegralInRange<std::int32_t>(-2, 2);
                    spec.fill = in.ConsumeIntegral<std::uint32_t>() % 0x20000;
                    spec.showBase = in.ConsumeBool();
                    writer << zef::FormattedNumber{in.ConsumeIntegral<std::uint32_t>(), spec};
                    exact = false;
                    break;
                }
                case 5: {
                    const auto manip = static_cast<Manip>(in.ConsumeIntegralInRange<int>(0, 9));
                    writer << manip;
                    if (manip == Manip::left) model.adjust = Model::Adjust::Left;
                    if (manip == Manip::right) model.adjust = Model::Adjust::Right;
                    if (manip == Manip::internal) model.adjust = Model::Adjust::Internal;
                    break;
                }
                case 6: {
                    // Large widths only while growth is refused: a granted one would be written.
                    const std::int32_t width =
                        model.refuseGrowth ? in.ConsumeIntegral<std::int32_t>()
                                           : in.ConsumeIntegralInRange<std::int32_t>(-8, 1 << 16);
                    writer.SetWidth(width);
                    model.width = width;
                    break;
                }
                case 7: {
                    const char fill = in.ConsumeIntegral<char>();
                    writer.SetFill(fill);
                    model.fill = fill;
                    break;
                }
                case 8: {
                    const std::string name = Bytes(in, 80);
                    writer.WriteFunctionPrefix(name.c_str());
                    exact = false;
                    break;
                }
                case 9:
                    model.refuseGrowth = in.ConsumeBool();
                    host.tracer.RefuseGrowth(model.refuseGrowth);
                    if (!model.refuseGrowth && model.width > (1 << 16)) {
                        writer.SetWidth(0);
                        model.width = 0;
                    }
                    break;
                case 10:
                    writer << static_cast<const char16_t*>(nullptr);
                    model.Append("", "(null)");
                    break;
                case 11:
                    writer << static_cast<const char*>(nullptr);
                    model.Append("", "(null)");
                    break;
                default:
                    lengthAtClose = writer.Length();
                    writer.Close();
                    closed = true;
                    // A closed writer drops whatever comes after.
                    writer << "after close";
                    break;
            }
            if (!closed && writer.Length() > writer.Capacity()) __builtin_trap();
            if (exact && !closed && writer.Length() != model.text.size()) __builtin_trap();
        }
        if (!closed) lengthAtClose = writer.Length();
    }

    const auto records = host.tracer.Records();
    if (granted) {
        if (records.size() > 1) __builtin_trap();
        if (records.size() == 1) {
            if (records[0].text.size() != lengthAtClose || records[0].level != level)
                __builtin_trap();
            if (exact && records[0].text != model.text) __builtin_trap();
        }
    }
    if (host.tracer.OpenBuffers() != 0 || !host.Leftovers().empty()) __builtin_trap();
    return 0;
}
