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

#ifdef _WIN32
TEST(UniqueHandle, ClosingKeepsTheErrorBeingReported) {
    zv::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    ::SetLastError(ERROR_SHARING_VIOLATION);
    event.reset();
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST(UniqueHandle, FileOwnerTreatsInvalidHandleValueAsNothing) {
    zv::UniqueFile file(::CreateFileW(L"Z:\\no\\such\\folder\\file.bin", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(file);
}
#endif

}  // namespace
