// A full update (2 MiB firmware image, the default block, the personality with contacts)
// against the simulated radio in process. Besides the host time it reports what the run puts
// on the cable, and from that the time the update would take at the link's 57600 baud:
//   estimate   = wire bytes × 10 / baud + exchanges × latency + fixed waits
//   wire limit = image bytes × 10 / baud + fixed waits
// with a per-exchange latency of 1 ms (a low-latency converter) and 16 ms (the converter's
// default latency timer).
//   build-update/bench/update_bench --benchmark_min_time=3
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "commands/cmd_program.h"
#include "errors/error_text.h"
#include "exec/radio_manager.h"
#include "pack/demo_package.h"
#include "pack/image_builder.h"
#include "pack/kxk_builder.h"
#include "pack/pack_files.h"
#include "sim/sim_cable_driver.h"
#include "sim/sim_radio.h"

namespace {

using namespace orvik;

constexpr double kBaud = 57600.0;
constexpr double kBitsPerByte = 10.0;  // start, 8 data, stop
constexpr std::uint32_t kDynAddress = 0x820000;
constexpr std::uint32_t kDynSize = 0x1000;

// Counts what crosses the cable in each direction, passing every call on.
class CountingCable : public CableDriver {
 public:
  explicit CountingCable(CableDriver& inner) : inner_(inner) {}

  std::uint64_t sent = 0;
  std::uint64_t received = 0;

  FT_STATUS listDeviceCount(std::uint32_t& count) override { return inner_.listDeviceCount(count); }
  FT_STATUS listDescription(std::uint32_t index, CableDescription& description) override {
    return inner_.listDescription(index, description);
  }
  std::uint32_t lastError() override { return inner_.lastError(); }
  FT_STATUS open(int index, FT_HANDLE& handle) override { return inner_.open(index, handle); }
  FT_STATUS getComPortNumber(FT_HANDLE handle, std::int32_t& comPort) override {
    return inner_.getComPortNumber(handle, comPort);
  }
  FT_STATUS close(FT_HANDLE handle) override { return inner_.close(handle); }
  FT_STATUS setBaudRate(FT_HANDLE handle, std::uint32_t baud) override {
    return inner_.setBaudRate(handle, baud);
  }
  FT_STATUS setDataCharacteristics(FT_HANDLE handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                   std::uint8_t parity) override {
    return inner_.setDataCharacteristics(handle, wordLength, stopBits, parity);
  }
  FT_STATUS setFlowControl(FT_HANDLE handle, std::uint16_t flow, std::uint8_t xon,
                           std::uint8_t xoff) override {
    return inner_.setFlowControl(handle, flow, xon, xoff);
  }
  FT_STATUS setTimeouts(FT_HANDLE handle, std::uint32_t readMs, std::uint32_t writeMs) override {
    return inner_.setTimeouts(handle, readMs, writeMs);
  }
  FT_STATUS purge(FT_HANDLE handle, std::uint32_t mask) override {
    return inner_.purge(handle, mask);
  }
  FT_STATUS read(FT_HANDLE handle, std::uint8_t* buffer, std::uint32_t toRead,
                 std::uint32_t& got) override {
    const FT_STATUS status = inner_.read(handle, buffer, toRead, got);
    received += got;
    return status;
  }
  FT_STATUS write(FT_HANDLE handle, const std::uint8_t* buffer, std::uint32_t toWrite,
                  std::uint32_t& written) override {
    const FT_STATUS status = inner_.write(handle, buffer, toWrite, written);
    sent += written;
    return status;
  }

 private:
  CableDriver& inner_;
};

double cpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The demo package with its firmware replaced by an image of (nearly) 2 MiB, for the whole run.
class Package {
 public:
  Package() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orvik-update-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::abort();
    }
    folder_ = pattern;
    std::ostringstream out;
    std::string error;
    if (!writeDemoPackage(folder_, folder_ / "setup.dat", out, error)) {
      std::cerr << error << "\n";
      std::abort();
    }
    std::vector<std::uint8_t> binary(kMaxImageLength - 64);
    std::uint32_t state = 2024;
    for (auto& b : binary) {
      state = state * 1664525u + 1013904223u;
      b = static_cast<std::uint8_t>(state >> 24);
    }
    ImageOptions options;
    options.tableEntries = {0x00010000};
    options.sectionBytes = kMaxSectionBytes;
    const auto image = buildFirmwareImage(binary, options, error);
    KxkContents firmware;
    firmware.type = kKxkRegionFile;
    firmware.version = PackVersion{'R', 1, 3, 0};
    firmware.internalName = "LACR_FW";
    firmware.regionName = "LACR";
    if (image) {
      imageBytes_ = image->size();
      firmware.body = *image;
    }
    const auto bytes = buildKxkFile(firmware, error);
    if (!image || !bytes || !writePackFile(firmwareFile(), *bytes, error)) {
      std::cerr << error << "\n";
      std::abort();
    }
  }
  ~Package() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::filesystem::path firmwareFile() const { return folder_ / "fw_2mib.kxk"; }
  std::filesystem::path addressMapFile() const { return folder_ / "addr_r010400.kxk"; }
  std::filesystem::path codeplugFile() const { return folder_ / "la26ckn9ar1_def_r010400.kxk"; }
  std::filesystem::path backupFolder() const { return folder_ / "backup"; }
  std::size_t imageBytes() const { return imageBytes_; }

 private:
  std::filesystem::path folder_;
  std::size_t imageBytes_ = 0;
};

std::vector<std::vector<std::uint8_t>> contacts() {
  std::vector<std::vector<std::uint8_t>> records;
  for (std::uint8_t i = 0; i < 20; ++i) {
    std::vector<std::uint8_t> record(32, i);
    record[7] = static_cast<std::uint8_t>(i % 4 + 1);
    records.push_back(record);
  }
  return records;
}

void BM_FullUpdate2MiB(benchmark::State& state) {
  static const Package package;
  std::uint64_t sent = 0;
  std::uint64_t received = 0;
  std::size_t exchanges = 0;
  double waits = 0;
  double cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    SimRadio radio;
    radio.setContacts(contacts());
    VirtualClock clock;
    SimCableDriver sim(radio, clock);
    CountingCable cable(sim);
    RadioManager manager(cable, clock);
    RadioInfo& info = *manager.radioInfo();
    if (!manager.connect(true) || !info.readIdentity()) {
      state.SkipWithError("no radio");
      return;
    }
    radio.clearLog();
    cable.sent = cable.received = 0;
    removeErrors(ErrorCategory::OK);
    CmdProgram command;
    command.radioInfo = &info;
    command.setFirmwareFile(package.firmwareFile());
    command.setAddressMapFile(package.addressMapFile());
    command.setCodeplugFile(package.codeplugFile());
    command.requestFirmwareSteps();
    command.requestCodeplugStep();
    command.requestPersonalitySteps();
    const PersonalityBlock blocks[] = {{DYN, kDynAddress, kDynSize}};
    command.setPersonalityBlocks(blocks);
    command.backupFolder = package.backupFolder();
    state.ResumeTiming();

    const double before = cpuSeconds();
    const bool ok = command.execute();
    cpu += cpuSeconds() - before;

    state.PauseTiming();
    if (!ok) {
      state.SkipWithError(joinedErrorText().c_str());
      return;
    }
    sent = cable.sent;
    received = cable.received;
    exchanges = radio.requests().size();
    waits = 0;
    for (const auto sleep : clock.sleeps()) {
      waits += static_cast<double>(sleep.count()) / 1000.0;
    }
    state.ResumeTiming();
  }

  const double wire = static_cast<double>(sent + received) * kBitsPerByte / kBaud;
  const double limit = static_cast<double>(package.imageBytes()) * kBitsPerByte / kBaud + waits;
  const double iterations = static_cast<double>(state.iterations());
  const double mib = static_cast<double>(package.imageBytes()) / (1024.0 * 1024.0);
  state.counters["image_bytes"] = static_cast<double>(package.imageBytes());
  state.counters["wire_bytes_to_radio"] = static_cast<double>(sent);
  state.counters["wire_bytes_from_radio"] = static_cast<double>(received);
  state.counters["exchanges"] = static_cast<double>(exchanges);
  state.counters["fixed_waits_s"] = waits;
  state.counters["est_s_1ms"] = wire + static_cast<double>(exchanges) * 0.001 + waits;
  state.counters["est_s_16ms"] = wire + static_cast<double>(exchanges) * 0.016 + waits;
  state.counters["wire_limit_s"] = limit;
  state.counters["cpu_ms_per_MiB"] = cpu / iterations / mib * 1000.0;
  state.SetBytesProcessed(static_cast<std::int64_t>(package.imageBytes()) * state.iterations());
}
BENCHMARK(BM_FullUpdate2MiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
