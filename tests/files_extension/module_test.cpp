// Loads the built GNOME Files module as Files does and drives its menu provider over file
// objects made here, with a handler of "calvoro" URLs registered in a private data folder.

#include <gtest/gtest.h>

#include <glib/gstdio.h>
#include <gmodule.h>
#include <nautilus-extension.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <sstream>
#include <thread>

#include "support/test_support.h"

using calvoro::testing::readText;
using calvoro::testing::TempDir;
using calvoro::testing::writeFile;

// A file as Files shows it: the module only asks for its location.
struct CalvoroTestFileInfo {
    GObject parent_instance;
    GFile* location;
};
struct CalvoroTestFileInfoClass {
    GObjectClass parent_class;
};

static GFile* test_file_info_get_location(NautilusFileInfo* info) {
    return G_FILE(g_object_ref(reinterpret_cast<CalvoroTestFileInfo*>(info)->location));
}
static void test_file_info_iface_init(NautilusFileInfoInterface* iface) { iface->get_location = test_file_info_get_location; }

G_DEFINE_TYPE_WITH_CODE(CalvoroTestFileInfo, calvoro_test_file_info, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(NAUTILUS_TYPE_FILE_INFO, test_file_info_iface_init))

static void calvoro_test_file_info_finalize(GObject* object) {
    g_clear_object(&reinterpret_cast<CalvoroTestFileInfo*>(object)->location);
    G_OBJECT_CLASS(calvoro_test_file_info_parent_class)->finalize(object);
}
static void calvoro_test_file_info_class_init(CalvoroTestFileInfoClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = calvoro_test_file_info_finalize;
}
static void calvoro_test_file_info_init(CalvoroTestFileInfo*) {}

// The type module Files makes for each extension: loading it opens the library and calls its
// initialiser, which registers the provider's type in it.
struct CalvoroTestModule {
    GTypeModule parent_instance;
    GModule* library;
};
struct CalvoroTestModuleClass {
    GTypeModuleClass parent_class;
};

G_DEFINE_TYPE(CalvoroTestModule, calvoro_test_module, G_TYPE_TYPE_MODULE)

static gboolean test_module_load(GTypeModule* module) {
    auto* self = reinterpret_cast<CalvoroTestModule*>(module);
    self->library = g_module_open(CALVORO_FILES_MODULE, G_MODULE_BIND_LOCAL);
    gpointer initialize = nullptr;
    if (!self->library || !g_module_symbol(self->library, "nautilus_module_initialize", &initialize)) return FALSE;
    reinterpret_cast<void (*)(GTypeModule*)>(initialize)(module);
    return TRUE;
}
static void test_module_unload(GTypeModule* module) {
    auto* self = reinterpret_cast<CalvoroTestModule*>(module);
    gpointer shutdown = nullptr;
    if (g_module_symbol(self->library, "nautilus_module_shutdown", &shutdown)) reinterpret_cast<void (*)()>(shutdown)();
    g_module_close(self->library);
}
static void calvoro_test_module_class_init(CalvoroTestModuleClass* klass) {
    G_TYPE_MODULE_CLASS(klass)->load = test_module_load;
    G_TYPE_MODULE_CLASS(klass)->unload = test_module_unload;
}
static void calvoro_test_module_init(CalvoroTestModule*) {}

namespace {

template <typename T>
struct GObjectUnref {
    void operator()(T* object) const { g_object_unref(object); }
};
template <typename T>
using Ref = std::unique_ptr<T, GObjectUnref<T>>;

struct ItemListFree {
    void operator()(GList* items) const { nautilus_menu_item_list_free(items); }
};
using ItemList = std::unique_ptr<GList, ItemListFree>;

std::string textIfAny(const std::filesystem::path& path) {
    return std::filesystem::exists(path) ? readText(path) : std::string();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string property(NautilusMenuItem* item, const char* name) {
    gchar* value = nullptr;
    g_object_get(item, name, &value, nullptr);
    std::string text = value ? value : "";
    g_free(value);
    return text;
}

std::vector<NautilusMenuItem*> submenuOf(NautilusMenuItem* item) {
    NautilusMenu* menu = nullptr;
    g_object_get(item, "menu", &menu, nullptr);
    std::vector<NautilusMenuItem*> items;
    if (!menu) return items;
    ItemList list(nautilus_menu_get_items(menu));
    for (GList* l = list.get(); l; l = l->next) items.push_back(NAUTILUS_MENU_ITEM(l->data));
    g_object_unref(menu);  // the items stay alive with the menu item that carries them
    return items;
}

std::vector<std::string> labels(const std::vector<NautilusMenuItem*>& items) {
    std::vector<std::string> out;
    for (auto* item : items) out.push_back(property(item, "label"));
    return out;
}

class FilesModule : public ::testing::Test {
protected:
    // One environment and one loaded module for the whole process, as in Files: GIO reads the
    // handler registrations once, and a loaded type module stays loaded.
    static void SetUpTestSuite() {
        home_ = std::make_unique<TempDir>();
        const auto& root = home_->path();
        for (const char* dir : {"data/applications", "config", "empty", "run"})
            std::filesystem::create_directories(root / dir);
        ::chmod((root / "run").c_str(), 0700);
        const auto handler = root / "handler";
        writeFile(handler, "printf '%s\\n' \"$1\" >> '" + (root / "opened").string() + "'\n");
        writeFile(root / "data/applications/calvoro-test.desktop",
                  "[Desktop Entry]\nType=Application\nName=Calvoro hand-off test\nNoDisplay=true\nExec=/bin/sh " +
                      handler.string() + " %u\nMimeType=x-scheme-handler/calvoro;\n");
        writeFile(root / "config/mimeapps.list",
                  std::string("[Default Applications]\nx-scheme-handler/calvoro=calvoro-test.desktop\n"));
        g_setenv("XDG_DATA_HOME", (root / "data").c_str(), TRUE);
        g_setenv("XDG_DATA_DIRS", (root / "empty").c_str(), TRUE);
        g_setenv("XDG_CONFIG_HOME", (root / "config").c_str(), TRUE);
        g_setenv("XDG_CONFIG_DIRS", (root / "empty").c_str(), TRUE);
        g_setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), TRUE);
        g_setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (root / "no-bus").string()).c_str(), TRUE);
        g_setenv("GIO_USE_VFS", "local", TRUE);
        g_unsetenv("DISPLAY");

        module_ = G_TYPE_MODULE(g_object_new(calvoro_test_module_get_type(), nullptr));
        ASSERT_TRUE(g_type_module_use(module_)) << g_module_error();
        gpointer listTypes = nullptr;
        ASSERT_TRUE(g_module_symbol(reinterpret_cast<CalvoroTestModule*>(module_)->library,
                                    "nautilus_module_list_types", &listTypes));
        const GType* types = nullptr;
        int count = 0;
        reinterpret_cast<void (*)(const GType**, int*)>(listTypes)(&types, &count);
        ASSERT_EQ(count, 1);
        providerType_ = types[0];
    }

    void SetUp() override {
        if (!providerType_) GTEST_SKIP() << "module not loaded";
        provider_.reset(G_OBJECT(g_object_new(providerType_, nullptr)));
        ASSERT_TRUE(NAUTILUS_IS_MENU_PROVIDER(provider_.get()));
        logStart_ = textIfAny(logFile()).size();
        std::error_code ignored;
        std::filesystem::remove(home_->path() / "opened", ignored);
    }

    static std::filesystem::path logFile() { return home_->path() / "run" / "kxext.log"; }

    // The log lines written since the test began, without their time stamps.
    static std::vector<std::string> newLogLines() {
        std::vector<std::string> lines;
        for (const auto& line : linesOf(textIfAny(logFile()).substr(logStart_))) {
            auto end = line.find("] ");
            lines.push_back(line.front() == '[' && end != std::string::npos ? line.substr(end + 2) : line);
        }
        return lines;
    }

    // The handler runs on its own; wait until it has recorded the expected number of URLs.
    static std::vector<std::string> openedURLs(size_t expected) {
        const auto path = home_->path() / "opened";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        std::vector<std::string> urls;
        while (std::chrono::steady_clock::now() < deadline) {
            urls = linesOf(textIfAny(path));
            if (urls.size() >= expected) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::sort(urls.begin(), urls.end());
        return urls;
    }

    static Ref<GObject> fileInfo(const std::string& uri) {
        auto* info = reinterpret_cast<CalvoroTestFileInfo*>(g_object_new(calvoro_test_file_info_get_type(), nullptr));
        info->location = g_file_new_for_uri(uri.c_str());
        return Ref<GObject>(G_OBJECT(info));
    }

    // Asks the provider for the items of a selection, as Files does for its context menu.
    ItemList itemsFor(const std::vector<Ref<GObject>>& files) {
        GList* list = nullptr;
        for (const auto& file : files) list = g_list_append(list, file.get());
        ItemList items(nautilus_menu_provider_get_file_items(NAUTILUS_MENU_PROVIDER(provider_.get()), list));
        g_list_free(list);
        return items;
    }

    std::string fileURI(const std::string& name) {
        const auto path = home_->path() / "files" / name;
        std::filesystem::create_directories(path.parent_path());
        writeFile(path, std::string("x"));
        gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
        std::string text = uri;
        g_free(uri);
        return text;
    }
    // File objects for new files of these names in the test's files folder.
    std::vector<Ref<GObject>> localFiles(std::initializer_list<const char*> names) {
        std::vector<Ref<GObject>> files;
        for (const char* name : names) files.push_back(fileInfo(fileURI(name)));
        return files;
    }
    std::string filesPath() const { return (home_->path() / "files").string(); }

    static inline std::unique_ptr<TempDir> home_;
    static inline GTypeModule* module_ = nullptr;  // never unloaded, as in Files
    static inline GType providerType_ = 0;
    static inline size_t logStart_ = 0;
    Ref<GObject> provider_;
};

}  // namespace

TEST(FilesModuleLinks, NeedsNoQtAndExportsOnlyTheEntryPoints) {
    auto needed = calvoro::testing::run("readelf -d --wide " + calvoro::testing::shellQuote(CALVORO_FILES_MODULE));
    ASSERT_EQ(needed.status, 0) << needed.output;
    EXPECT_NE(needed.output.find("libnautilus-extension.so"), std::string::npos);
    EXPECT_EQ(needed.output.find("libQt"), std::string::npos) << needed.output;

    auto exported = calvoro::testing::run("nm -D --defined-only " + calvoro::testing::shellQuote(CALVORO_FILES_MODULE));
    ASSERT_EQ(exported.status, 0) << exported.output;
    auto lines = linesOf(exported.output);
    EXPECT_EQ(lines.size(), 3u) << exported.output;
    for (const auto& line : lines) EXPECT_NE(line.find(" nautilus_module_"), std::string::npos) << line;
}

TEST_F(FilesModule, ConvertMenuOverAMixedSelectionHandsOffEachFile) {
    auto items = itemsFor(localFiles({"a & b #1.jpg", "\u00E9t\u00E9 = 100%+.PNG"}));
    ASSERT_EQ(g_list_length(items.get()), 1u);
    auto* top = NAUTILUS_MENU_ITEM(items->data);
    EXPECT_EQ(property(top, "label"), "Convert");

    auto convert = submenuOf(top);
    EXPECT_EQ(labels(convert), (std::vector<std::string>{"HEIC", "TIFF", "PDF", "WebP", "Compress"}));
    EXPECT_EQ(labels(submenuOf(convert.back())),
              (std::vector<std::string>{"Maximum Quality", "High", "Balanced", "Small", "Smallest", "Choose size\u2026"}));

    nautilus_menu_item_activate(convert[3]);
    const std::string dir = filesPath();
    EXPECT_EQ(openedURLs(2), (std::vector<std::string>{
                                 "calvoro://convert?src=" + dir + "/%C3%A9t%C3%A9%20%3D%20100%25%2B.PNG&fmt=webp",
                                 "calvoro://convert?src=" + dir + "/a%20%26%20b%20%231.jpg&fmt=webp",
                             }));
    EXPECT_EQ(newLogLines(), (std::vector<std::string>{
                                 "menu built: 2 item(s), 4 format(s)",
                                 "action: target=webp count=2",
                                 "  handed off a & b #1.jpg \u2192 webp",
                                 "  handed off \u00E9t\u00E9 = 100%+.PNG \u2192 webp",
                             }));
    struct stat st {};
    ASSERT_EQ(::lstat(logFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(FilesModule, ChooseSizeAndLevelsOpenCompressURLs) {
    auto items = itemsFor(localFiles({"clip.mov", "clip.mp4"}));
    ASSERT_EQ(g_list_length(items.get()), 1u);
    auto convert = submenuOf(NAUTILUS_MENU_ITEM(items->data));
    EXPECT_EQ(labels(convert), (std::vector<std::string>{"M4V", "GIF", "Audio (M4A)", "Compress"}));
    auto compress = submenuOf(convert.back());
    ASSERT_EQ(compress.size(), 6u);

    nautilus_menu_item_activate(compress[5]);
    const std::string dir = filesPath();
    EXPECT_EQ(openedURLs(2), (std::vector<std::string>{"calvoro://compress?src=" + dir + "/clip.mov&choose=1",
                                                       "calvoro://compress?src=" + dir + "/clip.mp4&choose=1"}));
    std::filesystem::remove(home_->path() / "opened");
    nautilus_menu_item_activate(compress[4]);
    EXPECT_EQ(openedURLs(2), (std::vector<std::string>{"calvoro://compress?src=" + dir + "/clip.mov&level=tiny",
                                                       "calvoro://compress?src=" + dir + "/clip.mp4&level=tiny"}));
    EXPECT_EQ(newLogLines(), (std::vector<std::string>{
                                 "menu built: 2 item(s), 3 format(s)",
                                 "compress: picker count=2",
                                 "  compress handed off clip.mov",
                                 "  compress handed off clip.mp4",
                                 "compress: level=tiny count=2",
                                 "  compress handed off clip.mov",
                                 "  compress handed off clip.mp4",
                             }));
}

TEST_F(FilesModule, EachMenuActsOnItsOwnSelection) {
    auto firstItems = itemsFor(localFiles({"first.gif"}));
    auto secondItems = itemsFor(localFiles({"second.gif"}));  // another window's selection changed meanwhile
    ASSERT_TRUE(firstItems && secondItems);
    auto convert = submenuOf(NAUTILUS_MENU_ITEM(firstItems->data));
    EXPECT_EQ(labels(convert), (std::vector<std::string>{"PNG", "JPEG", "MP4"}));  // no Compress for gif
    nautilus_menu_item_activate(convert[2]);
    EXPECT_EQ(openedURLs(1), (std::vector<std::string>{"calvoro://convert?src=" + filesPath() + "/first.gif&fmt=mp4"}));
}

TEST_F(FilesModule, NoMenuForUnsharedUnknownOrRemoteFiles) {
    std::vector<std::vector<Ref<GObject>>> selections;
    selections.push_back({});
    selections.push_back(localFiles({"a.jpg", "b.mov"}));
    selections.push_back(localFiles({"song.mp3"}));
    selections.emplace_back();
    selections.back().push_back(fileInfo("sftp://host/photo.jpg"));  // no local path to hand over
    for (const auto& files : selections) EXPECT_EQ(itemsFor(files), nullptr);
    const std::string inside = fileURI("folder/inside.txt");
    auto folder = fileInfo(inside.substr(0, inside.rfind('/')));
    EXPECT_EQ(nautilus_menu_provider_get_background_items(NAUTILUS_MENU_PROVIDER(provider_.get()),
                                                          NAUTILUS_FILE_INFO(folder.get())),
              nullptr);
    EXPECT_TRUE(newLogLines().empty());
}
