// zef::unique_resource and its named owners on the simulated machine: ownership moves with the
// owner, release() gives it up without closing, and every way an owner closes keeps the
// thread's last error.
#include "zef/rtl/unique_resource.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "win/win.h"
#include "winsim/sim.h"

namespace {

constexpr char16_t kFirst[] = u"C:\\Data\\first.bin";
constexpr char16_t kSecond[] = u"C:\\Data\\second.bin";

class UniqueResourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        winsim::PutFile(std::u16string(kFirst), {1});
        winsim::PutFile(std::u16string(kSecond), {2});
    }

    static win::HANDLE Open(const char16_t* path) {
        return win::CreateFileW(path, win::GENERIC_READ, win::FILE_SHARE_READ, nullptr,
                                win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    winsim::ScopedMachine machine;
};

TEST_F(UniqueResourceTest, OwnershipMovesWithTheOwnerAndReleaseGivesItUp) {
    zef::unique_file_handle first(Open(kFirst));
    ASSERT_TRUE(first);
    const win::HANDLE handle = first.get();

    zef::unique_file_handle moved(std::move(first));
    EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): a moved-from owner is empty
    EXPECT_EQ(moved.get(), handle);
    EXPECT_EQ(winsim::OpenHandleCount(), 1u);

    // Assignment closes what the target held before taking the other's handle.
    zef::unique_file_handle second(Open(kSecond));
    ASSERT_TRUE(second);
    second = std::move(moved);
    EXPECT_EQ(second.get(), handle);
    EXPECT_EQ(winsim::OpenHandleCount(), 1u);

    const win::HANDLE released = second.release();
    EXPECT_EQ(released, handle);
    EXPECT_FALSE(second);
    second.reset();
    EXPECT_EQ(winsim::OpenHandleCount(), 1u) << "release() must not close";
    EXPECT_TRUE(win::CloseHandle(released));
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);

    // The COM task memory owner frees exactly once, wherever the text ends up.
    zef::unique_cotaskmem_string text;
    ASSERT_EQ(win::SHGetKnownFolderPath(win::FOLDERID_Windows, 0, nullptr, text.put()), 0);
    zef::unique_cotaskmem_string kept(std::move(text));
    EXPECT_EQ(winsim::GetHeapStats().coTaskMemLiveBlocks, 1u);
    kept = zef::unique_cotaskmem_string();
    EXPECT_EQ(winsim::GetHeapStats().coTaskMemLiveBlocks, 0u);
    EXPECT_EQ(winsim::GetHeapStats().coTaskMemInvalidFrees, 0u);
}

// Cleanup runs between a failing call and the caller's GetLastError: a close that sets an error
// of its own (here an injected failure of CloseHandle) must not replace the caller's.
TEST_F(UniqueResourceTest, EveryWayOfClosingKeepsTheThreadsLastError) {
    constexpr win::DWORD kCallersError = 1234;
    constexpr win::DWORD kCloseError = 6;  // ERROR_INVALID_HANDLE
    struct Row {
        const char* name;
        std::function<void(zef::unique_file_handle&)> close;
    };
    const Row rows[] = {
        {"reset", [](zef::unique_file_handle& owner) { owner.reset(); }},
        {"reset to another handle",
         [](zef::unique_file_handle& owner) { owner.reset(win::INVALID_HANDLE_VALUE); }},
        {"move assignment",
         [](zef::unique_file_handle& owner) { owner = zef::unique_file_handle(); }},
        {"put", [](zef::unique_file_handle& owner) { static_cast<void>(owner.put()); }},
        {"destruction",
         [](zef::unique_file_handle& owner) { zef::unique_file_handle gone(std::move(owner)); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        zef::unique_file_handle owner(Open(kFirst));
        ASSERT_TRUE(owner);
        winsim::ScopedFault fault("CloseHandle", winsim::FaultMode::Once, 0, kCloseError);
        win::SetLastError(kCallersError);
        row.close(owner);
        EXPECT_EQ(win::GetLastError(), kCallersError);
        EXPECT_FALSE(owner);
    }
    // An empty owner makes no call at all.
    winsim::ScopedJournal journal;
    zef::unique_file_handle empty;
    empty.reset();
    EXPECT_TRUE(winsim::JournalCalls().empty());
}

}  // namespace
