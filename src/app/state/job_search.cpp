#include "app/state/job_search.h"

#include <unordered_map>

#include "app/state/localized_search.h"

namespace calvoro {

bool JobSearch::follow(const std::vector<ConversionJob>& jobs) {
    if (jobsChecked_ && names_.size() == jobs.size()) return true;
    jobsChecked_ = true;
    size_t same = 0;
    while (same < jobs.size() && same < names_.size() && names_[same].id == jobs[same].id &&
           names_[same].text == jobs[same].fileName && names_[same].category == jobs[same].category())
        ++same;
    if (same == jobs.size() && same == names_.size()) return true;

    // Jobs were added, removed, moved or renamed: names that are still there keep their folding.
    std::unordered_map<Uuid, Name> earlier;
    earlier.reserve(names_.size() - same);
    for (size_t i = same; i < names_.size(); ++i) earlier.emplace(names_[i].id, std::move(names_[i]));
    names_.erase(names_.begin() + static_cast<std::ptrdiff_t>(same), names_.end());
    names_.reserve(jobs.size());
    for (size_t i = same; i < jobs.size(); ++i) {
        const ConversionJob& job = jobs[i];
        auto it = earlier.find(job.id);
        if (it != earlier.end() && it->second.text == job.fileName) {
            it->second.category = job.category();
            names_.push_back(std::move(it->second));
            earlier.erase(it);
        } else {
            names_.push_back(Name{job.id, job.fileName, job.category(), localizedSearchFold(job.fileName)});
        }
    }
    return false;
}

std::vector<int> JobSearch::rows(const std::vector<ConversionJob>& jobs, const std::optional<FileCategory>& category,
                                 const std::string& query) {
    const bool unchanged = follow(jobs);
    Result result{category, !query.empty(), query.empty() ? std::u16string() : localizedSearchFold(query), {}};
    auto passes = [&](size_t i) {
        const Name& name = names_[i];
        if (category && name.category != *category) return false;
        return !result.searched || foldedContains(name.folded, result.foldedQuery);
    };
    // Every name that contains the new query contains the previous one too: only the previous
    // matches need a look. The same holds from no query at all.
    const bool narrows = unchanged && last_ && last_->category == category &&
                         (!last_->searched || (result.searched && foldedContains(result.foldedQuery, last_->foldedQuery)));
    if (narrows) {
        result.rows.reserve(last_->rows.size());
        for (int row : last_->rows)
            if (passes(static_cast<size_t>(row))) result.rows.push_back(row);
    } else {
        for (size_t i = 0; i < names_.size(); ++i)
            if (passes(i)) result.rows.push_back(static_cast<int>(i));
    }
    last_ = std::move(result);
    return last_->rows;
}

}  // namespace calvoro
