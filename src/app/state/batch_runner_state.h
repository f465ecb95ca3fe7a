#pragma once

// The running batch and a conversion's outcome; shared by the view model's sources only.

#include <deque>
#include <filesystem>
#include <map>
#include <set>
#include <stop_token>
#include <string>

#include "app/state/conversion_view_model.h"

namespace calvoro {

struct ConversionViewModel::Batch {
    std::deque<ConversionJob> queue;  // copies taken when the batch started, in the caller's order
    BatchLimits limits;
    std::map<FileCategory, int> running;
    int runningTotal = 0;
    std::set<Uuid> ids;
    std::stop_source stop;
    bool cancelled = false;
};

struct ConversionViewModel::Outcome {
    enum class Kind { converted, failed, cancelled };
    Kind kind = Kind::failed;
    std::filesystem::path output;
    std::string error;
};

}  // namespace calvoro
