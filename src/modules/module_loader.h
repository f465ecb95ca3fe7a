#pragma once

#include <string>

namespace calvoro::modules {

// Opens one of the program's own modules by file name ("libcalvoro_documents.so") and returns
// the address of the named entry point. Looks beside an installed program first
// (<bin>/../<libdir>/calvoro/), then in the build tree it was built in. When neither works, logs
// the loader's reason and throws ConversionError::converterNotAvailable(displayName).
void* entryPoint(const std::string& fileName, const char* entryName, const std::string& displayName);

}  // namespace calvoro::modules
