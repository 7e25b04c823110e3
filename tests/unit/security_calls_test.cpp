// Thread identity calls as Windows answers them on a thread that impersonates nobody, as a table
// of facts: OpenThreadToken fails with ERROR_NO_TOKEN whatever OpenAsSelf says and RevertToSelf
// succeeds (dlls/advapi32/tests/security.c), the pseudo handles (Microsoft's documentation of
// GetCurrentThread / GetCurrentProcess: they need not be closed, and closing them does nothing),
// and what is no token is refused. Every row runs on the simulated machine and, cross built,
// against the real system under Wine.
#include <win/kernel.h>
#include <win/security.h>
#include <win/system_info.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <thread>

namespace {

constexpr win::DWORD kUntouched = 0xDEADBEEF;

TEST(SecurityCallsTest, CallsOfAThreadThatImpersonatesNobody) {
    const auto notAHandle = reinterpret_cast<win::HANDLE>(std::uintptr_t{0xdead0});
    struct Row {
        const char* what;
        std::function<win::BOOL()> call;
        bool succeeds;
        win::DWORD error;  // when it fails
    };
    win::HANDLE token = notAHandle;
    const Row rows[] = {
        {"OpenThreadToken, OpenAsSelf",
         [&] {
             return win::OpenThreadToken(win::GetCurrentThread(), win::TOKEN_QUERY, win::TRUE,
                                         &token);
         },
         false, win::ERROR_NO_TOKEN},
        {"OpenThreadToken, as the thread",
         [&] {
             return win::OpenThreadToken(
                 win::GetCurrentThread(),
                 win::TOKEN_DUPLICATE | win::TOKEN_IMPERSONATE | win::TOKEN_QUERY, win::FALSE,
                 &token);
         },
         false, win::ERROR_NO_TOKEN},
        {"RevertToSelf changes nothing and is no error", [] { return win::RevertToSelf(); }, true,
         0},
        {"impersonating a handle that is no token",
         [&] { return win::ImpersonateLoggedOnUser(notAHandle); }, false,
         win::ERROR_INVALID_HANDLE},
        {"closing a handle that is none", [&] { return win::CloseHandle(notAHandle); }, false,
         win::ERROR_INVALID_HANDLE},
        {"closing the current thread's pseudo handle",
         [] { return win::CloseHandle(win::GetCurrentThread()); }, true, 0},
        {"closing the current process's pseudo handle",
         [] { return win::CloseHandle(win::GetCurrentProcess()); }, true, 0},
    };
    auto check = [&] {
        EXPECT_EQ(reinterpret_cast<win::HANDLE>(std::intptr_t{-2}), win::GetCurrentThread());
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what);
            win::SetLastError(kUntouched);
            const win::BOOL result = row.call();
            if (row.succeeds) {
                EXPECT_TRUE(result);
            } else {
                EXPECT_FALSE(result);
                EXPECT_EQ(row.error, win::GetLastError());
            }
        }
        // The failed opens left no token behind.
        EXPECT_EQ(nullptr, token);
        token = notAHandle;
    };
    check();
    std::thread(check).join();
}

}  // namespace
