// The exception family, its texts, and the conversion of exceptions into result codes and one
// trace record at interface boundaries and failed constructions. Portable: runs against the
// simulated runtime and the Windows C runtime alike (sim-only checks are marked).
#include "zef/rtl/error_handling/exception.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "services/host_services.h"
#include "zef/rtl/objclient.h"
#include "zef/rtl/text.h"
#include "zef/rtl/trace.h"

#ifndef _WIN32
#include "winsim/sim.h"
#endif

namespace {

using qorvex::host::CapturingTracer;
using qorvex::host::CountingAllocator;
using qorvex::host::HostServicesBundle;
using zef::ResultCode;
using zef::wstring_t;

constexpr ResultCode Code(std::uint32_t value) {
    return static_cast<ResultCode>(value);
}

std::u16string Text(const wstring_t& s) {
    return std::u16string(s.data(), s.size());
}

// The line of GetInterfaceOrThrow's throw, read from the header the build recorded.
std::uint32_t ObjclientThrowLine() {
    std::ifstream header(QORVEX_SOURCE_DIR "/zef/rtl/objclient.h");
    std::string line;
    for (std::uint32_t number = 1; std::getline(header, line); ++number) {
        if (line.find("ZEF_THROW(GetInterfaceException") != std::string::npos) return number;
    }
    ADD_FAILURE() << "no throw in zef/rtl/objclient.h";
    return 0;
}

// ---- the classes

TEST(ExceptionTest, EachClassNamesItselfAndRethrowsAndClonesAsItself) {
    struct Case {
        std::function<zef::Exception*()> make;
        const char* what;
        const std::type_info& type;
    } const cases[] = {
        {[] { return new zef::ResultCodeException("f.cpp", 1, Code(0x80000046)); },
         "ResultCodeException", typeid(zef::ResultCodeException)},
        {[] { return new zef::SystemException("f.cpp", 1, Code(0x80010102), u"call failed"); },
         "SystemException", typeid(zef::SystemException)},
        {[] { return new zef::CheckResultFailedException("f.cpp", 1, Code(0x80000046)); },
         "CheckResultFailedException", typeid(zef::CheckResultFailedException)},
        {[] { return new zef::GetInterfaceException("f.cpp", 1, 0x9cca5603, Code(0x80000001)); },
         "GetInterfaceException", typeid(zef::GetInterfaceException)},
        {[] { return new zef::CheckFailedException("f.cpp", 1); }, "CheckFailedException",
         typeid(zef::CheckFailedException)},
        {[] { return new zef::RuntimeError("f.cpp", 1, u"broken"); }, "RuntimeError",
         typeid(zef::RuntimeError)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<zef::Exception> original(c.make());
        EXPECT_STREQ(original->what(), c.what);

        std::unique_ptr<zef::Exception> clone(original->Clone());
        const zef::Exception& cloned = *clone;
        EXPECT_EQ(typeid(cloned), c.type);
        EXPECT_NE(clone.get(), original.get());
        EXPECT_EQ(Text(clone->GetDescription()), Text(original->GetDescription()));

        bool caught = false;
        try {
            original->Rethrow();
        } catch (const zef::Exception& thrown) {
            caught = true;
            EXPECT_EQ(typeid(thrown), c.type);
            EXPECT_NE(&thrown, original.get());  // a copy
            EXPECT_STREQ(thrown.File(), "f.cpp");
            EXPECT_EQ(thrown.Line(), 1u);
        }
        EXPECT_TRUE(caught);
    }
}

TEST(ExceptionTest, DescriptionsFollowTheClass) {
    struct Case {
        std::function<wstring_t()> describe;
        std::u16string_view description;
    } const cases[] = {
        {[] {
             return zef::SystemException("x", 1, Code(0x80010102), u"FindNextFileNameW failed")
                 .GetDescription();
         },
         u"FindNextFileNameW failed: 0x80010102 (File not found)"},
        {[] {
             return zef::GetInterfaceException("x", 1, 0x9cca5603, Code(0x80000001))
                 .GetDescription();
         },
         u"0x80000001 (Interface not supported): iid = 0x9cca5603"},
        {[] { return zef::CheckResultFailedException("x", 1, Code(0x80000046)).GetDescription(); },
         u"0x80000046 (Invalid argument)"},
        {[] { return zef::ResultCodeException("x", 1, 1).GetDescription(); },
         u"0x00000001 (False)"},
        {[] { return zef::ResultCodeException("x", 1, 10).GetDescription(); },
         u"0x0000000a (Unknown result code)"},
        {[] { return zef::GetInterfaceException("x", 1, 0x0000000a, 0).GetDescription(); },
         u"0x00000000 (No error): iid = 0x0000000a"},
        {[] { return zef::ResultCodeException("x", 1, Code(0x80070005), u"m").GetDescription(); },
         u"m: 0x80070005 (Unknown result code)"},
        {[] { return zef::RuntimeError("x", 1, u"no code here").GetDescription(); },
         u"no code here"},
        {[] { return zef::CheckFailedException("x", 1).GetDescription(); }, u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Text(c.describe()), c.description);
    }
}

TEST(ExceptionTest, InsertedNumbersAppendTheirDecimalTextAndKeepTheType) {
    try {
        ZEF_THROW(zef::CheckFailedException) << -2147024891 << 0;
    } catch (const zef::CheckFailedException& e) {
        EXPECT_EQ(Text(e.Message()), u"-21470248910");
        EXPECT_EQ(Text(e.GetDescription()), u"-21470248910");
    }
    zef::RuntimeError error("x", 1, u"value ");
    error << std::numeric_limits<std::int32_t>::min() << 42;
    EXPECT_EQ(Text(error.Message()), u"value -214748364842");
    zef::Exception& base = error;
    base << 7;
    EXPECT_EQ(Text(error.Message()), u"value -2147483648427");
}

TEST(ExceptionTest, ThrowSitesRecordTheirFileWithoutItsExtensionAndTheirLine) {
    // Names as __FILE__ may spell them: only the last component loses its extension.
    struct Case {
        const char* recorded;
        const char* expected;
    };
    static constexpr zef::detail::SourceFileName kCpp("zef/rtl/objclient.h");
    static constexpr zef::detail::SourceFileName kDotted("a.b/c");
    static constexpr zef::detail::SourceFileName kTwo("x/y.tar.gz");
    static constexpr zef::detail::SourceFileName kBackslash("C:\\src.d\\file.cpp");
    static constexpr zef::detail::SourceFileName kPlain("file");
    static constexpr zef::detail::SourceFileName kDotFile("dir/.hidden");
    static constexpr zef::detail::SourceFileName kRelative("../../zef/./x.h");
    static constexpr zef::detail::SourceFileName kHere("./.clang-format");
    const Case cases[] = {
        {kCpp.text, "zef/rtl/objclient"},
        {kDotted.text, "a.b/c"},
        {kTwo.text, "x/y.tar"},
        {kBackslash.text, "C:\\src.d\\file"},
        {kPlain.text, "file"},
        {kDotFile.text, "dir/.hidden"},
        {kRelative.text, "zef/./x"},
        {kHere.text, ".clang-format"},
    };
    for (const Case& c : cases) EXPECT_STREQ(c.expected, c.recorded);

    const std::uint32_t line = __LINE__ + 2;
    try {
        ZEF_THROW(zef::SystemException, Code(0x80010102), u"call failed");
    } catch (const zef::SystemException& e) {
        EXPECT_STREQ(e.File(), "tests/unit/exception_test");
        EXPECT_EQ(e.Line(), line);
        EXPECT_EQ(e.Code(), Code(0x80010102));
    }
    try {
        ZEF_CHECK_RESULT(Code(0x80000046));
    } catch (const zef::CheckResultFailedException& e) {
        EXPECT_EQ(e.Code(), Code(0x80000046));
    }
    EXPECT_NO_THROW(ZEF_CHECK_RESULT(1));
    EXPECT_THROW(ZEF_CHECK(1 + 1 == 3), zef::CheckFailedException);
    EXPECT_NO_THROW(ZEF_CHECK(1 + 1 == 2));
}

// ---- copies and nested exceptions

TEST(ExceptionTest, CopiesAreDeepAndKeepTheMessageAllocator) {
    CountingAllocator allocator;
    {
        zef::SystemException outer(
            "outer.cpp", 3, Code(0x80010102),
            wstring_t(u"a message longer than the inline buffer", &allocator));
        outer.SetNested(new zef::GetInterfaceException("in.h", 9, 0x6ef3329b, Code(0x80000001)));
        auto copy = std::make_unique<zef::SystemException>(outer);
        EXPECT_EQ(copy->Message().allocator(), &allocator);
        EXPECT_EQ(Text(copy->Message()), Text(outer.Message()));
        EXPECT_EQ(copy->Code(), outer.Code());
        ASSERT_NE(copy->Nested(), nullptr);
        EXPECT_NE(copy->Nested(), outer.Nested());  // cloned, not shared
        const zef::Exception& nested = *copy->Nested();
        EXPECT_EQ(typeid(nested), typeid(zef::GetInterfaceException));
        EXPECT_EQ(static_cast<const zef::GetInterfaceException*>(copy->Nested())->Iid(),
                  0x6ef3329bu);

        zef::SystemException assigned("other.cpp", 4, 0, u"");
        assigned.SetNested(new zef::RuntimeError("r.cpp", 5, u"replaced"));
        assigned = *copy;
        copy.reset();  // the assigned copy owns its own nested exception
        EXPECT_STREQ(assigned.File(), "outer.cpp");
        EXPECT_EQ(assigned.Line(), 3u);
        ASSERT_NE(assigned.Nested(), nullptr);
        EXPECT_STREQ(assigned.Nested()->what(), "GetInterfaceException");
        EXPECT_EQ(allocator.RefCount(), 2u);  // outer's and assigned's messages
    }
    EXPECT_EQ(allocator.LiveBlocks(), 0u);
    EXPECT_EQ(allocator.RefCount(), 0u);
    EXPECT_EQ(allocator.BadFrees(), 0u);
}

// ---- display text

TEST(ExceptionTest, DisplayTextNamesClassDescriptionAndThrowSite) {
    struct Case {
        std::function<wstring_t()> display;
        std::u16string_view text;
    } const cases[] = {
        {[] {
             return zef::GetDisplayText(
                 zef::SystemException("X", 7, Code(0x80010102), u"FindNextFileNameW failed"));
         },
         u"SystemException - FindNextFileNameW failed: 0x80010102 (File not found). At X(7) "},
        {[] {
             return zef::GetDisplayText(zef::CheckFailedException("zef/system/a.cpp", 4294967295u));
         },
         u"CheckFailedException - . At zef/system/a.cpp(4294967295) "},
        {[] { return zef::GetDisplayText(zef::RuntimeError("", 0, u"")); },
         u"RuntimeError - . At (0) "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Text(c.display()), c.text);
    }
}

TEST(ExceptionTest, DisplayTextIsEmptyWhenMemoryRunsOut) {
    CountingAllocator allocator;
    zef::RuntimeError error("x.cpp", 1,
                            wstring_t(u"a message that lives in the host allocator", &allocator));
    allocator.RefuseAll(true);  // the description copies the message
    EXPECT_EQ(Text(zef::GetDisplayText(error)), u"");
    allocator.RefuseAll(false);
}

// ---- writing exceptions to the trace

class ExceptionTraceTest : public testing::Test {
protected:
    std::vector<CapturingTracer::Record> Records() const { return tracer.Records(); }
    std::string OnlyText() const {
        const auto records = tracer.Records();
        EXPECT_EQ(records.size(), 1u);
        return records.empty() ? std::string("<no record>") : records.front().text;
    }
    void TearDown() override {
        EXPECT_EQ(tracer.OpenBuffers(), 0u);
        EXPECT_EQ(tracer.RefCount(), 0u);
    }

    CapturingTracer tracer;
};

TEST_F(ExceptionTraceTest, RecordHoldsPrefixAndTheDisplayTextsOfTheChain) {
    zef::SystemException outer("outer.cpp", 10, Code(0x80010102), u"FindNextFileNameW failed");
    auto* middle = new zef::RuntimeError("middle.cpp", 20, u"because");
    middle->SetNested(new zef::CheckResultFailedException("inner.cpp", 30, Code(0x80000046)));
    outer.SetNested(middle);

    zef::WriteExceptionToTrace(&tracer, "P: ", 300, outer);
    zef::WriteExceptionToTrace(&tracer, nullptr, 700, *middle);
    const auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].level, 300u);
    EXPECT_EQ(records[0].text,
              "P: SystemException - FindNextFileNameW failed: 0x80010102 (File not found). At "
              "outer.cpp(10) ;RuntimeError - because. At middle.cpp(20) ;"
              "CheckResultFailedException - 0x80000046 (Invalid argument). At inner.cpp(30) ");
    EXPECT_EQ(records[1].level, 700u);
    EXPECT_EQ(records[1].text,
              "RuntimeError - because. At middle.cpp(20) ;CheckResultFailedException - "
              "0x80000046 (Invalid argument). At inner.cpp(30) ");
}

TEST_F(ExceptionTraceTest, ADisplayTextWithoutNarrowFormIsReplacedAlone) {
    zef::RuntimeError outer("a.cpp", 1, u"\u4e2d");  // no narrow form in the "C" locale
    outer.SetNested(new zef::RuntimeError("b.cpp", 2, u"plain"));
    zef::WriteExceptionToTrace(&tracer, "P: ", 300, outer);
    EXPECT_EQ(OnlyText(),
              "P: <Exception display text conversion error>;RuntimeError - plain. At b.cpp(2) ");
}

TEST_F(ExceptionTraceTest, AnUnbuildableDisplayTextLeavesPrefixAndSeparators) {
    CountingAllocator allocator;
    zef::RuntimeError outer("a.cpp", 1, wstring_t(u"held by a refusing allocator", &allocator));
    outer.SetNested(new zef::RuntimeError("b.cpp", 2, u"plain"));
    allocator.RefuseAll(true);
    zef::WriteExceptionToTrace(&tracer, "P: ", 300, outer);
    allocator.RefuseAll(false);
    EXPECT_EQ(OnlyText(), "P: ;RuntimeError - plain. At b.cpp(2) ");
}

TEST_F(ExceptionTraceTest, LongTextsGrowTheRecord) {
    const std::u16string message(2000, u'm');
    zef::RuntimeError error("a.cpp", 1, wstring_t(message.data(), message.size()));
    zef::WriteExceptionToTrace(&tracer, "P: ", 300, error);
    EXPECT_EQ(OnlyText(), "P: RuntimeError - " + std::string(2000, 'm') + ". At a.cpp(1) ");
    EXPECT_GE(tracer.GrowthCalls(), 1u);
}

TEST_F(ExceptionTraceTest, StdExceptionRecordHoldsPrefixAndWhat) {
    struct NullWhat : std::exception {
        const char* what() const noexcept override { return nullptr; }
    };
    zef::WriteStdExceptionToTrace(&tracer, "P: ", 300, std::runtime_error("disk on fire"));
    zef::WriteStdExceptionToTrace(&tracer, nullptr, 300, NullWhat());
    const auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text, "P: disk on fire");
    EXPECT_EQ(records[1].text, "(null)");
}

TEST_F(ExceptionTraceTest, NoTracerOrARefusedRecordWritesNothing) {
    const zef::RuntimeError error("a.cpp", 1, u"x");
    zef::WriteExceptionToTrace(nullptr, "P: ", 300, error);
    zef::WriteStdExceptionToTrace(nullptr, "P: ", 300, std::bad_alloc());
    tracer.RefuseRecords(true);
    zef::WriteExceptionToTrace(&tracer, "P: ", 300, error);
    zef::WriteStdExceptionToTrace(&tracer, "P: ", 300, std::bad_alloc());
    EXPECT_TRUE(Records().empty());
    EXPECT_EQ(tracer.AcquireCalls(), 2u);
}

// ---- the boundary conversion

struct Classification {
    const char* name;
    std::function<void()> raise;
    ResultCode code;
    // What the record holds after the prefix: a zef exception's display text, what() of a
    // standard one, or no record at all.
    enum { kZef, kStd, kNone } traced;
};

const std::vector<Classification>& Classifications() {
    static const std::vector<Classification> cases = {
        {"RequireViolation", [] { throw zef::contract::RequireViolation("c.cpp", 1, u"pre"); },
         Code(0x80000073), Classification::kZef},
        {"InvariantViolation", [] { throw zef::contract::InvariantViolation("c.cpp", 1, u"inv"); },
         Code(0x80000074), Classification::kZef},
        {"EnsureViolation", [] { throw zef::contract::EnsureViolation("c.cpp", 1, u"post"); },
         Code(0x80000075), Classification::kZef},
        {"ResultCodeException 0", [] { ZEF_THROW(zef::ResultCodeException, 0); }, Code(0x80000040),
         Classification::kZef},
        {"ResultCodeException 0x80070005",
         [] { ZEF_THROW(zef::ResultCodeException, Code(0x80070005)); }, Code(0x80070005),
         Classification::kZef},
        {"ResultCodeException 1", [] { ZEF_THROW(zef::ResultCodeException, 1); }, 1,
         Classification::kZef},
        {"SystemException",
         [] { ZEF_THROW(zef::SystemException, Code(0x80010102), u"FindFirstFileNameW failed"); },
         Code(0x80010102), Classification::kZef},
        {"CheckResultFailedException",
         [] { ZEF_THROW(zef::CheckResultFailedException, Code(0x80000046)); }, Code(0x80000046),
         Classification::kZef},
        {"GetInterfaceException",
         [] { throw zef::GetInterfaceException("x", 1, 0x9cca5603, Code(0x80000001)); },
         Code(0x80000001), Classification::kZef},
        {"CheckFailedException", [] { ZEF_THROW(zef::CheckFailedException); }, Code(0x80000072),
         Classification::kZef},
        {"RuntimeError", [] { ZEF_THROW(zef::RuntimeError, u"broken"); }, Code(0x80000072),
         Classification::kZef},
        {"std::bad_alloc", [] { throw std::bad_alloc(); }, Code(0x80000041), Classification::kStd},
        {"std::length_error from a string",
         [] {
             wstring_t text;
             text.reserve(wstring_t::max_size() + 1);
         },
         Code(0x80000041), Classification::kStd},
        {"std::bad_cast", [] { throw std::bad_cast(); }, Code(0x80000072), Classification::kStd},
        {"std::out_of_range", [] { wstring_t().erase(1); }, Code(0x80000072), Classification::kStd},
        {"int", [] { throw 42; }, Code(0x80000072), Classification::kNone},
    };
    return cases;
}

// The text of the exception as the record should hold it after the prefix.
std::string ExpectedRecordStart(const Classification& c) {
    try {
        c.raise();
    } catch (const zef::Exception& e) {
        return std::string(e.what()) + " - ";
    } catch (const std::bad_alloc&) {
        return "bad allocation";
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
    }
    return "";
}

TEST_F(ExceptionTraceTest, BoundaryClassifiesTheExceptionBeingHandled) {
    for (const Classification& c : Classifications()) {
        SCOPED_TRACE(c.name);
        tracer.Clear();
        ResultCode code = 0;
        try {
            c.raise();
        } catch (...) {
            code = zef::ResultCodeFromCurrentException(&tracer, "B: ", 300);
        }
        EXPECT_EQ(code, c.code);
        const auto records = Records();
        if (c.traced == Classification::kNone) {
            EXPECT_TRUE(records.empty());
            continue;
        }
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].level, 300u);
        const std::string start = "B: " + ExpectedRecordStart(c);
        if (c.traced == Classification::kStd) {
            EXPECT_EQ(records[0].text, start);
        } else {
            EXPECT_THAT(records[0].text, testing::StartsWith(start));
            EXPECT_THAT(records[0].text, testing::EndsWith(") "));
        }
    }
}

TEST_F(ExceptionTraceTest, BoundaryCodesDoNotDependOnTracing) {
    tracer.RefuseRecords(true);
    for (const Classification& c : Classifications()) {
        SCOPED_TRACE(c.name);
        ResultCode withoutTracer = 0;
        ResultCode refused = 0;
        try {
            c.raise();
        } catch (...) {
            withoutTracer = zef::ResultCodeFromCurrentException(nullptr, nullptr, 300);
            refused = zef::ResultCodeFromCurrentException(&tracer, nullptr, 300);
        }
        EXPECT_EQ(withoutTracer, c.code);
        EXPECT_EQ(refused, c.code);
    }
    EXPECT_TRUE(Records().empty());
}

TEST_F(ExceptionTraceTest, BoundaryWithNoExceptionBeingHandledReportsUnknown) {
    EXPECT_EQ(zef::ResultCodeFromCurrentException(&tracer, nullptr, 300), Code(0x80000072));
    EXPECT_TRUE(Records().empty());
}

TEST_F(ExceptionTraceTest, ComponentBoundaryTracesBadAllocAndReturnsOutOfMemory) {
    // The shape of every component operation: the body throws, the handler converts.
    const auto operation = [&]() -> ResultCode {
        try {
            throw std::bad_alloc();
        } catch (const std::exception&) {
            return zef::ResultCodeFromCurrentException(&tracer, nullptr, 300);
        }
    };
    EXPECT_EQ(operation(), Code(0x80000041));
    // The system's text on every C++ runtime, not the runtime's own what().
    EXPECT_EQ(OnlyText(), "bad allocation");
}

// ---- failed constructions

class ConstructionTest : public testing::Test {
protected:
    // Runs a construction that throws what raise throws, and the factory's catch-all.
    ResultCode Construct(zef::IServiceLocator* locator, const std::function<void()>& raise) {
        try {
            raise();
        } catch (...) {
            return zef::HandleConstructionException(locator);
        }
        return 0;
    }

    void TearDown() override {
        EXPECT_EQ(host.tracer.OpenBuffers(), 0u);
        EXPECT_EQ(host.tracer.RefCount(), 0u);
        EXPECT_EQ(host.allocator.RefCount(), 0u);
    }

    HostServicesBundle host;
};

TEST_F(ConstructionTest, RefusedAllocatorLeavesOneRecordNamingTheRequest) {
    host.locator.Refuse(zef::kIidAllocator, Code(0x80000001));
    const ResultCode code = Construct(&host.locator, [&] {
        zef::GetInterfaceOrThrow<zef::IAllocator>(&host.locator, zef::kIidAllocator);
    });
    EXPECT_EQ(code, Code(0x80000001));
    EXPECT_EQ(host.locator.Requests(zef::kIidTracer), 1u);
    const auto records = host.tracer.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, 300u);
    EXPECT_EQ(records[0].text,
              "Exception during object construction: GetInterfaceException - "
              "0x80000001 (Interface not supported): iid = 0x9cca5603. At "
              "zef/rtl/objclient(" +
                  std::to_string(ObjclientThrowLine()) + ") ");
}

TEST_F(ConstructionTest, CodesAreTheBoundaryCodesWithOrWithoutATracer) {
    host.locator.Refuse(zef::kIidTracer, Code(0x80000045));
    for (const Classification& c : Classifications()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Construct(&host.locator, c.raise), c.code);
        EXPECT_EQ(Construct(nullptr, c.raise), c.code);
    }
    EXPECT_TRUE(host.tracer.Records().empty());

    host.locator.Accept(zef::kIidTracer);
    host.tracer.Clear();
    EXPECT_EQ(Construct(&host.locator, [] { throw 42; }), Code(0x80000072));
    EXPECT_TRUE(host.tracer.Records().empty());
    EXPECT_EQ(Construct(&host.locator, [] { ZEF_THROW(zef::RuntimeError, u"no"); }),
              Code(0x80000072));
    ASSERT_EQ(host.tracer.Records().size(), 1u);
    EXPECT_THAT(host.tracer.Records()[0].text,
                testing::StartsWith("Exception during object construction: RuntimeError - no. "
                                    "At tests/unit/exception_test("));
}

// ---- GetInterfaceOrThrow

// A locator that fails but still leaves a reference in its output.
class LeakyRefusingLocator final : public zef::IServiceLocator {
public:
    explicit LeakyRefusingLocator(zef::ITracer* left) : m_left(left) {}
    std::uint32_t AddRef() override { return 2; }
    std::uint32_t Release() override { return 1; }
    ResultCode QueryInterface(zef::InterfaceId, void** out) override {
        *out = nullptr;
        return zef::rc::kNoInterface;
    }
    ResultCode GetInterface(zef::InterfaceId, std::uint32_t reserved, void** out) override {
        EXPECT_EQ(reserved, 0u);
        m_left->AddRef();
        *out = m_left;
        return Code(0x80000045);
    }

private:
    zef::ITracer* m_left;
};

TEST_F(ConstructionTest, GetInterfaceOrThrowHandsOverOneReferenceOrThrowsTheLocatorsCode) {
    {
        zef::ref_ptr<zef::ITracer> tracer =
            zef::GetInterfaceOrThrow<zef::ITracer>(&host.locator, zef::kIidTracer);
        EXPECT_EQ(tracer.get(), &host.tracer);
        EXPECT_EQ(host.tracer.RefCount(), 1u);
    }

    host.locator.Refuse(zef::kIidTracer, Code(0x80070005));
    try {
        zef::GetInterfaceOrThrow<zef::ITracer>(&host.locator, zef::kIidTracer);
        ADD_FAILURE() << "no exception";
    } catch (const zef::GetInterfaceException& e) {
        EXPECT_EQ(e.Iid(), zef::kIidTracer);
        EXPECT_EQ(e.Code(), Code(0x80070005));
        EXPECT_STREQ(e.File(), "zef/rtl/objclient");
        EXPECT_EQ(e.Line(), ObjclientThrowLine());
        EXPECT_TRUE(e.Message().empty());
        EXPECT_EQ(e.Nested(), nullptr);
    }

    LeakyRefusingLocator leaky(&host.tracer);
    EXPECT_THROW(zef::GetInterfaceOrThrow<zef::ITracer>(&leaky, zef::kIidTracer),
                 zef::GetInterfaceException);
    EXPECT_EQ(host.tracer.RefCount(), 0u);  // what the locator left was released
}

#ifndef _WIN32
// The simulated process heap can run dry on demand; the report still goes out, without text.
TEST_F(ExceptionTraceTest, ProcessHeapExhaustionLeavesOnlyThePrefix) {
    winsim::ScopedMachine machine;
    const zef::SystemException error("a.cpp", 1, Code(0x80010102), u"FindNextFileNameW failed");
    {
        winsim::ScopedFault fault("HeapAlloc", winsim::FaultMode::Always, 0, 0);
        EXPECT_EQ(Text(zef::GetDisplayText(error)), u"");
        zef::WriteExceptionToTrace(&tracer, "P: ", 300, error);
    }
    EXPECT_EQ(OnlyText(), "P: ");
}
#endif

}  // namespace
