// Opening files through libsndfile from several threads at once.
//
// libsndfile keeps the reason of a failed open in one process-wide place, so two batch jobs failing at
// once could report each other's reasons. Opens go through here one at a time, and the reason is taken
// while no other open can overwrite it.
#pragma once

#include <sndfile.h>

#include <functional>
#include <string>

namespace g7231::app {

// Runs open(); when it returns null, reason receives libsndfile's text for the failure.
SNDFILE* open_sndfile(const std::function<SNDFILE*()>& open, std::string& reason);

}  // namespace g7231::app
