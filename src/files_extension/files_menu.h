#pragma once

// The C face of the menu logic for the GNOME Files module. A menu handle holds one built menu
// together with the selection it captured; every handle must be freed.

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CalvoroFilesMenu CalvoroFilesMenu;

// NULL when the selection of local paths gets no menu.
CalvoroFilesMenu *calvoro_files_menu_new(const char *const *paths, size_t count);
// Another handle on the same menu and captured selection.
CalvoroFilesMenu *calvoro_files_menu_ref(const CalvoroFilesMenu *menu);
void calvoro_files_menu_free(CalvoroFilesMenu *menu);

// Indexes run below the counts.
size_t calvoro_files_menu_convert_count(const CalvoroFilesMenu *menu);
const char *calvoro_files_menu_convert_title(const CalvoroFilesMenu *menu, size_t index);
int calvoro_files_menu_shows_compress(const CalvoroFilesMenu *menu);
size_t calvoro_files_compress_level_count(void);
const char *calvoro_files_compress_level_title(size_t index);

// Each hands every captured file to the program through the default handler of its URLs.
void calvoro_files_menu_convert(CalvoroFilesMenu *menu, long tag);
void calvoro_files_menu_compress(CalvoroFilesMenu *menu, unsigned long tag);
void calvoro_files_menu_choose_size(CalvoroFilesMenu *menu);

#ifdef __cplusplus
}
#endif
