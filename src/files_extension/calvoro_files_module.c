// The GNOME Files module: the entry points Files calls and a menu provider that shows the
// "Convert" menu built by the menu logic and runs its actions.

#include <nautilus-extension.h>

#include "files_extension/files_menu.h"

#define CALVORO_TYPE_FILES_PROVIDER (calvoro_files_provider_get_type())
G_DECLARE_FINAL_TYPE(CalvoroFilesProvider, calvoro_files_provider, CALVORO, FILES_PROVIDER, GObject)

struct _CalvoroFilesProvider {
    GObject parent_instance;
};

static void calvoro_files_provider_menu_init(NautilusMenuProviderInterface *iface);

G_DEFINE_DYNAMIC_TYPE_EXTENDED(CalvoroFilesProvider, calvoro_files_provider, G_TYPE_OBJECT, G_TYPE_FLAG_FINAL,
                               G_IMPLEMENT_INTERFACE_DYNAMIC(NAUTILUS_TYPE_MENU_PROVIDER,
                                                             calvoro_files_provider_menu_init))

static const char tag_key[] = "calvoro-tag";

static void release_menu(gpointer menu, GClosure *closure) {
    (void)closure;
    calvoro_files_menu_free(menu);
}

static void on_convert(NautilusMenuItem *item, gpointer menu) {
    calvoro_files_menu_convert(menu, GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), tag_key)));
}

static void on_compress(NautilusMenuItem *item, gpointer menu) {
    calvoro_files_menu_compress(menu, GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), tag_key)));
}

static void on_choose_size(NautilusMenuItem *item, gpointer menu) {
    (void)item;
    calvoro_files_menu_choose_size(menu);
}

// Appends an item whose activation runs action with the item's tag on its own menu handle.
static void append_action(NautilusMenu *submenu, const char *name, const char *label, GCallback action, guint tag,
                          const CalvoroFilesMenu *menu) {
    NautilusMenuItem *item = nautilus_menu_item_new(name, label, NULL, NULL);
    g_object_set_data(G_OBJECT(item), tag_key, GUINT_TO_POINTER(tag));
    g_signal_connect_data(item, "activate", action, calvoro_files_menu_ref(menu), release_menu, 0);
    nautilus_menu_append_item(submenu, item);
    g_object_unref(item);
}

// An item that only carries a submenu; the item keeps the submenu alive.
static NautilusMenuItem *submenu_item(const char *name, const char *label, NautilusMenu **submenu) {
    NautilusMenuItem *item = nautilus_menu_item_new(name, label, NULL, NULL);
    *submenu = nautilus_menu_new();
    nautilus_menu_item_set_submenu(item, *submenu);
    g_object_unref(*submenu);
    return item;
}

static void append_compress_menu(NautilusMenu *convert_menu, const CalvoroFilesMenu *menu) {
    NautilusMenu *levels = NULL;
    NautilusMenuItem *compress = submenu_item("CalvoroFiles::Compress", "Compress", &levels);
    for (size_t i = 0; i < calvoro_files_compress_level_count(); i++) {
        char *name = g_strdup_printf("CalvoroFiles::Compress::%zu", i);
        append_action(levels, name, calvoro_files_compress_level_title(i), G_CALLBACK(on_compress), (guint)i, menu);
        g_free(name);
    }
    append_action(levels, "CalvoroFiles::ChooseSize", "Choose size\u2026", G_CALLBACK(on_choose_size), 0, menu);
    nautilus_menu_append_item(convert_menu, compress);
    g_object_unref(compress);
}

static GList *calvoro_files_provider_get_file_items(NautilusMenuProvider *provider, GList *files) {
    (void)provider;
    GPtrArray *paths = g_ptr_array_new_with_free_func(g_free);
    for (GList *l = files; l != NULL; l = l->next) {
        GFile *location = nautilus_file_info_get_location(NAUTILUS_FILE_INFO(l->data));
        char *path = location ? g_file_get_path(location) : NULL;
        g_clear_object(&location);
        // The program can only be handed files of the local file system.
        if (path == NULL) {
            g_ptr_array_unref(paths);
            return NULL;
        }
        g_ptr_array_add(paths, path);
    }
    CalvoroFilesMenu *menu = calvoro_files_menu_new((const char *const *)paths->pdata, paths->len);
    g_ptr_array_unref(paths);
    if (menu == NULL) return NULL;

    NautilusMenu *convert_menu = NULL;
    NautilusMenuItem *top = submenu_item("CalvoroFiles::Convert", "Convert", &convert_menu);
    for (size_t i = 0; i < calvoro_files_menu_convert_count(menu); i++) {
        char *name = g_strdup_printf("CalvoroFiles::Convert::%zu", i);
        append_action(convert_menu, name, calvoro_files_menu_convert_title(menu, i), G_CALLBACK(on_convert), (guint)i,
                      menu);
        g_free(name);
    }
    if (calvoro_files_menu_shows_compress(menu)) append_compress_menu(convert_menu, menu);
    calvoro_files_menu_free(menu);
    return g_list_append(NULL, top);
}

// The folder's background menu gets nothing.
static GList *calvoro_files_provider_get_background_items(NautilusMenuProvider *provider, NautilusFileInfo *folder) {
    (void)provider;
    (void)folder;
    return NULL;
}

static void calvoro_files_provider_menu_init(NautilusMenuProviderInterface *iface) {
    iface->get_file_items = calvoro_files_provider_get_file_items;
    iface->get_background_items = calvoro_files_provider_get_background_items;
}

static void calvoro_files_provider_init(CalvoroFilesProvider *self) { (void)self; }
static void calvoro_files_provider_class_init(CalvoroFilesProviderClass *klass) { (void)klass; }
static void calvoro_files_provider_class_finalize(CalvoroFilesProviderClass *klass) { (void)klass; }

static GType provider_types[1];

G_MODULE_EXPORT void nautilus_module_initialize(GTypeModule *module) {
    calvoro_files_provider_register_type(module);
    provider_types[0] = CALVORO_TYPE_FILES_PROVIDER;
}

G_MODULE_EXPORT void nautilus_module_shutdown(void) {}

G_MODULE_EXPORT void nautilus_module_list_types(const GType **types, int *num_types) {
    *types = provider_types;
    *num_types = G_N_ELEMENTS(provider_types);
}
