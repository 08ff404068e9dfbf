// How fast an image read from "DAT.SRC" is judged. The check runs on the
// window's thread, so a full 256 KiB image must cost far less than a frame.
#include <benchmark/benchmark.h>

#include <memory>

#include "formats/logger_image.h"

static void BM_CheckDriveImageFull(benchmark::State& st) {
  auto image = std::make_unique<LoggerImage>();
  for (uint32_t i = 0; i < kImageCapacity; ++i) image->bytes[i] = static_cast<uint8_t>(i * 31);
  image->length = kImageCapacity;
  SealDriveImage(image->bytes.data(), kImageCapacity);
  for (auto _ : st) {
    benchmark::DoNotOptimize(CheckDriveImage(*image));
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * kImageCapacity);
}
BENCHMARK(BM_CheckDriveImageFull);

static void BM_CheckDriveImageSmall(benchmark::State& st) {
  auto image = std::make_unique<LoggerImage>();
  image->length = 640;
  SealDriveImage(image->bytes.data(), 640);
  for (auto _ : st) benchmark::DoNotOptimize(CheckDriveImage(*image));
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * 640);
}
BENCHMARK(BM_CheckDriveImageSmall);

BENCHMARK_MAIN();
