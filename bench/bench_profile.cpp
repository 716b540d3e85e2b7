// Loading an instance file into a profile document against inih's ini_parse on the same
// file: a typical instance (one section, four keys) and a large file (many sections and
// entries). inih runs twice: with a handler that keeps every entry, as a document does,
// and with one that keeps nothing, its fastest use.
#include <ini.h>

#include <string>
#include <utility>
#include <vector>

#include "profile_document.h"
#include "ratio.h"
#include "testkit.h"

namespace {

struct Files {
    testkit::TempDir dir;
    std::string typicalZ, largeZ;         // for the document: platform paths
    std::string typicalPosix, largePosix; // for inih
    Files() {
        std::string typical = "[Syslog\\Router alarms]\r\n"
                              "CLSID={69DD7B00-B669-11D4-804A-0001025EB176}\r\n"
                              "Address=192.168.10.20\r\n"
                              "Message=%Name on %Host is %Status since %Time\r\n"
                              "Port=514\r\n";
        std::string large;
        for (int s = 0; s < 100; ++s) {
            large += "; instance " + std::to_string(s) + "\r\n";
            large += "[TextSpeech\\Instance " + std::to_string(s) + "]\r\n";
            for (int k = 0; k < 100; ++k)
                large += "Key" + std::to_string(k) + "=Value number " + std::to_string(k) +
                         " of section " + std::to_string(s) + "\r\n";
        }
        testkit::WriteFile(dir / "typical", typical);
        testkit::WriteFile(dir / "large", large);
        typicalZ = testkit::ZPath(dir / "typical");
        largeZ = testkit::ZPath(dir / "large");
        typicalPosix = (dir / "typical").string();
        largePosix = (dir / "large").string();
    }
};

const Files& TheFiles() {
    static Files files;
    return files;
}

struct Kept {
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> sections;
};

int KeepEntry(void* user, const char* section, const char* name, const char* value) {
    auto* kept = static_cast<Kept*>(user);
    if (kept->sections.empty() || kept->sections.back().first != section)
        kept->sections.emplace_back(section, std::vector<std::pair<std::string, std::string>>{});
    kept->sections.back().second.emplace_back(name, value);
    return 1;
}

int DropEntry(void* user, const char*, const char*, const char*) {
    ++*static_cast<int*>(user);
    return 1;
}

void ProfileLoad(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        CProfileDocument doc;
        int result = doc.Load(path.c_str());
        benchmark::DoNotOptimize(result);
        if (result != 0)
            state.SkipWithError("load failed");
    }
}

void InihKeep(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        Kept kept;
        int result = ini_parse(path.c_str(), KeepEntry, &kept);
        benchmark::DoNotOptimize(result);
        if (result != 0)
            state.SkipWithError("ini_parse failed");
    }
}

void InihDrop(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        int count = 0;
        int result = ini_parse(path.c_str(), DropEntry, &count);
        benchmark::DoNotOptimize(count);
        if (result != 0)
            state.SkipWithError("ini_parse failed");
    }
}

void BM_ProfileLoad_Typical(benchmark::State& s) {
    ProfileLoad(s, TheFiles().typicalZ);
}
void BM_InihKeep_Typical(benchmark::State& s) {
    InihKeep(s, TheFiles().typicalPosix);
}
void BM_InihDrop_Typical(benchmark::State& s) {
    InihDrop(s, TheFiles().typicalPosix);
}
void BM_ProfileLoad_Large(benchmark::State& s) {
    ProfileLoad(s, TheFiles().largeZ);
}
void BM_InihKeep_Large(benchmark::State& s) {
    InihKeep(s, TheFiles().largePosix);
}
void BM_InihDrop_Large(benchmark::State& s) {
    InihDrop(s, TheFiles().largePosix);
}

BENCHMARK(BM_ProfileLoad_Typical);
BENCHMARK(BM_InihKeep_Typical);
BENCHMARK(BM_InihDrop_Typical);
BENCHMARK(BM_ProfileLoad_Large)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InihKeep_Large)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InihDrop_Large)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return bench::RunWithRatios(argc, argv,
                                {{"BM_ProfileLoad_Typical", "BM_InihKeep_Typical", "<= 1"},
                                 {"BM_ProfileLoad_Typical", "BM_InihDrop_Typical", "<= 1"},
                                 {"BM_ProfileLoad_Large", "BM_InihKeep_Large", "<= 1"},
                                 {"BM_ProfileLoad_Large", "BM_InihDrop_Large", "<= 1"}});
}
