// The Windows binding's late-bound functions, against Wine's real loader: a function the
// system has is called through, one it lacks fails only its own call with
// ERROR_CALL_NOT_IMPLEMENTED, and threads racing on the first call all get the same answer.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/windows/late_binding.h"

namespace {

using win::binding::LateBound;

TEST(LateBindingTest, CallsAFunctionTheSystemHas) {
    LateBound<DWORD(WINAPI*)()> processId(L"kernel32.dll", "GetCurrentProcessId");
    EXPECT_NE(processId.Get(), nullptr);
    EXPECT_EQ(processId.Call(DWORD{0}), ::GetCurrentProcessId());
}

TEST(LateBindingTest, MissingFunctionOrModuleFailsTheCallWithCallNotImplemented) {
    struct Case {
        const wchar_t* module;
        const char* name;
    };
    const Case cases[] = {
        {L"kernel32.dll", "QorvexNoSuchFunction"},
        {L"qorvex-no-such-module.dll", "GetCurrentProcessId"},
    };
    for (const Case& c : cases) {
        LateBound<BOOL(WINAPI*)(DWORD)> missing(c.module, c.name);
        ::SetLastError(0);
        EXPECT_EQ(missing.Call(BOOL{FALSE}, DWORD{7}), FALSE) << c.name;
        EXPECT_EQ(::GetLastError(), 120u) << c.name;
        // The answer is cached: asking again still fails, and does not start to succeed.
        EXPECT_EQ(missing.Get(), nullptr) << c.name;
    }
}

TEST(LateBindingTest, ThreadsRacingOnTheFirstCallAgree) {
    LateBound<DWORD(WINAPI*)()> processId(L"kernel32.dll", "GetCurrentProcessId");
    LateBound<DWORD(WINAPI*)()> missing(L"kernel32.dll", "QorvexNoSuchFunction");
    std::vector<std::thread> threads;
    std::vector<int> answers(8, 0);
    for (std::size_t i = 0; i < answers.size(); ++i) {
        threads.emplace_back([&, i] {
            const bool present = processId.Call(DWORD{0}) == ::GetCurrentProcessId();
            const bool absent = missing.Call(DWORD{0}) == 0 && ::GetLastError() == 120u;
            answers[i] = present && absent ? 1 : 0;
        });
    }
    for (auto& thread : threads) thread.join();
    for (int answer : answers) EXPECT_EQ(answer, 1);
}

}  // namespace
