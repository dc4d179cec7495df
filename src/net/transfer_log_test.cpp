#include "net/transfer_log.h"

#include <gtest/gtest.h>

namespace {

TEST(DescribeTransfer, TheUrlHowItEndedTheBytesAndTheTime) {
    struct Case {
        zv::TransferResult result;
        std::uint64_t bytes;
        const char* ended;
    };
    const Case cases[] = {
        {{true, 200, 0}, 352, "HTTP 200, 352 bytes in 12 ms"},
        {{false, 404, 0}, 0, "HTTP 404, 0 bytes in 12 ms"},
        {{false, 503, 0}, 0, "HTTP 503, 0 bytes in 12 ms"},
        {{false, 407, 0}, 0, "HTTP 407 (the proxy asks for credentials), 0 bytes in 12 ms"},
        {{false, 0, 12007}, 0, "error 12007 ERROR_WINHTTP_NAME_NOT_RESOLVED, 0 bytes in 12 ms"},
        {{false, 0, 12029}, 0, "error 12029 ERROR_WINHTTP_CANNOT_CONNECT, 0 bytes in 12 ms"},
        {{false, 0, 12175}, 0, "error 12175 ERROR_WINHTTP_SECURE_FAILURE, 0 bytes in 12 ms"},
        {{false, 200, 12030}, 1000, "HTTP 200, then error 12030 ERROR_WINHTTP_CONNECTION_ERROR, 1000 bytes in 12 ms"},
        {{false, 200, 223}, 1048577, "HTTP 200, then error 223 ERROR_FILE_TOO_LARGE, 1048577 bytes in 12 ms"},
        {{false, 0, 32}, 0, "error 32 ERROR_SHARING_VIOLATION, 0 bytes in 12 ms"},
        {{false, 0, 99999}, 0, "error 99999 unknown, 0 bytes in 12 ms"},
        {{false, 0, 0}, 0, "no response, 0 bytes in 12 ms"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::DescribeTransfer(L"https://h/launcher/manifest.json", c.result, c.bytes, 12),
                  std::string("GET https://h/launcher/manifest.json -> ") + c.ended);
    }
}

TEST(TransferErrorName, KnowsWinHttpsOwnCodes) {
    EXPECT_EQ(zv::TransferErrorName(12002), "ERROR_WINHTTP_TIMEOUT");
    EXPECT_EQ(zv::TransferErrorName(12157), "ERROR_WINHTTP_SECURE_CHANNEL_ERROR");
    EXPECT_EQ(zv::TransferErrorName(12152), "ERROR_WINHTTP_INVALID_SERVER_RESPONSE");
    EXPECT_EQ(zv::TransferErrorName(12003), "unknown");
}

}  // namespace
