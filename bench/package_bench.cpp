// Start-up and update costs of the package files: loading a firmware-sized container,
// parsing a codeplug stream, cataloguing a package folder, and what checking a signed package
// adds next to the containers' own MD5 check.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "codeplug/cpg.h"
#include "pack/kxk_builder.h"
#include "pack/package_signing.h"
#include "pack/srec_writer.h"
#include "package/kxk_file.h"
#include "package/md5.h"
#include "package/minisign.h"
#include "package/package_catalogue.h"
#include "package/signed_package.h"

namespace {

using namespace orvik;

std::vector<std::uint8_t> filler(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  std::uint32_t state = 12345;
  for (auto& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

// A folder of fixtures that lives for the whole run.
class Fixtures {
 public:
  Fixtures() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvik-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::abort();
    }
    folder_ = pattern;
    std::filesystem::create_directory(folder_ / "package");
    writeContainer(folder_ / "big.kxk", "FW", filler(2 * 1024 * 1024));
    // A package of 50 files: containers of a few KiB like address maps and codeplug blocks,
    // and a configuration file that the scan has to look at and skip.
    for (int i = 0; i < 49; ++i) {
      writeContainer(folder_ / "package" / formatText("file%02d.kxk", i), formatText("NAME%02d", i),
                     filler(4096));
    }
    std::ofstream(folder_ / "package" / "config.xml") << "<not a container/>";
    // A signed package of a 2 MiB firmware container and its configuration.
    std::filesystem::create_directory(folder_ / "signed");
    std::filesystem::copy_file(folder_ / "big.kxk", folder_ / "signed" / "big.kxk");
    std::ofstream(folder_ / "signed" / "config.xml") << "<not a container/>";
    const auto key = generateSecretKey();
    std::ofstream(folder_ / "signing.key") << formatSecretKey(*key);
    std::ostringstream out;
    std::string error;
    if (!signPackageFolder(folder_ / "signed", folder_ / "signing.key", "bench", out, error)) {
      std::abort();
    }
    trusted_.push_back(TrustedKey{publicKeyOf(*key), folder_ / "signing.pub"});
  }
  ~Fixtures() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  const std::filesystem::path& folder() const { return folder_; }
  const std::vector<TrustedKey>& trusted() const { return trusted_; }

 private:
  static void writeContainer(const std::filesystem::path& path, const std::string& name,
                             std::vector<std::uint8_t> body) {
    KxkContents contents;
    contents.type = kKxkRegionFile;
    contents.internalName = name;
    contents.regionName = "LACR";
    contents.body = std::move(body);
    std::string error;
    const auto bytes = buildKxkFile(contents, error);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes->data()), static_cast<long>(bytes->size()));
  }

  std::filesystem::path folder_;
  std::vector<TrustedKey> trusted_;
};

Fixtures& fixtures() {
  static Fixtures f;
  return f;
}

void BM_LoadKxkContainer2MiB(benchmark::State& state) {
  const std::filesystem::path path = fixtures().folder() / "big.kxk";
  const auto size = static_cast<std::int64_t>(std::filesystem::file_size(path));
  KxkFile file;  // reused between loads, as the update reuses its buffer
  for (auto _ : state) {
    if (!loadKxkFile(path, file)) {
      state.SkipWithError("load failed");
    }
    benchmark::DoNotOptimize(file.payload.data());
  }
  state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_LoadKxkContainer2MiB)->Unit(benchmark::kMillisecond);

// The containers' own check: MD5 of the same bytes, in memory.
void BM_Md5Of2MiB(benchmark::State& state) {
  const std::vector<std::uint8_t> bytes = filler(2 * 1024 * 1024);
  for (auto _ : state) {
    benchmark::DoNotOptimize(md5Digest(bytes));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_Md5Of2MiB)->Unit(benchmark::kMillisecond);

void BM_Sha256Of2MiB(benchmark::State& state) {
  const std::vector<std::uint8_t> bytes = filler(2 * 1024 * 1024);
  for (auto _ : state) {
    benchmark::DoNotOptimize(sha256Digest(bytes));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_Sha256Of2MiB)->Unit(benchmark::kMillisecond);

// What a start adds with a trusted key: every file read once from disk and hashed, the
// manifest's signature and its trusted comment's verified, the folder listed.
void BM_VerifySignedPackage2MiB(benchmark::State& state) {
  const std::filesystem::path folder = fixtures().folder() / "signed";
  for (auto _ : state) {
    const PackageTrust trust = checkPackage(folder, fixtures().trusted());
    if (trust.state != PackageTrust::State::Verified) {
      state.SkipWithError(trust.failure.c_str());
    }
    benchmark::DoNotOptimize(trust.files.size());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(
                                                   std::filesystem::file_size(folder / "big.kxk")));
}
BENCHMARK(BM_VerifySignedPackage2MiB)->Unit(benchmark::kMillisecond);

void BM_ParseCodeplugStream1MiB(benchmark::State& state) {
  // The DEF block written over and over until the text reaches 1 MiB.
  SrecOptions options;
  options.startAddress = 0x844000;
  std::string error;
  const std::string block = *writeSrec(filler(0x10000), options, error);
  std::string text;
  while (text.size() < 1024 * 1024) {
    text += block;
  }
  Cpg cpg;
  cpg.parseAddressMap("DEF_BLK ADDRESS = 844000 BSIZE = 10000");
  for (auto _ : state) {
    if (!cpg.parseCodeplugStream(text)) {
      state.SkipWithError("parse failed");
    }
    benchmark::DoNotOptimize(cpg.block(DEF).data.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ParseCodeplugStream1MiB)->Unit(benchmark::kMillisecond);

void BM_ScanPackage50Files(benchmark::State& state) {
  const std::string pattern = (fixtures().folder() / "package" / "config.xml").string() + "/../*.*";
  PackageCatalogue catalogue;
  for (auto _ : state) {
    if (scanPackage(pattern, catalogue) != 49) {
      state.SkipWithError("scan missed files");
    }
  }
}
BENCHMARK(BM_ScanPackage50Files)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
