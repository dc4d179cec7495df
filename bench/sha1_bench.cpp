// Sha1::Update throughput on 64 KiB buffers, the size the file digests read, for each compression
// engine beside OpenSSL's SHA-1 on the same buffers.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "integrity/sha1.h"
#include "integrity/sha1_engine.h"
#include "random_bytes.h"

namespace {

constexpr std::size_t kBufferSize = 65536;

const std::vector<std::uint8_t>& Buffer() {
    static const std::vector<std::uint8_t> buffer = zv::test::RandomBytes(kBufferSize, 1);
    return buffer;
}

void BM_Sha1Update(benchmark::State& state, zv::Sha1Engine engine) {
    if (!zv::Sha1EngineSupported(engine)) {
        state.SkipWithError("this processor lacks the instructions of the engine");
        return;
    }
    const auto& buffer = Buffer();
    zv::Sha1 hash(engine);
    for (auto _ : state) {
        hash.Update(buffer.data(), buffer.size());
    }
    benchmark::DoNotOptimize(hash.Final());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kBufferSize));
}

void BM_OpenSslSha1Update(benchmark::State& state) {
    const auto& buffer = Buffer();
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha1(), nullptr) != 1) {
        state.SkipWithError("OpenSSL has no SHA-1");
        return;
    }
    for (auto _ : state) {
        EVP_DigestUpdate(context.get(), buffer.data(), buffer.size());
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    benchmark::DoNotOptimize(digest);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kBufferSize));
}

BENCHMARK_CAPTURE(BM_Sha1Update, ShaExtensions, zv::Sha1Engine::ShaExtensions);
BENCHMARK(BM_OpenSslSha1Update);
BENCHMARK_CAPTURE(BM_Sha1Update, Portable, zv::Sha1Engine::Portable);

}  // namespace

BENCHMARK_MAIN();
