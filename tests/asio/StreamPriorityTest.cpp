// The streaming thread's multimedia class: joined where the functions exist
// and agree, time-critical otherwise, and left again.
#include "asio/StreamPriority.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <thread>

namespace {

int g_sets = 0;
int g_reverts = 0;
HANDLE g_revertedTask = nullptr;
HANDLE const kFakeTask = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5150));

HANDLE WINAPI Refuse(LPCWSTR, LPDWORD) {
    ++g_sets;
    return nullptr;
}
HANDLE WINAPI Accept(LPCWSTR task, LPDWORD) {
    ++g_sets;
    return std::wcscmp(task, L"Pro Audio") == 0 ? kFakeTask : nullptr;
}
BOOL WINAPI Revert(HANDLE task) {
    ++g_reverts;
    g_revertedTask = task;
    return TRUE;
}

// Runs on a thread of its own at normal priority, as a fresh streaming thread.
template <typename Body>
void OnFreshThread(Body body) {
    std::thread thread([&] {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
        body();
    });
    thread.join();
}

}  // namespace

TEST(StreamPriority, WithoutTheClassTheThreadIsTimeCriticalAndNothingIsHeld) {
    OnFreshThread([] {
        StreamPriority priority;
        priority.Join(L"velmor-no-such-module.dll");
        EXPECT_FALSE(priority.InClass());
        EXPECT_EQ(THREAD_PRIORITY_TIME_CRITICAL, GetThreadPriority(GetCurrentThread()));
        priority.Leave();

        // A module without the functions.
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
        priority.Join(L"kernel32.dll");
        EXPECT_FALSE(priority.InClass());
        EXPECT_EQ(THREAD_PRIORITY_TIME_CRITICAL, GetThreadPriority(GetCurrentThread()));

        // The system refuses the class.
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
        g_sets = g_reverts = 0;
        priority.JoinWith(&Refuse, &Revert);
        EXPECT_EQ(1, g_sets);
        EXPECT_FALSE(priority.InClass());
        EXPECT_EQ(THREAD_PRIORITY_TIME_CRITICAL, GetThreadPriority(GetCurrentThread()));
        priority.Leave();
        EXPECT_EQ(0, g_reverts);  // nothing joined, nothing to leave
    });
}

TEST(StreamPriority, AJoinedClassIsLeftOnceWithItsOwnTask) {
    OnFreshThread([] {
        StreamPriority priority;
        g_sets = g_reverts = 0;
        g_revertedTask = nullptr;
        priority.JoinWith(&Accept, &Revert);
        EXPECT_TRUE(priority.InClass());
        priority.Leave();
        EXPECT_FALSE(priority.InClass());
        EXPECT_EQ(1, g_reverts);
        EXPECT_EQ(kFakeTask, g_revertedTask);
        priority.Leave();  // a second stop leaves nothing twice
        EXPECT_EQ(1, g_reverts);
        EXPECT_EQ(THREAD_PRIORITY_TIME_CRITICAL, GetThreadPriority(GetCurrentThread()));

        // Joining again (the next start) leaves the earlier task first.
        priority.JoinWith(&Accept, &Revert);
        priority.JoinWith(&Accept, &Revert);
        EXPECT_EQ(2, g_reverts);
        priority.Leave();
        EXPECT_EQ(3, g_reverts);
    });
}

TEST(StreamPriority, TheSystemModuleIsLetGoAtTheLeave) {
    OnFreshThread([] {
        const bool loadedBefore = GetModuleHandleW(L"avrt.dll") != nullptr;
        StreamPriority priority;
        priority.Join();
        // Wine and Windows both have the class functions; whether joined or not, the leave lets go.
        priority.Leave();
        EXPECT_FALSE(priority.InClass());
        if (!loadedBefore) {
            EXPECT_EQ(nullptr, GetModuleHandleW(L"avrt.dll"));
        }
    });
}
