#pragma once

// Serialises numbered PDF objects (object n+1 at index n, object 1 the catalog) into a complete
// file with its cross-reference table, for hand-written test PDFs.
#include <cstdio>
#include <string>
#include <vector>

namespace calvoro::testing {

inline std::string pdfFromObjects(const std::vector<std::string>& objects) {
    std::string out = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t off : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return out;
}

}  // namespace calvoro::testing
