// Hashes a cached file with HashFileNow at the 256 KB block size, and the same bytes already in
// memory with libcrypto's MD5, best of 3 each in one run, and prints the throughput ratio.
// Usage: hash_bench [size in MiB, default 512]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <openssl/evp.h>

#include "share/file_hash.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Work>
double BestSeconds(Work work) {
  double best = 1e300;
  for (int run = 0; run < 3; ++run) {
    const auto start = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const long mib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 512;
  if (mib <= 0 || mib >= 2048) {
    std::fprintf(stderr, "size must be 1 to 2047 MiB\n");
    return 2;
  }
  const std::size_t size = static_cast<std::size_t>(mib) << 20;

  std::string bytes(size, '\0');
  std::mt19937_64 random(1);
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    const std::uint64_t value = random();
    std::copy_n(reinterpret_cast<const char*>(&value), 8, bytes.data() + i);
  }

  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("zorvex-hash-bench-" + std::to_string(::getpid()));
  {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  {
    // Warm the page cache.
    std::ifstream in(path, std::ios::binary);
    std::string block(1 << 20, '\0');
    while (in.read(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
  }

  std::string file_hash;
  const double file_seconds =
      BestSeconds([&] { file_hash = zorvex::HashFileNow(path, zorvex::kDefaultHashBlockSize); });

  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const double memory_seconds = BestSeconds(
      [&] { EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr); });

  std::error_code ignored;
  std::filesystem::remove(path, ignored);

  std::string memory_hash;
  for (unsigned int i = 0; i < length; ++i) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    memory_hash += kHex[digest[i] >> 4];
    memory_hash += kHex[digest[i] & 15];
  }
  if (file_hash != memory_hash) {
    std::fprintf(stderr, "digests differ: %s vs %s\n", file_hash.c_str(), memory_hash.c_str());
    return 1;
  }

  const double mb = static_cast<double>(size) / 1e6;
  const double ratio = memory_seconds / file_seconds;
  std::printf("file of %ld MiB, digest %s\n", mib, file_hash.c_str());
  std::printf("HashFileNow, 262144-byte blocks: %8.1f MB/s\n", mb / file_seconds);
  std::printf("libcrypto MD5 over memory:       %8.1f MB/s\n", mb / memory_seconds);
  std::printf("ratio: %.1f%% (target: at least 90%%) %s\n", ratio * 100,
              ratio >= 0.9 ? "met" : "NOT met");
  return 0;
}
