#include "test_server.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "build_tree.h"
#include "file_bytes.h"

namespace zv::test {

namespace {

std::wstring Widen(std::string_view text) { return std::wstring(text.begin(), text.end()); }

std::uint16_t Port(const std::filesystem::path& readyFile, const char* key) {
    const auto ready = nlohmann::json::parse(ReadFileText(readyFile));
    return ready.at(key).get<std::uint16_t>();
}

// The log's entries of one kind: requests (with "path"), or what answers sent (with "sent_for").
std::vector<nlohmann::json> ReadLog(const std::filesystem::path& path, const char* kind = "path") {
    std::vector<nlohmann::json> entries;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            nlohmann::json entry = nlohmann::json::parse(line);
            if (entry.contains(kind)) {
                entries.push_back(std::move(entry));
            }
        }
    }
    return entries;
}

}  // namespace

TestServer::TestServer() {
    const char* dir = std::getenv("ZV_TEST_SERVER_DIR");
    if (dir == nullptr || *dir == '\0') {
        throw std::runtime_error("ZV_TEST_SERVER_DIR is not set: run this test through ctest");
    }
    dir_ = HostPath(dir).wstring();
    const std::filesystem::path base(dir_);
    httpsPort_ = Port(base / L"ready.json", "https_port");
    httpPort_ = Port(base / L"ready.json", "http_port");
    untrustedPort_ = Port(base / L"untrusted" / L"ready.json", "https_port");
}

std::wstring TestServer::Url(std::string_view path) const {
    return L"https://localhost:" + std::to_wstring(httpsPort_) + Widen(path);
}

std::wstring TestServer::PlainUrl(std::string_view path) const {
    return L"http://localhost:" + std::to_wstring(httpPort_) + Widen(path);
}

std::wstring TestServer::UntrustedUrl(std::string_view path) const {
    return L"https://localhost:" + std::to_wstring(untrustedPort_) + Widen(path);
}

std::wstring TestServer::TlsOnlyUrl(std::string_view versions, std::string_view path) const {
    const auto ready = std::filesystem::path(dir_) / (L"tls-" + Widen(versions)) / L"ready.json";
    return L"https://localhost:" + std::to_wstring(Port(ready, "https_port")) + Widen(path);
}

std::wstring TestServer::FilePath(std::string_view relative) const {
    return (std::filesystem::path(dir_) / L"root" / Widen(relative)).make_preferred().wstring();
}

void TestServer::PutFile(std::string_view relative, std::string_view bytes) const {
    const std::filesystem::path path(FilePath(relative));
    std::filesystem::create_directories(path.parent_path());
    WriteFileBytes(path, bytes);
}

void TestServer::SetRoutes(const nlohmann::json& routes) const {
    // The server reads the file on every request: replace it whole, never write it in place.
    const std::filesystem::path base(dir_);
    const auto temporary = base / L"routes.json.tmp";
    WriteFileBytes(temporary, routes.dump());
    std::filesystem::rename(temporary, base / L"routes.json");
}

std::vector<nlohmann::json> TestServer::Requests() const { return ReadLog(std::filesystem::path(dir_) / L"log.jsonl"); }

std::uint64_t TestServer::BytesSent(std::string_view path) const {
    std::uint64_t bytes = 0;
    for (const nlohmann::json& entry : ReadLog(std::filesystem::path(dir_) / L"log.jsonl", "sent_for")) {
        if (entry["sent_for"] == path) {
            bytes += entry["bytes"].get<std::uint64_t>();
        }
    }
    return bytes;
}

std::vector<nlohmann::json> TestServer::UntrustedRequests() const {
    return ReadLog(std::filesystem::path(dir_) / L"untrusted" / L"log.jsonl");
}

std::vector<nlohmann::json> TestServer::TlsOnlyRequests(std::string_view versions) const {
    return ReadLog(std::filesystem::path(dir_) / (L"tls-" + Widen(versions)) / L"log.jsonl");
}

}  // namespace zv::test
