#pragma once

// The loopback test servers that ctest starts for test programs added with TEST_SERVER
// (tests/server/test_server.sh): their addresses, the folder they serve, the routes and the
// request logs. Windows test programs only.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace zv::test {

class TestServer {
public:
    // Finds the servers through ZV_TEST_SERVER_DIR; throws std::runtime_error when that is unset
    // or they are not running.
    TestServer();

    // https://localhost:PORT + path from the trusted server, and the same over plain HTTP.
    [[nodiscard]] std::wstring Url(std::string_view path) const;
    [[nodiscard]] std::wstring PlainUrl(std::string_view path) const;
    // https://localhost:PORT + path from the server whose certificate nothing trusts.
    [[nodiscard]] std::wstring UntrustedUrl(std::string_view path) const;
    // https://localhost:PORT + path from the trusted server that offers only the TLS versions
    // named as test_server.sh names them ("1.0-1.1" or "1.2").
    [[nodiscard]] std::wstring TlsOnlyUrl(std::string_view versions, std::string_view path) const;

    // The Windows path of a file in the served folder, and writing one there.
    [[nodiscard]] std::wstring FilePath(std::string_view relative) const;
    void PutFile(std::string_view relative, std::string_view bytes) const;

    // Replaces all routes at once: an object from URL path to route (see tests/server/README.md).
    void SetRoutes(const nlohmann::json& routes) const;

    // The requests each server has logged so far, oldest first.
    [[nodiscard]] std::vector<nlohmann::json> Requests() const;
    // The body bytes every answer for path has sent so far: ranges and cut answers included.
    [[nodiscard]] std::uint64_t BytesSent(std::string_view path) const;
    [[nodiscard]] std::vector<nlohmann::json> UntrustedRequests() const;
    [[nodiscard]] std::vector<nlohmann::json> TlsOnlyRequests(std::string_view versions) const;

private:
    std::wstring dir_;
    std::uint16_t httpsPort_ = 0;
    std::uint16_t httpPort_ = 0;
    std::uint16_t untrustedPort_ = 0;
};

}  // namespace zv::test
