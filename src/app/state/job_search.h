#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/conversion_job.h"

namespace calvoro {

// The job list's filter: the jobs of a category whose names contain a query, ignoring case in
// the user's locale. Typed a key at a time over a long list, so it keeps each name folded for
// the search (folded again only when the job at that place or its name changes) and narrows
// the previous result when the new query contains the previous one.
class JobSearch {
public:
    // The jobs may have changed since the last call of rows: it checks them on its next call.
    // Without this notice it takes them as they were, unless their number changed.
    void jobsChanged() { jobsChecked_ = false; }

    // Positions in jobs, in order, of the jobs in category (any when none) whose names contain
    // query; an empty query matches every name.
    std::vector<int> rows(const std::vector<ConversionJob>& jobs, const std::optional<FileCategory>& category,
                          const std::string& query);

private:
    struct Name {
        Uuid id;
        std::string text;
        FileCategory category;
        std::u16string folded;
    };
    struct Result {
        std::optional<FileCategory> category;
        bool searched;  // false: the query was empty
        std::u16string foldedQuery;
        std::vector<int> rows;
    };

    // Brings the folded names in line with jobs; false when any had to change.
    bool follow(const std::vector<ConversionJob>& jobs);

    std::vector<Name> names_;
    bool jobsChecked_ = false;
    std::optional<Result> last_;
};

}  // namespace calvoro
