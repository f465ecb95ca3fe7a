// The view model's job list: adding, filtering, selecting, retargeting and removing jobs, and
// the output folders.
#include <algorithm>
#include <unordered_set>

#include "app/state/conversion_view_model.h"
#include "core/file_detector.h"
#include "core/folder_access.h"
#include "core/settings_store.h"
#include "core/source_file.h"
#include "core/text_util.h"
#include "core/uniform_type.h"

namespace calvoro {
namespace {

const std::string kFiles = "Files";
const std::string kSettings = "Settings";

bool contains(const std::vector<SupportedFormat>& list, SupportedFormat format) {
    return std::find(list.begin(), list.end(), format) != list.end();
}

}  // namespace

int ConversionViewModel::indexOf(const Uuid& id) const {
    for (size_t i = 0; i < jobs_.size(); ++i)
        if (jobs_[i].id == id) return static_cast<int>(i);
    return -1;
}

void ConversionViewModel::notifyJobUpdated(int row) {
    search_.jobsChanged();
    emit jobUpdated(row);
    emit jobsChanged();
}

void ConversionViewModel::notifyJobsStructure() {
    search_.jobsChanged();
    emit jobsStructureChanged();
    emit jobsChanged();
}

void ConversionViewModel::setWebEngineWarmUp(std::function<void()> warmUp) {
    webEngineWarmUp_ = std::move(warmUp);
    webEngineWarmUpCalled_ = false;
    for (const auto& job : jobs_) warmWebEngineIfNeeded(job);
}

void ConversionViewModel::warmWebEngineIfNeeded(const ConversionJob& job) {
    // Markdown is laid out as text, without the engine.
    if (webEngineWarmUpCalled_ || !webEngineWarmUp_ || job.targetFormat != SupportedFormat::pdf) return;
    if (job.detectedFormat != SupportedFormat::html) return;
    webEngineWarmUpCalled_ = true;
    webEngineWarmUp_();
}

void ConversionViewModel::addFiles(const std::vector<Path>& urls) {
    std::vector<std::string> skipped;
    const size_t before = jobs_.size();
    // Plain path equality, as the list holds them; a set keeps long lists fast.
    std::unordered_set<std::string> sources;
    sources.reserve(jobs_.size() + urls.size());
    for (const auto& j : jobs_) sources.insert(j.sourceURL.native());
    for (const Path& url : urls) {
        // No sandbox here: a file's access needs no starting or stopping.
        const std::string name = lastPathComponent(url);
        auto format = FileDetector::detect(url);
        if (!format) {
            skipped.push_back(name);
            logger_.warning("Unsupported file skipped: " + name, kFiles);
            continue;
        }
        // A FIFO or a device behind a file's name would hold its conversion for ever.
        if (auto refused = SourceFile::refusal(url)) {
            skipped.push_back(name);
            logger_.warning(refused->what(), kFiles);
            continue;
        }
        ConversionJob job(url, name, FileDetector::fileSize(url), *format);
        if (!sources.insert(url.native()).second) {
            logger_.warning("Skipping duplicate: " + name, kFiles);
            continue;
        }
        job.targetFormat = defaultTarget(job);
        if (!job.targetFormat) {
            const auto possible = format->possibleConversions();
            if (!possible.empty()) job.targetFormat = possible.front();
        }
        job.imageQuality = imageQuality_;
        if (imageMaxEdge_ >= 1) job.imageMaxEdge = imageMaxEdge_;
        job.stripMetadata = stripMetadata_;
        job.audioBitrate = audioBitrate_;
        jobs_.push_back(std::move(job));
        logger_.info("Added: " + name + " (" + format->displayName() + ")", kFiles);
    }
    if (jobs_.size() != before) notifyJobsStructure();
    if (skipped.size() == 1) {
        showToast(Toast(Toast::Kind::warning, "Skipped unsupported file", skipped.front()));
    } else if (skipped.size() >= 2) {
        showToast(Toast(Toast::Kind::warning, "Skipped " + std::to_string(skipped.size()) + " unsupported files",
                        "Including " + skipped.front()));
    }
}

void ConversionViewModel::removeJob(const ConversionJob& job) {
    const int index = indexOf(job.id);
    if (index >= 0 && jobs_[index].status == ConversionStatus::converting) return;
    if (index >= 0) {
        std::erase_if(jobs_, [&](const ConversionJob& j) { return j.id == job.id; });
        notifyJobsStructure();
    }
    if (selection_.count(job.id)) {
        Selection s = selection_;
        s.erase(job.id);
        setSelectionValue(std::move(s));
    }
}

std::vector<int> ConversionViewModel::visibleRows() const { return search_.rows(jobs_, libraryFilter_, searchQuery_); }

ConversionViewModel::Jobs ConversionViewModel::visibleJobs() const {
    Jobs out;
    for (int row : visibleRows()) out.push_back(jobs_[row]);
    return out;
}

int ConversionViewModel::count(const OptionalCategory& category) const {
    if (!category) return static_cast<int>(jobs_.size());
    return static_cast<int>(std::count_if(jobs_.begin(), jobs_.end(), [&](const ConversionJob& j) { return j.category() == *category; }));
}

ConversionViewModel::Jobs ConversionViewModel::selectedJobs() const {
    Jobs out;
    for (const auto& job : jobs_)
        if (selection_.count(job.id)) out.push_back(job);
    return out;
}

void ConversionViewModel::toggleSelection(const Uuid& id) {
    Selection s = selection_;
    if (!s.erase(id)) s.insert(id);
    setSelectionValue(std::move(s));
}

void ConversionViewModel::selectAllVisible() {
    Selection s;
    for (int row : visibleRows()) s.insert(jobs_[row].id);
    setSelectionValue(std::move(s));
}

void ConversionViewModel::deselectAll() { setSelectionValue({}); }

void ConversionViewModel::removeSelected() {
    const size_t before = jobs_.size();
    std::erase_if(jobs_, [&](const ConversionJob& j) {
        return selection_.count(j.id) && j.status != ConversionStatus::converting;
    });
    if (jobs_.size() != before) notifyJobsStructure();
    setSelectionValue({});
}

std::optional<SupportedFormat> ConversionViewModel::defaultTarget(const ConversionJob& job) const {
    auto it = defaultTargets_.find(job.category());
    if (it == defaultTargets_.end()) return std::nullopt;
    if (!contains(job.detectedFormat.possibleConversions(), it->second)) return std::nullopt;
    return it->second;
}

void ConversionViewModel::setDefaultTarget(SupportedFormat format, FileCategory category) {
    DefaultTargets targets = defaultTargets_;
    targets.insert_or_assign(category, format);
    setDefaultTargets(targets);
    for (size_t i = 0; i < jobs_.size(); ++i) {
        ConversionJob& job = jobs_[i];
        if (job.category() != category || job.status != ConversionStatus::pending || job.detectedFormat == format) continue;
        if (!contains(job.detectedFormat.possibleConversions(), format) || job.targetFormat == format) continue;
        job.targetFormat = format;
        notifyJobUpdated(static_cast<int>(i));
    }
}

void ConversionViewModel::clearCompleted() {
    Selection s = selection_;
    size_t removed = 0;
    std::erase_if(jobs_, [&](const ConversionJob& j) {
        if (j.status != ConversionStatus::completed) return false;
        s.erase(j.id);
        ++removed;
        return true;
    });
    if (removed) notifyJobsStructure();
    setSelectionValue(std::move(s));
    logger_.info("Cleared " + std::to_string(removed) + " completed items", kFiles);
}

void ConversionViewModel::clearAll() {
    const size_t before = jobs_.size();
    std::erase_if(jobs_, [](const ConversionJob& j) { return j.status != ConversionStatus::converting; });
    if (jobs_.size() != before) notifyJobsStructure();
    Selection kept;
    for (const auto& job : jobs_)
        if (selection_.count(job.id)) kept.insert(job.id);
    setSelectionValue(std::move(kept));
    if (jobs_.empty()) logger_.info("Cleared all files", kFiles);
    else logger_.info("Cleared all files (" + std::to_string(jobs_.size()) + " converting kept)", kFiles);
}

void ConversionViewModel::setJobStatus(const Uuid& id, ConversionStatus status, double progress) {
    const int index = indexOf(id);
    if (index < 0) return;
    jobs_[index].status = status;
    jobs_[index].progress = progress;
    notifyJobUpdated(index);
}

void ConversionViewModel::setTargetFormat(const Uuid& id, SupportedFormat format) {
    const int index = indexOf(id);
    if (index < 0) return;
    ConversionJob& job = jobs_[index];
    // A running conversion keeps the target it started with; changing it now would not
    // reach the conversion and would misreport its output.
    if (job.status == ConversionStatus::converting) return;
    job.targetFormat = format;
    if (job.status == ConversionStatus::completed) {
        job.status = ConversionStatus::pending;
        job.progress = 0;
        job.outputURL.reset();
    }
    notifyJobUpdated(index);
}

void ConversionViewModel::setCustomOutputDir(const Uuid& id, const Path& dir) {
    const int index = indexOf(id);
    if (index < 0) return;
    jobs_[index].customOutputDir = dir;
    notifyJobUpdated(index);
}

void ConversionViewModel::duplicateJob(const ConversionJob& job) {
    const int index = indexOf(job.id);
    if (index < 0) return;
    const ConversionJob& listed = jobs_[index];
    ConversionJob copy(listed.sourceURL, listed.fileName, listed.fileSize, listed.detectedFormat);
    copy.customOutputDir = listed.customOutputDir;
    copy.imageQuality = listed.imageQuality;
    copy.imageMaxEdge = listed.imageMaxEdge;
    copy.stripMetadata = listed.stripMetadata;
    copy.audioBitrate = listed.audioBitrate;
    const auto possible = listed.detectedFormat.possibleConversions();
    if (possible.size() < 2) {
        copy.targetFormat = listed.targetFormat;
    } else if (!listed.targetFormat) {
        copy.targetFormat = possible.front();
    } else {
        for (auto f : possible) {
            if (f != *listed.targetFormat) {
                copy.targetFormat = f;
                break;
            }
        }
    }
    const std::string name = copy.fileName;
    jobs_.insert(jobs_.begin() + index + 1, std::move(copy));
    notifyJobsStructure();
    logger_.info("Duplicated: " + name, kFiles);
}

std::vector<std::string> ConversionViewModel::allowedContentTypes() const {
    auto known = [](std::vector<std::string> types) {
        std::erase_if(types, [](const std::string& t) { return !uti::isKnown(t); });
        return types;
    };
    auto byExtension = [](const std::vector<std::string>& extensions) {
        std::vector<std::string> out;
        for (const auto& ext : extensions) {
            auto type = uti::fromExtension(ext);
            if (type && uti::conforms(*type, "public.data")) out.push_back(*type);
        }
        return out;
    };
    if (!filePickerCategory_) return {"public.item"};
    switch (*filePickerCategory_) {
        case FileCategory::image:
            return known({"public.image", "public.png", "public.jpeg", "public.tiff", "com.microsoft.bmp", "com.compuserve.gif",
                          "public.heic", "public.heif", "org.webmproject.webp", "com.microsoft.ico", "public.avif"});
        case FileCategory::video:
            return known({"public.movie", "public.video", "public.mpeg-4", "com.apple.quicktime-movie", "public.avi"});
        case FileCategory::audio:
            return known({"public.audio", "public.mp3", "public.aiff-audio", "com.microsoft.waveform-audio", "public.mpeg-4-audio"});
        case FileCategory::document: {
            auto types = known({"com.adobe.pdf", "public.rtf", "public.plain-text", "public.html",
                                "org.openxmlformats.wordprocessingml.document"});
            for (auto& t : byExtension({"md"})) types.push_back(t);
            return types;
        }
        case FileCategory::archive:
            return known({"public.zip-archive", "org.gnu.gnu-zip-archive", "public.tar-archive"});
        case FileCategory::font: {
            auto types = known({"public.font"});
            for (auto& t : byExtension({"ttf", "otf", "woff", "woff2"})) types.push_back(t);
            return types;
        }
        case FileCategory::unknown:
            break;
    }
    return {"public.item"};
}

void ConversionViewModel::openFilePicker() {
    setFilePickerCategory(std::nullopt);
    setShowFilePicker(true);
}

// ---- Output folders ----

void ConversionViewModel::setFolderPanel(FolderPanel panel) { folderPanel_ = std::move(panel); }

std::optional<std::filesystem::path> ConversionViewModel::presentOutputFolderPanel() {
    if (!folderPanel_) return std::nullopt;
    return folderPanel_({"Choose Output Folder", "Choose where Calvoro should save your converted files.", "Choose Folder",
                         chosenOutputFolder()});
}

std::optional<std::filesystem::path> ConversionViewModel::chosenOutputFolder() const {
    if (!hasChosenOutputLocation_) return std::nullopt;
    return outputDirectory_;
}

void ConversionViewModel::applyGlobalOutputDirectory(const Path& url) {
    if (outputDirectory_ != url) {
        outputDirectory_ = url;
        emit outputDirectoryChanged();
    }
    if (!hasChosenOutputLocation_) {
        hasChosenOutputLocation_ = true;
        emit hasChosenOutputLocationChanged();
    }
    auto bookmark = FolderAccess::makeBookmark(url);
    if (!bookmark.empty()) settings_.setData("Calvoro.outputDirBookmark", bookmark);
    else logger_.warning("Could not save output dir bookmark: The folder \u201c" + lastPathComponent(url) + "\u201d doesn\u2019t exist.", kSettings);
    logger_.info("Output directory: " + lastPathComponent(url), kSettings);
}

bool ConversionViewModel::ensureOutputLocationChosen() {
    if (hasChosenOutputLocation_) return true;
    if (auto url = presentOutputFolderPanel()) {
        applyGlobalOutputDirectory(*url);
        return true;
    }
    showToast(Toast(Toast::Kind::warning, "Choose an output folder", "Pick where your converted files should be saved, then convert."));
    return false;
}

void ConversionViewModel::pickGlobalOutputDirectory() {
    if (auto url = presentOutputFolderPanel()) applyGlobalOutputDirectory(*url);
}

void ConversionViewModel::pickOutputDirForJob(const Uuid& id) {
    if (!folderPanel_) return;
    const auto job = std::find_if(jobs_.begin(), jobs_.end(), [&](const ConversionJob& j) { return j.id == id; });
    std::optional<Path> folder = chosenOutputFolder();
    if (job != jobs_.end() && job->customOutputDir) folder = job->customOutputDir;
    if (auto url = folderPanel_({"Choose Output Folder for This File", std::nullopt, std::nullopt, folder})) setCustomOutputDir(id, *url);
}

}  // namespace calvoro
