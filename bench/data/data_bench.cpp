// Benchmark driver: makes deterministic sample tables and times one conversion.
//   data_bench csv <path> <megabytes>      a CSV with numbers, text, quotes and empty cells
//   data_bench json <path> <megabytes>     a JSON array of objects with the same columns
//   data_bench convert <source> <from> <to> <outdir>   prints the seconds it took
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "converters/data/data_converter.h"
#include "core/conversion_logger.h"

namespace {

struct Record {
    std::string id, name, city, price, flag, note;
};

Record makeRecord(std::mt19937_64& random, long n) {
    static const char* names[] = {"Ann", "Bob", "Chloé", "Dmitri", "Eve", "Farah", "Gus", "Hiroshi"};
    static const char* cities[] = {"Berlin", "São Paulo", "New York, NY", "Zürich", "Osaka", "Lagos"};
    Record r;
    r.id = std::to_string(n);
    r.name = std::string(names[random() % 8]) + " " + std::to_string(random() % 10000);
    r.city = cities[random() % 6];
    r.price = std::to_string(random() % 100000 / 100) + "." + std::to_string(random() % 90 + 10);
    r.flag = random() % 2 ? "true" : "false";
    switch (random() % 4) {
        case 0: r.note = ""; break;
        case 1: r.note = "said \"hello\" twice"; break;
        default: r.note = "order " + std::to_string(random() % 1000000) + " shipped on time";
    }
    return r;
}

std::string csvCell(const std::string& cell) {
    if (cell.find_first_of(",\"\n") == std::string::npos) return cell;
    std::string out = "\"";
    for (char c : cell) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string jsonString(const std::string& cell) {
    std::string out = "\"";
    for (char c : cell) out += c == '"' ? std::string("\\\"") : std::string(1, c);
    return out + "\"";
}

int generate(bool json, const char* path, long megabytes) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return 1;
    std::mt19937_64 random(42);
    const size_t target = static_cast<size_t>(megabytes) * 1000 * 1000;
    size_t written = 0;
    std::string line = json ? "[\n" : "id,name,city,price,flag,note\n";
    for (long n = 1; written < target; ++n) {
        Record r = makeRecord(random, n);
        if (json) {
            line += (n > 1 ? ",\n" : "");
            line += "{\"id\":" + r.id + ",\"name\":" + jsonString(r.name) + ",\"city\":" + jsonString(r.city) +
                    ",\"price\":" + r.price + ",\"flag\":" + r.flag + ",\"note\":" + jsonString(r.note) + "}";
        } else {
            line += r.id + "," + csvCell(r.name) + "," + csvCell(r.city) + "," + r.price + "," + r.flag + "," + csvCell(r.note) + "\n";
        }
        std::fwrite(line.data(), 1, line.size(), f);
        written += line.size();
        line.clear();
    }
    if (json) std::fputs("\n]\n", f);
    return std::fclose(f) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    using calvoro::SupportedFormat;
    std::string mode = argc > 1 ? argv[1] : "";
    if ((mode == "csv" || mode == "json") && argc == 4) return generate(mode == "json", argv[2], std::atol(argv[3]));
    if (mode == "convert" && argc == 6) {
        auto from = SupportedFormat::fromRawValue(argv[3]);
        auto to = SupportedFormat::fromRawValue(argv[4]);
        if (!from || !to) return 2;
        calvoro::ConversionLogger::shared().setOutputStream(stderr);
        auto start = std::chrono::steady_clock::now();
        try {
            calvoro::DataConverter::convert(argv[2], *from, *to, argv[5]);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "convert failed: %s\n", e.what());
            return 1;
        }
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        std::printf("%.3f\n", elapsed.count());
        return 0;
    }
    std::fprintf(stderr, "usage: data_bench csv|json <path> <MB> | convert <source> <from> <to> <outdir>\n");
    return 2;
}
