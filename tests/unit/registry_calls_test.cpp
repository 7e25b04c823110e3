// RegGetValueW as Windows answers it, as a table of facts: return value, type, size and buffer
// contents for each kind of value and each flag. The rows come from Wine's conformance suite
// (dlls/advapi32/tests/registry.c, test_RegGetValueA: what its ok() lines record of Windows,
// here in the wide call) and from Microsoft's documentation of RegGetValue (strings come back
// terminated). The same table runs on the simulated machine and, cross built, against the real
// registry under Wine. Wine answers every row as Windows does, so no row sets simulatedOnly,
// which keeps a row that holds on Windows but not under Wine to the simulated machine.
#include <win/registry.h>
#include <win/system_info.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "contract/machine.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
const Bytes kNoBytes;

constexpr char16_t kKey[] = u"Software\\QorvexContractTest";

Bytes Utf16Bytes(std::u16string_view text) {
    Bytes bytes(text.size() * sizeof(char16_t));
    std::memcpy(bytes.data(), text.data(), bytes.size());
    return bytes;
}
// The text and one terminator.
Bytes Terminated(std::u16string_view text) {
    Bytes bytes = Utf16Bytes(text);
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}
Bytes Dwords(std::initializer_list<std::uint32_t> values) {
    Bytes bytes;
    for (std::uint32_t v : values)
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return bytes;
}

std::u16string Expanded(std::u16string_view text) {
    const std::u16string source(text);
    const win::DWORD needed = win::ExpandEnvironmentStringsW(source.c_str(), nullptr, 0);
    std::u16string out(needed, u'\0');
    win::ExpandEnvironmentStringsW(source.c_str(), out.data(), needed);
    out.resize(needed > 0 ? needed - 1 : 0);
    return out;
}

constexpr std::u16string_view kPath = u"%SystemRoot%\\sub";

// The values every row reads, written as a writer gives them.
class RegistryCallsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Put(u"DWORD", win::REG_DWORD, Dwords({0x12345678}));
        Put(u"BIN32", win::REG_BINARY, Dwords({0x12345678}));
        Put(u"BIN64", win::REG_BINARY, Dwords({0x12345678, 0x87654321}));
        Put(u"QWORD", win::REG_QWORD, Dwords({0x12345678, 0x87654321}));
        Put(u"SZ", win::REG_SZ, Terminated(kPath));
        Put(u"EMPTY_SZ", win::REG_SZ, {});
        Put(u"UNTERMINATED_SZ", win::REG_SZ, Utf16Bytes(u"abc"));
        Put(u"EXPAND_SZ", win::REG_EXPAND_SZ, Terminated(kPath));
        Put(u"MULTI_SZ", win::REG_MULTI_SZ, Utf16Bytes(std::u16string_view(u"a\0b\0", 5)));
    }
    void Put(std::u16string_view name, win::DWORD type, const Bytes& data) {
        m_key.Put(name, type, data.data(), data.size());
    }

    contract::ScopedRegistryKey m_key{kKey};
};

constexpr win::DWORD kUntouchedType = 0xDEADBEEF;
// Not part of the fact: Windows documents no type for a value that is not there.
constexpr win::DWORD kAnyType = 0xA11;
constexpr std::uint8_t kFill = 0xAB;
constexpr win::DWORD kBufferBytes = 96;

enum class Buffer {
    Sized,     // a buffer of `size` bytes, *dataSize = size
    Null,      // no buffer, *dataSize = size
    NoSizeOf,  // a buffer but no dataSize
    None,      // neither
};
enum class Data { Untouched, Exactly, Zeroed, Any };

struct Row {
    const char* what;
    const char16_t* value;
    win::DWORD flags;
    Buffer buffer;
    win::DWORD size;
    win::LSTATUS status;
    win::DWORD type;  // kUntouchedType: left alone
    win::DWORD sizeAfter;
    Data data;
    Bytes bytes;                 // Exactly: the buffer starts with these
    win::LSTATUS orStatus = -1;  // another answer Windows gives (by version), when there is one
    // Whether the buffer past the data is left alone. Expansion may leave the raw text's tail
    // there (Wine does; Windows documents nothing about it).
    bool tailUntouched = true;
    bool simulatedOnly = false;
};

void Check(const Row& row) {
    SCOPED_TRACE(row.what);
    if (row.simulatedOnly && !contract::kSimulatedMachine) return;
    std::uint8_t buffer[kBufferBytes];
    std::memset(buffer, kFill, sizeof buffer);
    win::DWORD type = kUntouchedType;
    win::DWORD size = row.size;
    void* data = row.buffer == Buffer::Sized || row.buffer == Buffer::NoSizeOf ? buffer : nullptr;
    win::DWORD* sizeArg =
        row.buffer == Buffer::Sized || row.buffer == Buffer::Null ? &size : nullptr;
    const win::LSTATUS status = win::RegGetValueW(win::HKEY_LOCAL_MACHINE, kKey, row.value,
                                                  row.flags, &type, data, sizeArg);
    if (row.orStatus != -1 && status == row.orStatus) return;
    ASSERT_EQ(row.status, status);
    if (row.type != kAnyType) {
        EXPECT_EQ(row.type, type);
    }
    if (sizeArg != nullptr) {
        EXPECT_EQ(row.sizeAfter, size);
    }
    switch (row.data) {
        case Data::Untouched:
            for (std::uint8_t b : buffer) ASSERT_EQ(kFill, b);
            break;
        case Data::Zeroed:
            for (win::DWORD i = 0; i < kBufferBytes; ++i)
                ASSERT_EQ(i < row.size ? 0 : kFill, buffer[i]) << "byte " << i;
            break;
        case Data::Exactly:
            ASSERT_LE(row.bytes.size(), sizeof buffer);
            EXPECT_EQ(row.bytes, Bytes(buffer, buffer + row.bytes.size()));
            for (std::size_t i = row.bytes.size(); row.tailUntouched && i < kBufferBytes; ++i)
                ASSERT_EQ(kFill, buffer[i]) << "byte " << i << " past the data";
            break;
        case Data::Any:
            break;
    }
}

TEST_F(RegistryCallsTest, NumbersAndBinaryDataByTypeRestriction) {
    const Bytes one = Dwords({0x12345678});
    const Bytes two = Dwords({0x12345678, 0x87654321});
    constexpr win::DWORD kNoType = kUntouchedType;
    const Row rows[] = {
        {"REG_DWORD as RRF_RT_REG_DWORD", u"DWORD", win::RRF_RT_REG_DWORD, Buffer::Sized, 4, 0,
         win::REG_DWORD, 4, Data::Exactly, one},
        {"value names ignore case", u"dword", win::RRF_RT_REG_DWORD, Buffer::Sized, 4, 0,
         win::REG_DWORD, 4, Data::Exactly, one},
        {"size query: no buffer", u"DWORD", win::RRF_RT_REG_DWORD, Buffer::Null, 0, 0,
         win::REG_DWORD, 4, Data::Untouched, kNoBytes},
        {"neither buffer nor size", u"DWORD", win::RRF_RT_REG_DWORD, Buffer::None, 0, 0,
         win::REG_DWORD, 0, Data::Untouched, kNoBytes},
        {"a buffer without its size", u"DWORD", win::RRF_RT_REG_DWORD, Buffer::NoSizeOf, 0,
         win::ERROR_INVALID_PARAMETER, kNoType, 0, Data::Untouched, kNoBytes},
        // No RRF_RT_* bit: every type is refused, after the value was read.
        {"no type accepted", u"DWORD", 0, Buffer::Sized, 4, win::ERROR_UNSUPPORTED_TYPE,
         win::REG_DWORD, 4, Data::Exactly, one},
        {"REG_DWORD refused by RRF_RT_REG_BINARY: still read", u"DWORD", win::RRF_RT_REG_BINARY,
         Buffer::Sized, 4, win::ERROR_UNSUPPORTED_TYPE, win::REG_DWORD, 4, Data::Exactly, one},
        {"refused with RRF_ZEROONFAILURE: buffer zeroed", u"DWORD",
         win::RRF_RT_REG_SZ | win::RRF_ZEROONFAILURE, Buffer::Sized, 4, win::ERROR_UNSUPPORTED_TYPE,
         win::REG_DWORD, 4, Data::Zeroed, kNoBytes},
        {"refused with RRF_ZEROONFAILURE and no buffer", u"DWORD",
         win::RRF_RT_REG_SZ | win::RRF_ZEROONFAILURE, Buffer::Null, 0xBADBEEF,
         win::ERROR_UNSUPPORTED_TYPE, win::REG_DWORD, 4, Data::Untouched, kNoBytes},
        {"REG_DWORD as RRF_RT_DWORD", u"DWORD", win::RRF_RT_DWORD, Buffer::Sized, 8, 0,
         win::REG_DWORD, 4, Data::Exactly, one},
        {"4-byte REG_BINARY as RRF_RT_DWORD", u"BIN32", win::RRF_RT_DWORD, Buffer::Sized, 8, 0,
         win::REG_BINARY, 4, Data::Exactly, one},
        {"8-byte REG_BINARY as RRF_RT_DWORD: mismatch, still read", u"BIN64", win::RRF_RT_DWORD,
         Buffer::Sized, 8, win::ERROR_DATATYPE_MISMATCH, win::REG_BINARY, 8, Data::Exactly, two},
        {"8-byte REG_BINARY into 4 bytes", u"BIN64", win::RRF_RT_REG_BINARY, Buffer::Sized, 4,
         win::ERROR_MORE_DATA, win::REG_BINARY, 8, Data::Untouched, kNoBytes},
        {"8-byte REG_BINARY into 4 bytes, RRF_ZEROONFAILURE", u"BIN64",
         win::RRF_RT_REG_BINARY | win::RRF_ZEROONFAILURE, Buffer::Sized, 4, win::ERROR_MORE_DATA,
         win::REG_BINARY, 8, Data::Zeroed, kNoBytes},
        {"8-byte REG_BINARY as RRF_RT_QWORD", u"BIN64", win::RRF_RT_QWORD, Buffer::Sized, 8, 0,
         win::REG_BINARY, 8, Data::Exactly, two},
        {"REG_QWORD as RRF_RT_QWORD", u"QWORD", win::RRF_RT_QWORD, Buffer::Sized, 16, 0,
         win::REG_QWORD, 8, Data::Exactly, two},
        {"REG_QWORD as RRF_RT_ANY", u"QWORD", win::RRF_RT_ANY, Buffer::Sized, 16, 0, win::REG_QWORD,
         8, Data::Exactly, two},
        {"RRF_SUBKEY_WOW6464KEY alone", u"DWORD",
         win::RRF_RT_REG_DWORD | win::RRF_SUBKEY_WOW6464KEY, Buffer::Sized, 4, 0, win::REG_DWORD, 4,
         Data::Exactly, one},
        {"both registry views at once", u"DWORD",
         win::RRF_RT_REG_DWORD | win::RRF_SUBKEY_WOW6464KEY | win::RRF_SUBKEY_WOW6432KEY,
         Buffer::Sized, 4, win::ERROR_INVALID_PARAMETER, kNoType, 4, Data::Untouched, kNoBytes},
    };
    for (const Row& row : rows) Check(row);
}

TEST_F(RegistryCallsTest, StringsComeBackTerminatedAndExpandedUnlessAskedNotTo) {
    const Bytes raw = Terminated(kPath);
    const Bytes expanded = Terminated(Expanded(kPath));
    const auto rawSize = static_cast<win::DWORD>(raw.size());
    const auto expandedSize = static_cast<win::DWORD>(expanded.size());
    const Row rows[] = {
        {"REG_SZ", u"SZ", win::RRF_RT_REG_SZ, Buffer::Sized, kBufferBytes, 0, win::REG_SZ, rawSize,
         Data::Exactly, raw},
        {"REG_SZ is never expanded", u"SZ", win::RRF_RT_REG_SZ | win::RRF_NOEXPAND, Buffer::Sized,
         kBufferBytes, 0, win::REG_SZ, rawSize, Data::Exactly, raw},
        {"REG_SZ size query", u"SZ", win::RRF_RT_REG_SZ, Buffer::Null, 0, 0, win::REG_SZ, rawSize,
         Data::Untouched, kNoBytes},
        {"REG_SZ into a buffer one unit short", u"SZ", win::RRF_RT_REG_SZ, Buffer::Sized,
         rawSize - 2, win::ERROR_MORE_DATA, win::REG_SZ, rawSize, Data::Untouched, kNoBytes},
        {"empty REG_SZ (no bytes)", u"EMPTY_SZ", win::RRF_RT_REG_SZ, Buffer::Sized, kBufferBytes, 0,
         win::REG_SZ, 0, Data::Any, kNoBytes},
        {"REG_SZ stored without terminator gets one", u"UNTERMINATED_SZ", win::RRF_RT_REG_SZ,
         Buffer::Sized, kBufferBytes, 0, win::REG_SZ, 8, Data::Exactly, Terminated(u"abc")},
        {"... and a buffer of the stored bytes is too small", u"UNTERMINATED_SZ",
         win::RRF_RT_REG_SZ, Buffer::Sized, 6, win::ERROR_MORE_DATA, win::REG_SZ, 8,
         Data::Untouched, kNoBytes},
        {"REG_SZ refused by RRF_RT_REG_DWORD", u"SZ", win::RRF_RT_REG_DWORD, Buffer::Sized,
         kBufferBytes, win::ERROR_UNSUPPORTED_TYPE, win::REG_SZ, rawSize, Data::Exactly, raw},
        {"REG_EXPAND_SZ read as REG_SZ is expanded", u"EXPAND_SZ", win::RRF_RT_REG_SZ,
         Buffer::Sized, kBufferBytes, 0, win::REG_SZ, expandedSize, Data::Exactly, expanded, -1,
         false},
        {"REG_EXPAND_SZ with RRF_RT_ANY is expanded", u"EXPAND_SZ", win::RRF_RT_ANY, Buffer::Sized,
         kBufferBytes, 0, win::REG_SZ, expandedSize, Data::Exactly, expanded, -1, false},
        {"REG_EXPAND_SZ with RRF_NOEXPAND stays as written", u"EXPAND_SZ",
         win::RRF_RT_REG_EXPAND_SZ | win::RRF_NOEXPAND, Buffer::Sized, kBufferBytes, 0,
         win::REG_EXPAND_SZ, rawSize, Data::Exactly, raw},
        {"REG_EXPAND_SZ size query with RRF_NOEXPAND", u"EXPAND_SZ",
         win::RRF_RT_REG_EXPAND_SZ | win::RRF_NOEXPAND, Buffer::Null, 0xBADBEEF, 0,
         win::REG_EXPAND_SZ, rawSize, Data::Untouched, kNoBytes},
        {"REG_EXPAND_SZ not expanded is not REG_SZ", u"EXPAND_SZ",
         win::RRF_RT_REG_SZ | win::RRF_NOEXPAND, Buffer::None, 0, win::ERROR_UNSUPPORTED_TYPE,
         win::REG_EXPAND_SZ, 0, Data::Untouched, kNoBytes},
        // Windows 8 and later expand and then refuse REG_SZ; earlier versions refuse the flags.
        {"RRF_RT_REG_EXPAND_SZ without RRF_NOEXPAND", u"EXPAND_SZ", win::RRF_RT_REG_EXPAND_SZ,
         Buffer::None, 0, win::ERROR_UNSUPPORTED_TYPE, win::REG_SZ, 0, Data::Untouched, kNoBytes,
         win::ERROR_INVALID_PARAMETER},
        {"REG_MULTI_SZ", u"MULTI_SZ", win::RRF_RT_REG_MULTI_SZ, Buffer::Sized, kBufferBytes, 0,
         win::REG_MULTI_SZ, 10, Data::Exactly, Utf16Bytes(std::u16string_view(u"a\0b\0\0", 5))},
        {"missing value", u"NoSuchValue", win::RRF_RT_ANY, Buffer::Sized, kBufferBytes,
         win::ERROR_FILE_NOT_FOUND, kAnyType, kBufferBytes, Data::Untouched, kNoBytes},
        {"missing value, RRF_ZEROONFAILURE", u"NoSuchValue",
         win::RRF_RT_ANY | win::RRF_ZEROONFAILURE, Buffer::Sized, 8, win::ERROR_FILE_NOT_FOUND,
         kAnyType, 8, Data::Zeroed, kNoBytes},
    };
    for (const Row& row : rows) Check(row);
}

TEST_F(RegistryCallsTest, MissingKeysAndDefaultValues) {
    std::uint32_t data = 0xCCCCCCCC;
    win::DWORD size = sizeof data;
    EXPECT_EQ(static_cast<win::LSTATUS>(win::ERROR_FILE_NOT_FOUND),
              win::RegGetValueW(win::HKEY_LOCAL_MACHINE, u"Software\\QorvexContractTest\\Missing",
                                u"DWORD", win::RRF_RT_ANY, nullptr, &data, &size));
    EXPECT_EQ(0xCCCCCCCCu, data);
    // A sub-key path that names the key itself, and its values by name.
    size = sizeof data;
    EXPECT_EQ(0, win::RegGetValueW(win::HKEY_LOCAL_MACHINE, u"SOFTWARE\\qorvexcontracttest",
                                   u"DWORD", win::RRF_RT_REG_DWORD, nullptr, &data, &size));
    EXPECT_EQ(0x12345678u, data);
    // The key has no default (unnamed) value: a null and an empty name both ask for it.
    for (const char16_t* name : {static_cast<const char16_t*>(nullptr), u""}) {
        size = sizeof data;
        EXPECT_EQ(static_cast<win::LSTATUS>(win::ERROR_FILE_NOT_FOUND),
                  win::RegGetValueW(win::HKEY_LOCAL_MACHINE, kKey, name, win::RRF_RT_ANY, nullptr,
                                    &data, &size));
    }
}

}  // namespace
