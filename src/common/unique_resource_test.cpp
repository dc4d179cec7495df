#include "common/unique_resource.h"

#include <gtest/gtest.h>

#include <vector>

#ifdef _WIN32
#include "common/unique_handle.h"
#endif

namespace {

std::vector<int> g_closed;

struct RecordClose {
    void operator()(int value) const { g_closed.push_back(value); }
};
int MinusOne() { return -1; }
using Owner = zv::UniqueResource<int, RecordClose, MinusOne>;

TEST(UniqueResource, ReleasesEachValueExactlyOnceAcrossMovesAndResets) {
    g_closed.clear();
    {
        Owner a(3);
        Owner b(std::move(a));
        EXPECT_FALSE(a.valid());
        Owner c(7);
        c = std::move(b);  // 7 released, 3 moves in
        EXPECT_EQ(g_closed, std::vector<int>{7});
        c.reset(9);  // 3 released
        Owner none;
        EXPECT_FALSE(none);
        const int kept = Owner(11).release();  // released by nobody
        EXPECT_EQ(kept, 11);
    }
    EXPECT_EQ(g_closed, (std::vector<int>{7, 3, 9}));
}

TEST(UniqueResource, PutReleasesWhatIsOwnedAndTakesWhatTheCallWrites) {
    g_closed.clear();
    const auto fill = [](int* out) { *out = 5; };
    {
        Owner owner(4);
        fill(owner.put());
        EXPECT_EQ(g_closed, std::vector<int>{4});
        EXPECT_EQ(owner.get(), 5);
    }
    EXPECT_EQ(g_closed, (std::vector<int>{4, 5}));
}

// A kind with two answers for "nothing" (-1 and 0 here, as null and INVALID_HANDLE_VALUE for
// kernel handles): whichever one an owner holds, it owns nothing and closes nothing.
bool PositiveOnly(int value) { return value > 0; }
using TwoNothings = zv::UniqueResource<int, RecordClose, MinusOne, PositiveOnly>;

TEST(UniqueResource, AKindWithTwoNothingsOwnsNeither) {
    g_closed.clear();
    for (const int nothing : {-1, 0}) {
        TwoNothings owner(nothing);
        EXPECT_FALSE(owner) << nothing;
        owner.reset(6);
        EXPECT_TRUE(owner);
    }
    EXPECT_EQ(g_closed, (std::vector<int>{6, 6}));
}

#ifdef _WIN32
TEST(UniqueHandle, EitherNothingIsNothingInEitherKernelHandleOwner) {
    // A failed CreateFileW's answer in the owner meant for null-answering calls, and the reverse.
    const zv::UniqueHandle invalid(INVALID_HANDLE_VALUE);
    const zv::UniqueFile null(nullptr);
    EXPECT_FALSE(invalid);
    EXPECT_FALSE(null);
}

TEST(UniqueHandle, ClosingKeepsTheErrorBeingReported) {
    zv::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    ::SetLastError(ERROR_SHARING_VIOLATION);
    event.reset();
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST(UniqueProcessInformation, ClosesBothHandlesOfAStartedProcess) {
    wchar_t line[] = L"cmd.exe /c exit 3";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    HANDLE process = nullptr;
    {
        zv::UniqueProcessInformation started;
        ASSERT_TRUE(::CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                     &startup, started.put()));
        ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), started.process(), ::GetCurrentProcess(), &process, 0,
                                      FALSE, DUPLICATE_SAME_ACCESS));
        ASSERT_NE(started.thread(), nullptr);
        EXPECT_EQ(::WaitForSingleObject(started.process(), 30000), WAIT_OBJECT_0);
        HANDLE stale = started.process();
        started.reset();
        DWORD flags = 0;
        EXPECT_FALSE(::GetHandleInformation(stale, &flags)) << "closed on reset";
        EXPECT_EQ(started.process(), nullptr);
    }
    DWORD code = 0;
    EXPECT_TRUE(::GetExitCodeProcess(process, &code));
    EXPECT_EQ(code, 3u);
    ::CloseHandle(process);
}

TEST(UniqueOwnedMutex, LetsGoOfTheMutexSoAnotherThreadCanTakeIt) {
    zv::UniqueOwnedMutex mutex(::CreateMutexW(nullptr, TRUE, nullptr));
    ASSERT_TRUE(mutex);
    HANDLE other = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), mutex.get(), ::GetCurrentProcess(), &other, 0, FALSE,
                                  DUPLICATE_SAME_ACCESS));
    const auto takenElsewhere = [other] {
        DWORD result = WAIT_FAILED;
        HANDLE thread = ::CreateThread(
            nullptr, 0,
            [](void* h) -> DWORD {
                const DWORD wait = ::WaitForSingleObject(static_cast<HANDLE>(h), 0);
                if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
                    ::ReleaseMutex(static_cast<HANDLE>(h));
                }
                return wait;
            },
            other, 0, nullptr);
        ::WaitForSingleObject(thread, 30000);
        ::GetExitCodeThread(thread, &result);
        ::CloseHandle(thread);
        return result == WAIT_OBJECT_0;
    };
    EXPECT_FALSE(takenElsewhere()) << "owned while the owner holds it";
    mutex.reset();
    EXPECT_TRUE(takenElsewhere()) << "released, not abandoned, when the owner lets go";
    ::CloseHandle(other);
}

TEST(UniqueHandle, FileOwnerTreatsInvalidHandleValueAsNothing) {
    zv::UniqueFile file(::CreateFileW(L"Z:\\no\\such\\folder\\file.bin", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(file);
}
#endif

}  // namespace
