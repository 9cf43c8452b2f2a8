#include "app/g7231/sndfile_open.h"

#include <mutex>

namespace g7231::app {

SNDFILE* open_sndfile(const std::function<SNDFILE*()>& open, std::string& reason) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  SNDFILE* file = open();
  if (file == nullptr) reason = sf_strerror(nullptr);
  return file;
}

}  // namespace g7231::app
