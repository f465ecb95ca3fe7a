// The job list's search, typed a key at a time over a list that changes under it: every answer
// must be the one a search from scratch gives.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/state/job_search.h"
#include "app/state/localized_search.h"

using namespace calvoro;

namespace {

using Jobs = std::vector<ConversionJob>;
using Category = std::optional<FileCategory>;

ConversionJob job(const std::string& name, SupportedFormat format = SupportedFormat::png) {
    return ConversionJob("/files/" + name, name, 1, format);
}

std::vector<int> fromScratch(const Jobs& jobs, const Category& category, const std::string& query) {
    std::vector<int> rows;
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (category && jobs[i].category() != *category) continue;
        if (!query.empty() && !localizedCaseInsensitiveContains(jobs[i].fileName, query)) continue;
        rows.push_back(static_cast<int>(i));
    }
    return rows;
}

class JobSearchTest : public ::testing::Test {
protected:
    Jobs jobs{job("Holiday Photo.PNG"), job("straße.jpg", SupportedFormat::jpeg), job("Ärger.wav", SupportedFormat::wav),
              job("STRASSE plan.pdf", SupportedFormat::pdf), job("photo-0123.jpg", SupportedFormat::jpeg),
              job("Photo-0124.png"), job("notes.txt", SupportedFormat::txt), job("Strassenfest.mp3", SupportedFormat::mp3)};
    JobSearch search;

    // Types text after what is there, a key at a time, checking every answer.
    void type(std::string& query, const std::string& text, const Category& category = std::nullopt) {
        for (char c : text) {
            query += c;
            check(query, category);
        }
    }
    void erase(std::string& query, size_t count, const Category& category = std::nullopt) {
        for (size_t i = 0; i < count && !query.empty(); ++i) {
            // Whole characters, as a field takes them back.
            while ((static_cast<unsigned char>(query.back()) & 0xC0) == 0x80) query.pop_back();
            query.pop_back();
            check(query, category);
        }
    }
    void check(const std::string& query, const Category& category = std::nullopt) {
        EXPECT_EQ(search.rows(jobs, category, query), fromScratch(jobs, category, query)) << "query \"" << query << "\"";
    }
};

}  // namespace

TEST_F(JobSearchTest, TypingErasingAndRetypingGiveWhatASearchFromScratchGives) {
    std::string query;
    check(query);
    type(query, "STRAS");
    type(query, "se");  // "straße" and "STRASSE" stay
    erase(query, 7);
    type(query, "straß");
    type(query, "e plan");
    erase(query, 20);
    type(query, "ÄRGER");
    erase(query, 3);
    type(query, "xyz");  // nothing left, then back
    erase(query, 4);
    // A query replaced outright rather than extended.
    query = "photo";
    check(query);
    query = "0124";
    check(query);
    query = "photo-012";
    check(query);
    query = "oto-01";  // contained in the previous query, so wider: not narrowed from it
    check(query);
}

TEST_F(JobSearchTest, TheCategoryNarrowsOnlyWithinItselfAndLeavesTheQueryAlone) {
    std::string query;
    type(query, "pho", FileCategory::image);
    // Another category with a longer query: the previous result must not be narrowed.
    type(query, "t", FileCategory::document);
    type(query, "o", std::nullopt);
    type(query, "-01", FileCategory::image);
    erase(query, 10, FileCategory::audio);
    type(query, "Strassen", FileCategory::audio);
}

TEST_F(JobSearchTest, FollowsJobsAddedRemovedMovedAndRenamedBetweenKeys) {
    std::string query;
    type(query, "pho");
    // Added after "pho" was answered: "phot" narrows nothing stale.
    jobs.push_back(job("photo-new.gif", SupportedFormat::gif));
    search.jobsChanged();
    type(query, "t");
    // Removed from the middle: later positions move up.
    jobs.erase(jobs.begin() + 1);
    search.jobsChanged();
    type(query, "o");
    // Inserted in the middle, as a duplicate is.
    jobs.insert(jobs.begin() + 2, job("PHOTO copy.png"));
    search.jobsChanged();
    type(query, " ");
    erase(query, 1);
    // Renamed in place: the same job, found by its new name only.
    jobs[0].fileName = "Beach.png";
    search.jobsChanged();
    check(query);
    jobs[0].fileName = "Photo at the beach.png";
    search.jobsChanged();
    type(query, " ");
    // Reordered, and everything gone.
    std::swap(jobs.front(), jobs.back());
    search.jobsChanged();
    erase(query, 1);
    jobs.clear();
    search.jobsChanged();
    check(query);
    check("");
}

TEST_F(JobSearchTest, AListThatChangedLengthUnannouncedIsStillFollowed) {
    std::string query;
    type(query, "no");
    jobs.push_back(job("notebook.png"));
    type(query, "t");
    jobs.erase(jobs.begin());
    type(query, "e");
}
