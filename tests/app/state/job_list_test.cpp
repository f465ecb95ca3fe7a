// Filling and shaping the job list.
#include <sys/stat.h>

#include "app/state/state_test_support.h"

using namespace calvoro;
using namespace calvoro::testing;

namespace {

class JobList : public StateTest {
protected:
    std::filesystem::path file(const std::string& name) {
        writeFile(dir / name, std::string("x"));
        return dir / name;
    }
};

}  // namespace

TEST_F(JobList, AddingSkipsDuplicatesUnsupportedFilesAndFolders) {
    int structureChanges = 0;
    QObject::connect(model.get(), &ConversionViewModel::jobsStructureChanged, [&] { ++structureChanges; });
    const auto png = file("photo.png");
    std::filesystem::create_directories(dir / "folder");
    model->addFiles({png, png, dir / "folder"});
    ASSERT_EQ(model->jobs().size(), 1u);
    EXPECT_EQ(structureChanges, 1);
    EXPECT_TRUE(logged("Skipping duplicate: photo.png"));
    EXPECT_TRUE(logged("Added: photo.png (PNG)"));
    EXPECT_TRUE(logged("Unsupported file skipped: folder"));
    ASSERT_TRUE(model->toast());
    EXPECT_EQ(model->toast()->title, "Skipped unsupported file");
    EXPECT_EQ(model->toast()->detail, "folder");

    const ConversionJob& j = job(0);
    EXPECT_EQ(j.status, ConversionStatus::pending);
    EXPECT_EQ(j.fileSize, 1);
    EXPECT_EQ(j.targetFormat, SupportedFormat(SupportedFormat::png).possibleConversions().front());
    EXPECT_EQ(j.imageQuality, 0.92);
    EXPECT_FALSE(j.imageMaxEdge);
    EXPECT_EQ(j.audioBitrate, 256000);

    model->addFiles({file("a.xyz"), file("b.xyz"), file("c.xyz")});
    EXPECT_EQ(model->toast()->title, "Skipped 3 unsupported files");
    EXPECT_EQ(model->toast()->detail, "Including a.xyz");
    EXPECT_EQ(model->toast()->kind, Toast::Kind::warning);

    // Every way in ends here: a FIFO or a device never becomes a job that would wait for ever.
    ASSERT_EQ(::mkfifo((dir / "pipe.csv").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero.csv");
    model->addFiles({dir / "pipe.csv", dir / "zero.csv"});
    EXPECT_EQ(model->jobs().size(), 1u);
    EXPECT_TRUE(logged("pipe.csv is not a regular file."));
    EXPECT_TRUE(logged("zero.csv is not a regular file."));
    EXPECT_EQ(model->toast()->title, "Skipped 2 unsupported files");
    EXPECT_EQ(model->toast()->detail, "Including pipe.csv");
}

TEST_F(JobList, NewJobsTakeTheSettingsAndReachableDefaultTargets) {
    model->setImageMaxEdge(2048);
    model->setStripMetadata(true);
    model->setDefaultTarget(SupportedFormat::tiff, FileCategory::image);
    model->setDefaultTarget(SupportedFormat::wav, FileCategory::audio);
    model->addFiles({file("a.jpg"), file("b.wav"), file("c.mp3")});
    ASSERT_EQ(model->jobs().size(), 3u);
    EXPECT_EQ(job(0).targetFormat, SupportedFormat::tiff);
    EXPECT_EQ(job(0).imageMaxEdge, 2048);
    EXPECT_TRUE(job(0).stripMetadata);
    // A WAV cannot become a WAV: it gets its format's first target.
    EXPECT_EQ(job(1).targetFormat, SupportedFormat::m4a);
    EXPECT_EQ(job(2).targetFormat, SupportedFormat::wav);
}

TEST_F(JobList, FilterAndSearchFollowCategoryAndCaseInTheUsersLocale) {
    model->addFiles({file("Holiday Photo.PNG"), file("straße.jpg"), file("Ärger.wav"), file("notes.txt")});
    EXPECT_EQ(model->count(std::nullopt), 4);
    EXPECT_EQ(model->count(FileCategory::image), 2);
    model->setLibraryFilter(FileCategory::image);
    EXPECT_EQ(model->visibleJobs().size(), 2u);
    model->setSearchQuery("photo");
    ASSERT_EQ(model->visibleJobs().size(), 1u);
    EXPECT_EQ(model->visibleJobs()[0].fileName, "Holiday Photo.PNG");
    model->setSearchQuery("STRASSE");
    ASSERT_EQ(model->visibleJobs().size(), 1u);
    model->setLibraryFilter(std::nullopt);
    model->setSearchQuery("ärger");
    ASSERT_EQ(model->visibleJobs().size(), 1u);
    EXPECT_EQ(model->visibleJobs()[0].fileName, "Ärger.wav");
    model->setSearchQuery(" photo");
    EXPECT_EQ(model->visibleJobs().size(), 1u) << "the query is used as typed";
    model->setSearchQuery("photo ");
    EXPECT_TRUE(model->visibleJobs().empty());
}

TEST_F(JobList, SearchTypedAKeyAtATimeSeesJobsAddedAndRemovedBetweenKeys) {
    model->addFiles({file("photo-1.png"), file("plan.pdf")});
    model->setSearchQuery("p");
    EXPECT_EQ(model->visibleRows(), (std::vector<int>{0, 1}));
    model->setSearchQuery("ph");
    model->addFiles({file("Photo-2.png")});
    model->setSearchQuery("pho");
    EXPECT_EQ(model->visibleRows(), (std::vector<int>{0, 2}));
    model->removeJob(job(0));
    model->setSearchQuery("phot");
    ASSERT_EQ(model->visibleJobs().size(), 1u);
    EXPECT_EQ(model->visibleJobs()[0].fileName, "Photo-2.png");
    model->duplicateJob(job(1));
    model->setSearchQuery("photo");
    EXPECT_EQ(model->visibleRows(), (std::vector<int>{1, 2}));
}

TEST_F(JobList, SelectionFollowsTheVisibleJobsAndRemovals) {
    model->addFiles({file("a.png"), file("b.png"), file("c.wav")});
    const Uuid a = job(0).id, b = job(1).id, c = job(2).id;
    model->toggleSelection(c);
    model->setSearchQuery("a.");
    model->selectAllVisible();
    EXPECT_EQ(model->selection(), (std::set<Uuid>{a}));
    model->setSearchQuery("");
    model->toggleSelection(b);
    ASSERT_EQ(model->selectedJobs().size(), 2u);
    EXPECT_EQ(model->selectedJobs()[0].id, a);
    model->removeSelected();
    EXPECT_TRUE(model->selection().empty());
    ASSERT_EQ(model->jobs().size(), 1u);
    EXPECT_EQ(job(0).id, c);
    model->toggleSelection(c);
    model->removeJob(job(0));
    EXPECT_TRUE(model->jobs().empty());
    EXPECT_TRUE(model->selection().empty());
}

TEST_F(JobList, RetargetingDuplicatingAndDefaults) {
    model->addFiles({file("a.png")});
    model->setTargetFormat(job(0).id, SupportedFormat::jpeg);
    model->duplicateJob(job(0));
    ASSERT_EQ(model->jobs().size(), 2u);
    const auto possible = SupportedFormat(SupportedFormat::png).possibleConversions();
    const auto expected = possible.front() == SupportedFormat::jpeg ? possible[1] : possible.front();
    EXPECT_EQ(job(1).targetFormat, expected);
    EXPECT_EQ(job(1).sourceURL, job(0).sourceURL);
    EXPECT_NE(job(1).id, job(0).id);
    EXPECT_TRUE(logged("Duplicated: a.png"));

    // Only pending jobs that can reach the new default take it.
    model->setDefaultTarget(SupportedFormat::tiff, FileCategory::image);
    EXPECT_EQ(job(0).targetFormat, SupportedFormat::tiff);
    EXPECT_EQ(job(1).targetFormat, SupportedFormat::tiff);
    EXPECT_EQ(model->defaultTarget(job(0)), SupportedFormat::tiff);
    model->setCustomOutputDir(job(0).id, dir / "mine");
    EXPECT_EQ(job(0).customOutputDir, dir / "mine");
}

TEST_F(JobList, ClearingKeepsWhatIsConvertingAndLogs) {
    model->addFiles({file("a.png"), file("b.png")});
    model->clearCompleted();
    EXPECT_TRUE(logged("Cleared 0 completed items"));
    model->toggleSelection(job(0).id);
    model->clearAll();
    EXPECT_TRUE(model->jobs().empty());
    EXPECT_TRUE(model->selection().empty());
    EXPECT_TRUE(logged("Cleared all files"));
}

TEST_F(JobList, OutputFolderChoiceAndItsCancellation) {
    // Each panel opens in the folder chosen by then: none, the output folder, the job's own.
    std::vector<std::optional<std::filesystem::path>> opensIn;
    model->setFolderPanel([&](const ConversionViewModel::FolderPanelRequest& request) {
        opensIn.push_back(request.folder);
        return panelAnswer;
    });
    EXPECT_EQ(model->outputDirName(), "Choose folder\u2026");
    panelAnswer.reset();
    EXPECT_FALSE(model->ensureOutputLocationChosen());
    ASSERT_TRUE(model->toast());
    EXPECT_EQ(model->toast()->title, "Choose an output folder");
    EXPECT_EQ(model->toast()->detail, "Pick where your converted files should be saved, then convert.");
    panelAnswer = out();
    EXPECT_TRUE(model->ensureOutputLocationChosen());
    EXPECT_EQ(model->outputDirName(), "out");
    EXPECT_TRUE(logged("Output directory: out"));

    model->addFiles({file("a.png")});
    panelAnswer = dir / "per-job";
    model->pickOutputDirForJob(job(0).id);
    EXPECT_EQ(job(0).customOutputDir, dir / "per-job");
    model->pickOutputDirForJob(job(0).id);
    model->pickGlobalOutputDirectory();
    using Folder = std::optional<std::filesystem::path>;
    EXPECT_EQ(opensIn, (std::vector<Folder>{std::nullopt, std::nullopt, out(), dir / "per-job", out()}));
}

TEST_F(JobList, OpenPanelTypesFollowTheCategory) {
    EXPECT_EQ(model->allowedContentTypes(), std::vector<std::string>{"public.item"});
    model->setFilePickerCategory(FileCategory::archive);
    EXPECT_EQ(model->allowedContentTypes(),
              (std::vector<std::string>{"public.zip-archive", "org.gnu.gnu-zip-archive", "public.tar-archive"}));
    model->openFilePicker();
    EXPECT_FALSE(model->filePickerCategory());
    EXPECT_TRUE(model->showFilePicker());
}

TEST_F(JobList, TheWebEngineIsReadiedOnceWhenAnHTMLJobIsRetargetedToPDF) {
    int calls = 0;
    model->setWebEngineWarmUp([&] { ++calls; });
    model->setDefaultTarget(SupportedFormat::txt, FileCategory::document);
    writeFile(dir / "a.html", std::string("<html><body>a</body></html>"));
    writeFile(dir / "b.md", std::string("# b"));
    model->addFiles({dir / "a.html", dir / "b.md", file("c.txt"), file("d.png")});
    ASSERT_EQ(model->jobs().size(), 4u);
    EXPECT_EQ(calls, 0);
    // Markdown and plain text are laid out without the engine.
    model->setTargetFormat(job(1).id, SupportedFormat::pdf);
    model->setTargetFormat(job(2).id, SupportedFormat::pdf);
    EXPECT_EQ(calls, 0);
    model->setTargetFormat(job(0).id, SupportedFormat::pdf);
    EXPECT_EQ(calls, 1);
    model->duplicateJob(job(0));
    writeFile(dir / "e.html", std::string("<p>e</p>"));
    model->addFiles({dir / "e.html"});
    model->setDefaultTarget(SupportedFormat::pdf, FileCategory::document);
    EXPECT_EQ(calls, 1);

    // A hook given while such a job is listed is called at once.
    int later = 0;
    model->setWebEngineWarmUp([&] { ++later; });
    EXPECT_EQ(later, 1);
    EXPECT_EQ(calls, 1);
}

TEST_F(JobList, TheWebEngineIsReadiedOnceWhenHTMLJobsAreAddedForPDF) {
    int calls = 0;
    model->setWebEngineWarmUp([&] { ++calls; });
    model->setDefaultTarget(SupportedFormat::pdf, FileCategory::document);
    writeFile(dir / "a.md", std::string("# a"));
    model->addFiles({dir / "a.md", file("b.png")});
    EXPECT_EQ(calls, 0);
    writeFile(dir / "c.html", std::string("<p>c</p>"));
    writeFile(dir / "d.htm", std::string("<p>d</p>"));
    model->addFiles({dir / "c.html", dir / "d.htm"});
    ASSERT_EQ(model->jobs().size(), 4u);
    EXPECT_EQ(job(2).targetFormat, SupportedFormat::pdf);
    EXPECT_EQ(calls, 1);
}
