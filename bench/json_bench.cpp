// Parse and write throughput of the JSON library, side by side with nlohmann-json on the
// same documents in the same run. Parsing is counted on the document's size; writing on the
// text each side produces (compact), since our doubles are written with 32 significant
// digits where nlohmann-json writes the shortest form: the table shows both sizes, and the
// time ratio of the writes as well.
#include "json/json.h"
#include "json/json_internal.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Seconds per run: the best of several rounds, each repeated for at least 50 ms.
double Measure(const std::function<void()>& run) {
    double best = 1e30;
    for (int round = 0; round < 5; ++round) {
        int count = 0;
        auto start = Clock::now();
        double elapsed;
        do {
            run();
            ++count;
            elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        } while (elapsed < 0.05);
        if (elapsed / count < best) best = elapsed / count;
    }
    return best;
}

// Writing is measured on the path a save takes: the writer filling the library's UTF-8
// block sink, whose blocks go to memory here instead of a file.
struct Output {
    std::vector<char> bytes;
};

bool FlushToMemory(json_internal::Utf8Sink* sink) {
    auto* out = static_cast<Output*>(sink->context);
    out->bytes.insert(out->bytes.end(), sink->buffer, sink->buffer + sink->fill);
    sink->fill = 0;
    return true;
}

size_t WriteDocument(Output& out) {
    static uint8_t block[json_internal::Utf8Sink::Size];
    out.bytes.clear();
    json_internal::Utf8Sink sink{block, 0, FlushToMemory, &out};
    if (!json_internal::WriteUtf8(JsonRoot(0), sink, 0) || !FlushToMemory(&sink)) std::abort();
    return out.bytes.size();
}

std::string SettingsFile() {
    return "{\r\n  \"forceOff\"  : 0,\r\n  \"runAsAdmin\": 0,\r\n  \"beeptime\"  : 3000\r\n}";
}

std::string MixedDocument() {
    std::mt19937 random(7);
    const char* cities[] = {"Zürich", "Tromsø", "København", "Łódź", "Paris", "東京"};
    std::string out = "[";
    for (int i = 0; out.size() < 1000000; ++i) {
        if (i) out += ',';
        char record[700];
        std::snprintf(record, sizeof record,
                      "{\"id\":%d,\"name\":\"user %d\",\"email\":\"user%d@example.org\","
                      "\"active\":%s,\"score\":%d.%02d,\"ratio\":%g,\"tags\":[\"alpha\",\"beta\","
                      "\"tag%d\"],\"address\":{\"street\":\"%d Main Street\",\"city\":\"%s\","
                      "\"zip\":\"%05d\"},\"note\":%s,\"counts\":[%d,%d,%d,%d]}",
                      i, i, i, random() % 2 ? "true" : "false", int(random() % 1000),
                      int(random() % 100), double(random() % 100000) / 997.0, i % 17,
                      int(random() % 999), cities[random() % 6], int(random() % 99999),
                      i % 3 ? "null" : "\"tab\\tand \\\"quotes\\\"\"", int(random() % 100),
                      int(random() % 10000), -int(random() % 1000), int(random()));
        out += record;
    }
    return out + "]";
}

std::string NumberArray() {
    std::mt19937_64 random(11);
    std::string out = "[";
    char number[64];
    for (int i = 0; out.size() < 5000000; ++i) {
        if (i) out += ',';
        if (i % 2)
            std::snprintf(number, sizeof number, "%lld",
                          static_cast<long long>(random() % 2000000) - 1000000);
        else
            std::snprintf(number, sizeof number, "%.6g", double(random() % 1000000) / 977.0);
        out += number;
    }
    return out + "]";
}

std::string WideObject() {
    std::string out = "{";
    char member[64];
    for (int i = 0; i < 100000; ++i) {
        std::snprintf(member, sizeof member, "%s\"member%06d\":%d", i ? "," : "", i, i);
        out += member;
    }
    return out + "}";
}

struct Row {
    const char* name;
    std::string text;
};

} // namespace

int main() {
    RuntimeUse(JsonLibrary());
    RuntimeInit();

    Row rows[] = {
        {"settings file", SettingsFile()},
        {"1 MB mixed", MixedDocument()},
        {"5 MB numbers", NumberArray()},
        {"100000 members", WideObject()},
    };

    std::printf("%-16s %9s | %10s %9s %6s | %10s %9s %6s | %9s %9s %10s\n", "document", "bytes",
                "parse MB/s", "nlohmann", "ratio", "write MB/s", "nlohmann", "ratio", "written",
                "nlohmann", "time ratio");
    for (const Row& row : rows) {
        const std::string& text = row.text;
        double mb = double(text.size()) / 1e6;

        double ourParse = Measure([&] {
            if (!JsonParseMemory(0, text.data(), int64_t(text.size()))) std::abort();
        });
        double theirParse = Measure([&] {
            nlohmann::json j = nlohmann::json::parse(text);
            if (j.is_null()) std::abort();
        });

        if (!JsonParseMemory(0, text.data(), int64_t(text.size()))) std::abort();
        Output out;
        double ourWrite = Measure([&] { WriteDocument(out); });
        nlohmann::json parsed = nlohmann::json::parse(text);
        std::string theirs;
        double theirWrite = Measure([&] { theirs = parsed.dump(); });

        double ourMb = double(WriteDocument(out)) / 1e6, theirMb = double(theirs.size()) / 1e6;
        std::printf("%-16s %9zu | %10.1f %9.1f %5.2fx | %10.1f %9.1f %5.2fx | %9zu %9zu %9.2fx\n",
                    row.name, text.size(), mb / ourParse, mb / theirParse, theirParse / ourParse,
                    ourMb / ourWrite, theirMb / theirWrite,
                    (ourMb / ourWrite) / (theirMb / theirWrite), size_t(ourMb * 1e6), theirs.size(),
                    theirWrite / ourWrite);
    }
    JsonFree(AnyNumber);
    return 0;
}
