// Sample-rate conversion of one channel with libsoxr at high quality, fed in blocks.
#pragma once

#include <span>
#include <vector>

struct soxr;

namespace g7231::app {

class Resampler {
 public:
  // Throws Failure with libsoxr's reason when the rates cannot be converted.
  Resampler(double in_rate, double out_rate);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Converts a block, appending whatever output is ready to out.
  void process(std::span<const float> in, std::vector<float>& out);
  // Drains the converter at the end of the input, appending the rest of the output.
  void flush(std::vector<float>& out);

 private:
  soxr* soxr_ = nullptr;
};

}  // namespace g7231::app
