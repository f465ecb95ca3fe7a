// Program entry: one executable, several modes chosen by launch flags. A conversion the plain
// rooms do alone (tables, subtitles, text pages) runs here without Qt or a codec library;
// everything else runs in the program module, which loads them.
#include <clocale>
#include <cstdio>

#include <string>
#include <vector>

#include "app/entry/convert_mode.h"
#include "app/entry/launch_mode.h"
#include "app/entry/termination_signals.h"
#include "core/conversion_error.h"
#include "core/work_folder.h"
#include "modules/module_loader.h"

int main(int argc, char** argv) {
    using namespace calvoro;
    const std::vector<std::string> arguments(argv, argv + argc);

    // Work folders of runs that were killed go now, not at some later conversion.
    WorkFolder::removeAbandonedOnce(WorkFolder::temporaryDirectory());
    if (launchModeFor(arguments) == LaunchMode::convert && CalvoroApp::convertRunsPlain(arguments)) {
        // The C library's locale from the environment, as Qt's application object sets it for the
        // other modes: the log writes its numbers alike on either road.
        std::setlocale(LC_ALL, "");
        const int status = CalvoroApp::convertAndExit(arguments, CalvoroApp::runHere);
        // A conversion stopped by a signal has cleared its work; the process ends as that signal ends it.
        termination::endIfSignalled();
        exitProcessNow(status);
    }
    using ProgramMain = int (*)(int, char**);
    ProgramMain entry = nullptr;
    try {
        entry = reinterpret_cast<ProgramMain>(modules::entryPoint("libcalvoro_program.so", "calvoro_program_main", "program"));
    } catch (const ConversionError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        exitProcessNow(1);
    }
    exitProcessNow(entry(argc, argv));
}
