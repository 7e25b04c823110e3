// Result code texts and the Win32 error / HRESULT conversions.
#include "zef/rtl/result_codes.h"

#include <gtest/gtest.h>
#include <win/kernel.h>

#include <cstdint>
#include <string>

namespace {

std::u16string Message(std::uint32_t code) {
    const zef::wstring_t text = zef::GetResultCodeMessage(static_cast<zef::ResultCode>(code));
    EXPECT_EQ(text.allocator(), nullptr);
    return std::u16string(text.data(), text.size());
}

struct CodeText {
    std::uint32_t code;
    const char16_t* text;
};

TEST(ResultCodeMessageTest, FrameworkTable) {
    const CodeText cases[] = {
        {0x00000000u, u"No error"},
        {0x00000001u, u"False"},
        {0x80000001u, u"Interface not supported"},
        {0x80000040u, u"Unexpected"},
        {0x80000041u, u"Out of memory"},
        {0x80000042u, u"Not supported"},
        {0x80000043u, u"Not implemented"},
        {0x80000044u, u"Buffer too small"},
        {0x80000045u, u"Access denied"},
        {0x80000046u, u"Invalid argument"},
        {0x8000004Au, u"Not matched"},
        {0x8000004Bu, u"Unspecified error"},
        {0x8000004Cu, u"Not found"},
        {0x8000004Du, u"Found"},
        {0x8000004Fu, u"Locked"},
        {0x80000050u, u"Not locked"},
        {0x80000051u, u"Operation cancelled"},
        {0x80000057u, u"Method not found"},
        {0x80000058u, u"Stack is empty"},
        {0x80000059u, u"Media error"},
        {0x8000005Au, u"Invalid signature"},
        {0x8000005Bu, u"Invalid version"},
        {0x8000005Cu, u"Invalid size"},
        {0x8000005Du, u"Invalid type"},
        {0x8000005Eu, u"Invalid index"},
        {0x80000062u, u"Out of space"},
        {0x80000063u, u"Not ready"},
        {0x80000064u, u"Less than"},
        {0x80000065u, u"More than"},
        {0x80000066u, u"Prohibited"},
        {0x80000067u, u"Already done"},
        {0x80000068u, u"Need reboot"},
        {0x80000069u, u"Bases corrupted"},
        {0x8000006Au, u"Invalid state"},
        {0x8000006Bu, u"Not initialized"},
        {0x8000006Cu, u"Insufficient resources"},
        {0x80000071u, u"Invalid result"},
        {0x80000072u, u"Unknown exception"},
        {0x80000076u, u"Meta information not found"},
        {0x80000100u, u"Class not found"},
        {0x80000180u, u"Property not found"},
        {0x80000221u, u"Operation timeout"},
        // Codes between and around the listed ones, and other families.
        {0x00000002u, u"Unknown result code"},
        {0x7FFFFFFFu, u"Unknown result code"},
        {0x80000000u, u"Unknown result code"},
        {0x80000002u, u"Unknown result code"},
        {0x8000003Fu, u"Unknown result code"},
        {0x80000047u, u"Unknown result code"},
        {0x8000004Eu, u"Unknown result code"},
        {0x80000073u, u"Unknown result code"},  // contract violations have no text
        {0x80000074u, u"Unknown result code"},
        {0x80000075u, u"Unknown result code"},
        {0x80070005u, u"Unknown result code"},  // family 7 has no texts
        {0x800700AAu, u"Unknown result code"},
        {0xFFFFFFFFu, u"Unknown result code"},
    };
    for (const CodeText& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.code);
        EXPECT_EQ(Message(c.code), c.text);
        EXPECT_EQ(std::u16string(
                      zef::GetFrameworkResultCodeMessage(static_cast<zef::ResultCode>(c.code))),
                  c.text);
    }
}

TEST(ResultCodeMessageTest, PlatformTableServesFamilyOneWhateverBit31Holds) {
    const CodeText cases[] = {
        {0x80010100u, u"Unspecified platform error"},
        {0x80010101u, u"Invalid handle"},
        {0x80010102u, u"File not found"},
        {0x80010103u, u"Path not found"},
        {0x80010104u, u"Sharing violation"},
        {0x80010105u, u"Already exists"},
        {0x80010106u, u"Wait abandoned"},
        {0x80010107u, u"Symbol not found"},
        {0x80010108u, u"Sxs is incorrect"},
        {0x80010109u, u"Invalid path name"},
        {0x80010110u, u"Cannot open an anonymous level security token"},
        {0x80010111u, u"Password is invalid"},
        {0x80010112u, u"Module not found"},
        {0x80010113u, u"System image bad signature"},
        {0x8001010Au, u"Unknown platform result code"},
        {0x8001010Fu, u"Unknown platform result code"},
        {0x80010114u, u"Unknown platform result code"},
        {0x80010000u, u"Unknown platform result code"},
        {0x8001FFFFu, u"Unknown platform result code"},
        {0x00010100u, u"Unknown platform result code"},  // bit 31 clear: still family 1
        {0x00010102u, u"Unknown platform result code"},
    };
    for (const CodeText& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.code);
        EXPECT_EQ(Message(c.code), c.text);
    }
    // The platform table alone answers by exact value; the framework table knows none of these.
    EXPECT_EQ(std::u16string(zef::GetPlatformResultCodeMessage(0)),
              u"Unknown platform result code");
    EXPECT_EQ(std::u16string(
                  zef::GetFrameworkResultCodeMessage(static_cast<zef::ResultCode>(0x80010102u))),
              u"Unknown result code");
}

struct Conversion {
    std::uint32_t input;
    std::uint32_t code;
};

TEST(ResultCodeConversionTest, Win32Errors) {
    const Conversion cases[] = {
        {0, 0x00000000u},
        {1, 0x80000042u},
        {2, 0x80010102u},
        {3, 0x80010103u},
        {5, 0x80000045u},
        {6, 0x80010101u},
        {8, 0x80000041u},
        {21, 0x80000063u},
        {24, 0x8000005Cu},
        {31, 0x8000004Bu},
        {32, 0x80010104u},
        {33, 0x80010104u},
        {50, 0x80000042u},
        {53, 0x80010103u},
        {80, 0x80010105u},
        {87, 0x80000046u},
        {111, 0x80000044u},
        {112, 0x80000062u},
        {122, 0x80000044u},
        {123, 0x80010109u},
        {126, 0x80010112u},
        {127, 0x80010107u},
        {160, 0x80000046u},
        {183, 0x80010105u},
        {234, 0x80000044u},
        {267, 0x80010103u},
        {393, 0x80010114u},
        {637, 0x80010113u},
        {995, 0x80000051u},
        {1168, 0x8000004Cu},
        {1347, 0x80010110u},
        {1413, 0x8000005Eu},
        {1450, 0x8000006Cu},
        {1460, 0x80000221u},
        {14001, 0x80010108u},
        // Unmapped Win32 errors are carried in family 7.
        {4, 0x80070004u},
        {120, 0x80070078u},
        {170, 0x800700AAu},
        {0xFFFF, 0x8007FFFFu},
        // Values with any of bits 16..31 set are HRESULTs.
        {0x00010000u, 0},  // not negative: success
        {0x7FFFFFFFu, 0},
        {0x80070057u, 0x80000046u},  // facility 7, error 87
        {0x800700AAu, 0x800700AAu},  // facility 7, unmapped error: unchanged
        {0x80070000u, 0},            // facility 7 wrapping error 0
        {0x80004005u, 0x80010100u},  // E_FAIL
        {0x8000FFFFu, 0x80010100u},
        {0x90070005u, 0x80000045u},  // only bits 16..27 name the facility
    };
    for (const Conversion& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.input);
        EXPECT_EQ(static_cast<std::uint32_t>(zef::ResultCodeFromWin32Error(c.input)), c.code);
    }
}

TEST(ResultCodeConversionTest, HResults) {
    const Conversion cases[] = {
        {0, 0},
        {1, 0},  // S_FALSE is plain success
        {0x7FFFFFFFu, 0},
        {0x80004005u, 0x80010100u},
        {0x80004001u, 0x80010100u},
        {0x80000000u, 0x80010100u},
        {0x80070000u, 0},
        {0x80070002u, 0x80010102u},
        {0x80070005u, 0x80000045u},
        {0x8007000Eu, 0x8007000Eu},  // E_OUTOFMEMORY wraps error 14, which has no entry
        {0x80070057u, 0x80000046u},
        {0x8007007Au, 0x80000044u},
        {0x80070189u, 0x80010114u},  // error 393
        {0x800700AAu, 0x800700AAu},
        {0x8007FFFFu, 0x8007FFFFu},
        {0xC0070005u, 0x80000045u},  // customer bit set, still facility 7
        {0x80170005u, 0x80010100u},  // another facility
    };
    for (const Conversion& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.input);
        EXPECT_EQ(static_cast<std::uint32_t>(
                      zef::ResultCodeFromHResult(static_cast<std::int32_t>(c.input))),
                  c.code);
    }
}

// A failed call is a failure whatever it reported: the values the conversions read as success
// become "Unspecified platform error", every other value converts as above.
TEST(ResultCodeConversionTest, FailuresNeverConvertToSuccess) {
    const Conversion win32[] = {
        {0, 0x80010100u},           {0x00010000u, 0x80010100u}, {0x00070005u, 0x80010100u},
        {0x7FFF0000u, 0x80010100u}, {0x80070000u, 0x80010100u}, {5, 0x80000045u},
        {170, 0x800700AAu},         {0x80070057u, 0x80000046u}, {0x80004005u, 0x80010100u},
    };
    for (const Conversion& c : win32) {
        SCOPED_TRACE(testing::Message() << std::hex << c.input);
        EXPECT_EQ(static_cast<std::uint32_t>(zef::FailureFromWin32Error(c.input)), c.code);
        win::SetLastError(c.input);
        EXPECT_EQ(static_cast<std::uint32_t>(zef::FailureFromLastError()), c.code);
    }
    const Conversion hresults[] = {
        {0x80070000u, 0x80010100u}, {0xC0070000u, 0x80010100u}, {0x80070005u, 0x80000045u},
        {0x80004005u, 0x80010100u}, {0x8007000Eu, 0x8007000Eu},
    };
    for (const Conversion& c : hresults) {
        SCOPED_TRACE(testing::Message() << std::hex << c.input);
        EXPECT_EQ(
            static_cast<std::uint32_t>(zef::FailureFromHResult(static_cast<std::int32_t>(c.input))),
            c.code);
    }
}

}  // namespace
