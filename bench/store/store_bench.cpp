// ReadDoc and SaveDoc of tag documents of 1, 10 and 50 MB (UTF-16 input),
// beside pugixml parsing and writing the same tree as UTF-8 XML.
//
// SaveDoc includes flushing the new file to disk before it replaces the old
// one; BM_StoreWriteText measures the same work without the file.
// Times are CPU time of the process (user and system, so page faults count):
// on a machine shared with other work, wall-clock time measures the others
// as much as the store. Each figure is the median of the repetitions. The
// summary at the end gives the rates in millions of characters per second,
// the ratio of the store's rate to pugixml's (goal for ReadDoc: at least
// 0.5), and the time ratio 50 MB / 1 MB (linear is about 50).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "common/utf.h"
#include "store/dom.h"

#ifdef STORE_BENCH_HAVE_PUGIXML
#include <pugixml.hpp>
#endif

namespace fs = std::filesystem;
using namespace quill;

namespace {

struct Input {
  std::string tagPath;   // tag document (FF FE + UTF-16LE)
  std::string xmlPath;   // the same text as UTF-8 XML
  size_t tagBytes = 0;   // file size of the tag document
  size_t chars = 0;      // UTF-16 code units of its text
};

fs::path benchFolder() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() /
                 ("quillant-store-bench-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A catalogue-like document of about `mb` megabytes of UTF-16: items with
// attributes, text with entities and some Japanese, nested option lists.
std::string generate(size_t mb) {
  const size_t targetChars = mb * 1024 * 1024 / 2;
  std::mt19937 rng(42);
  std::string s = "<?xml version=\"1.0\"?>\r\n<Catalogue Name=\"Bench\">\r\n";
  size_t chars = s.size();
  for (int i = 0; chars < targetChars; ++i) {
    std::string item = "  <Item Code=\"A" + std::to_string(100000 + i) + "\" Name=\"Widget " + std::to_string(i) +
                       " \xE9\x83\xA8\xE5\x93\x81\" Price=\"" + std::to_string(rng() % 100000) +
                       "\" Group=\"Tools &amp; Parts\">\r\n    <Desc>A sturdy widget, size " +
                       std::to_string(rng() % 50) +
                       " &lt;mm&gt;, \xE6\x97\xA5\xE6\x9C\xAC\xE8\xA3\xBD. Ships in 3 days.</Desc>\r\n"
                       "    <Options>\r\n";
    for (int k = 0; k < 3; ++k)
      item += "      <Option Key=\"k" + std::to_string(k) + "\" Value=\"" + std::to_string(rng() % 1000) + "\"/>\r\n";
    item += "    </Options>\r\n  </Item>\r\n";
    chars += utf8ToUtf16le(item).size() / 2;
    s += item;
  }
  s += "</Catalogue>";
  return s;
}

const Input& input(size_t mb) {
  static std::map<size_t, Input> inputs;
  auto it = inputs.find(mb);
  if (it != inputs.end()) return it->second;
  Input in;
  const fs::path dir = benchFolder();
  in.tagPath = (dir / ("doc" + std::to_string(mb) + ".xml")).string();
  in.xmlPath = (dir / ("doc" + std::to_string(mb) + ".utf8.xml")).string();
  writeFile(in.tagPath, "\xFF\xFE" + utf8ToUtf16le(generate(mb)));
  // Both sides work on the tree as the store writes it.
  cvDomDoc doc;
  doc.readDoc(in.tagPath);
  doc.saveDoc();
  const std::string text = doc.documentText();
  writeFile(in.xmlPath, text);
  in.tagBytes = fs::file_size(in.tagPath);
  in.chars = (in.tagBytes - 2) / 2;
  return inputs.emplace(mb, in).first->second;
}

void setRates(benchmark::State& state, const Input& in) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.tagBytes));
  state.counters["chars"] =
      benchmark::Counter(static_cast<double>(in.chars) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

void BM_StoreReadDoc(benchmark::State& state) {
  const Input& in = input(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    cvDomDoc doc;
    doc.readDoc(in.tagPath);
    benchmark::DoNotOptimize(doc.root());
  }
  setRates(state, in);
}

void BM_StoreSaveDoc(benchmark::State& state) {
  const Input& in = input(static_cast<size_t>(state.range(0)));
  cvDomDoc doc;
  doc.readDoc(in.tagPath);
  const std::string out = in.tagPath + ".saved";
  for (auto _ : state) doc.saveDoc(out);  // overwrites in place
  setRates(state, in);
}

// SaveDoc without the file: the document text and its UTF-16 form.
void BM_StoreWriteText(benchmark::State& state) {
  const Input& in = input(static_cast<size_t>(state.range(0)));
  cvDomDoc doc;
  doc.readDoc(in.tagPath);
  for (auto _ : state) benchmark::DoNotOptimize(utf8ToUtf16le(doc.documentText()));
  setRates(state, in);
}

#ifdef STORE_BENCH_HAVE_PUGIXML
void BM_PugixmlParse(benchmark::State& state) {
  const Input& in = input(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    pugi::xml_document doc;
    auto result = doc.load_file(in.xmlPath.c_str(), pugi::parse_default, pugi::encoding_utf8);
    if (!result) state.SkipWithError(result.description());
    benchmark::DoNotOptimize(doc.first_child());
  }
  setRates(state, in);
}

void BM_PugixmlSave(benchmark::State& state) {
  const Input& in = input(static_cast<size_t>(state.range(0)));
  pugi::xml_document doc;
  doc.load_file(in.xmlPath.c_str(), pugi::parse_default, pugi::encoding_utf8);
  const std::string out = in.xmlPath + ".saved";
  for (auto _ : state)
    if (!doc.save_file(out.c_str(), "", pugi::format_raw, pugi::encoding_utf8)) state.SkipWithError("save");
  setRates(state, in);
}
#endif

void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
}

BENCHMARK(BM_StoreReadDoc)->Apply(sizes);
BENCHMARK(BM_StoreSaveDoc)->Apply(sizes);
BENCHMARK(BM_StoreWriteText)->Apply(sizes);
#ifdef STORE_BENCH_HAVE_PUGIXML
BENCHMARK(BM_PugixmlParse)->Apply(sizes);
BENCHMARK(BM_PugixmlSave)->Apply(sizes);
#endif

// Collects the medians for the summary.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.aggregate_name != "median") continue;
      const double seconds = r.GetAdjustedCPUTime() / 1e3;  // reported in milliseconds
      auto c = r.counters.find("chars");
      medians[r.run_name.function_name + "/" + r.run_name.args] = {seconds,
                                                                      c == r.counters.end() ? 0 : c->second.value};
    }
  }
  std::map<std::string, std::pair<double, double>> medians;  // seconds, chars per second
};

void summary(const Collector& c) {
  auto get = [&](const std::string& name, int mb) -> std::pair<double, double> {
    auto it = c.medians.find(name + "/" + std::to_string(mb));
    return it == c.medians.end() ? std::pair<double, double>{0, 0} : it->second;
  };
  std::printf("\nSummary (medians; Mchar/s = millions of characters per second)\n");
  std::printf("%-6s %14s %14s %8s %14s %14s %8s\n", "size", "ReadDoc", "pugi parse", "ratio", "SaveDoc",
              "pugi save", "ratio");
  for (int mb : {1, 10, 50}) {
    const auto r = get("BM_StoreReadDoc", mb), pr = get("BM_PugixmlParse", mb);
    const auto s = get("BM_StoreSaveDoc", mb), ps = get("BM_PugixmlSave", mb);
    std::printf("%3d MB %9.1f Mc/s %9.1f Mc/s %8.2f %9.1f Mc/s %9.1f Mc/s %8.2f\n", mb, r.second / 1e6,
                pr.second / 1e6, pr.second > 0 ? r.second / pr.second : 0.0, s.second / 1e6, ps.second / 1e6,
                ps.second > 0 ? s.second / ps.second : 0.0);
  }
  for (const char* name :
       {"BM_StoreReadDoc", "BM_StoreSaveDoc", "BM_StoreWriteText", "BM_PugixmlParse", "BM_PugixmlSave"}) {
    const double t1 = get(name, 1).first, t50 = get(name, 50).first;
    if (t1 > 0) std::printf("time 50 MB / 1 MB, %-16s %6.1f\n", name, t50 / t1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  summary(collector);
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(benchFolder(), ec);
  return 0;
}
