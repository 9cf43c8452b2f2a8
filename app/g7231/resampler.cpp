#include "app/g7231/resampler.h"

#include <soxr.h>

#include <string>

#include "app/g7231/console.h"

namespace g7231::app {
namespace {

constexpr std::size_t kChunk = 4096;

void check(soxr_error_t error) {
  if (error != nullptr) throw Failure(std::string("sample-rate conversion failed: ") + error);
}

}  // namespace

Resampler::Resampler(double in_rate, double out_rate) {
  soxr_error_t error = nullptr;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_ = soxr_create(in_rate, out_rate, 1, &error, &io, &quality, nullptr);
  if (error != nullptr) {
    soxr_delete(soxr_);
    soxr_ = nullptr;
    check(error);
  }
}

Resampler::~Resampler() { soxr_delete(soxr_); }

void Resampler::process(std::span<const float> in, std::vector<float>& out) {
  if (in.empty()) return;  // a null block would end the input
  std::size_t used = 0;
  // Run until all input is taken and the converter has nothing more to give for it.
  for (;;) {
    const std::size_t base = out.size();
    out.resize(base + kChunk);
    std::size_t in_done = 0;
    std::size_t out_done = 0;
    check(soxr_process(soxr_, in.data() + used, in.size() - used, &in_done, out.data() + base, kChunk, &out_done));
    out.resize(base + out_done);
    used += in_done;
    if (used == in.size() && out_done < kChunk) return;
  }
}

void Resampler::flush(std::vector<float>& out) {
  for (;;) {
    const std::size_t base = out.size();
    out.resize(base + kChunk);
    std::size_t out_done = 0;
    check(soxr_process(soxr_, nullptr, 0, nullptr, out.data() + base, kChunk, &out_done));
    out.resize(base + out_done);
    if (out_done == 0) return;
  }
}

}  // namespace g7231::app
