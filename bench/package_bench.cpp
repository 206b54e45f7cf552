// Start-up and update costs of the package files: loading a firmware-sized container,
// parsing a codeplug stream, and cataloguing a package folder.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "codeplug/cpg.h"
#include "pack/kxk_builder.h"
#include "pack/srec_writer.h"
#include "package/kxk_file.h"
#include "package/package_catalogue.h"

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
  }
  ~Fixtures() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  const std::filesystem::path& folder() const { return folder_; }

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
