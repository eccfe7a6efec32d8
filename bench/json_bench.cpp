// Parse and write throughput of the JSON library, side by side with nlohmann-json on the
// same documents in the same run. Throughput is always counted on the document's own size,
// so that both sides are measured against the same bytes.
#include "json/json.h"

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

// The writer's characters as UTF-8 in memory, encoded as the file sink encodes them, into a
// buffer that only grows (like the file sink's block, it never shrinks between writes).
struct Utf8Buffer {
    std::vector<char> block = std::vector<char>(1 << 16);
    size_t fill = 0;
};

int PutUtf8(void* context, uint32_t v) {
    auto* out = static_cast<Utf8Buffer*>(context);
    if (out->fill + 4 > out->block.size()) out->block.resize(out->block.size() * 2);
    char* p = out->block.data() + out->fill;
    if (v < 0x80) {
        *p = char(v);
        out->fill += 1;
        return 1;
    }
    uint32_t c = v & 0xFFFF;
    if (v >> 16) c = 0x10000 + ((c - 0xD800) << 10) + ((v >> 16) - 0xDC00);
    char* start = p;
    if (c < 0x800) {
        *p++ = char(0xC0 | c >> 6);
    } else if (c < 0x10000) {
        *p++ = char(0xE0 | c >> 12);
        *p++ = char(0x80 | (c >> 6 & 0x3F));
    } else {
        *p++ = char(0xF0 | c >> 18);
        *p++ = char(0x80 | (c >> 12 & 0x3F));
        *p++ = char(0x80 | (c >> 6 & 0x3F));
    }
    *p++ = char(0x80 | (c & 0x3F));
    out->fill += size_t(p - start);
    return 1;
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

    std::printf("%-16s %9s | %10s %10s %6s | %10s %10s %6s\n", "document", "bytes", "parse MB/s",
                "nlohmann", "ratio", "write MB/s", "nlohmann", "ratio");
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
        Utf8Buffer out;
        double ourWrite = Measure([&] {
            out.fill = 0;
            if (!JsonWriteValue(JsonRoot(0), JsonCharSink{PutUtf8, &out}, 0, 0)) std::abort();
        });
        nlohmann::json parsed = nlohmann::json::parse(text);
        std::string theirs;
        double theirWrite = Measure([&] { theirs = parsed.dump(); });

        std::printf("%-16s %9zu | %10.1f %10.1f %5.2fx | %10.1f %10.1f %5.2fx\n", row.name,
                    text.size(), mb / ourParse, mb / theirParse, theirParse / ourParse,
                    mb / ourWrite, mb / theirWrite, theirWrite / ourWrite);
    }
    JsonFree(AnyNumber);
    return 0;
}
