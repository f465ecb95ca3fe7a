#pragma once

// The routes and checks that need the picture, media, font, archive and rich-text layers are
// built into libcalvoro_rooms.so with those layers and their codec libraries; the plain engine
// reaches them through this table, so that a run converting only tables, subtitles or text
// pages loads none of them. A process that links the rooms finds the table already loaded.

#include <filesystem>

#include "core/cancellation.h"
#include "core/conversion_job.h"
#include "core/supported_format.h"
#include "core/validation_status.h"
#include "engine/conversion_engine.h"
#include "engine/job_routing.h"

namespace calvoro::heavy {

using Path = std::filesystem::path;

struct ModuleTable {
    int version;
    // Runs a route of the font, archive, image and media operations.
    Path (*run)(const routing::Route& route, const ConversionJob& job, SupportedFormat target, const Path& outputDir,
                const ConversionEngine::ProgressHandler& progress, const CancellationToken& cancellation);
    // The check of a picture, media, font, RTF or DOCX output, or a folder of pages; throws
    // nothing of its own.
    ValidationStatus (*validate)(SupportedFormat target, const Path& output);
};

inline constexpr int moduleVersion = 1;

inline constexpr const char* moduleEntryName = "calvoro_rooms_module";

// Loads the table once; throws ConversionError with the loader's reason when it cannot.
const ModuleTable& module();

}  // namespace calvoro::heavy
