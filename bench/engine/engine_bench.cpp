// Template engine figures: parse throughput on large templates, and the time
// to render one detail page, beside ctemplate and mstch rendering the same
// page with the same values.
//
// The page is rendered two ways by this engine. "by name" is what the page
// generators do: every page looks each variable up by name in its part and
// walks the parts, comparing block keys. "resolved once" keeps pointers to
// the variables and parts found when the template was loaded. ctemplate also
// sets every value by name into a fresh dictionary per page, so "by name"
// against ctemplate is the like-for-like figure. mstch's only public call,
// mstch::render(text, context), parses the template again for every page,
// so its figure includes a parse per page.
//
// Rendering is timed in rounds: each renderer writes a batch of pages in turn
// (thread CPU time, so time given to other processes does not count), and the
// ratios are the medians of the ratios within each round.
//
//   engine_bench [--rounds N] [google benchmark flags, for parsing]
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/marl_doc.h"

#ifdef HAVE_CTEMPLATE
#include <ctemplate/template.h>
#endif
#ifdef HAVE_MSTCH
#include <mstch/mstch.hpp>
#endif

using namespace quill;

namespace {

// ----------------------------------------------------------------- parsing

// Mostly HTML: a tag about every 200 bytes, a placeholder about every 50.
std::string makeLargeTemplate(size_t bytes) {
  std::string t = "<html><head><title>{Title}</title></head><body>\r\n";
  const char* cells[] = {"<td class=\"name\">{Name}</td>", "<td class=\"price\">{Price}</td>",
                         "<td class=\"maker\">{Maker}</td>", "<td class=\"code\">{Code}</td>"};
  for (size_t row = 0; t.size() < bytes; ++row) {
    t += "<!-- MARL:HtmlPart _KEY=\"Row\" _POSITION=\"START\" -->\r\n<tr class=\"r\">";
    for (int c = 0; c < 3; ++c) t += cells[(row + c) % 4], t += "\r\n  <td>&nbsp;</td>\r\n";
    t += "</tr>\r\n<!-- MARL:HtmlPart _KEY=\"Row\" _POSITION=\"END\" -->\r\n<p class=\"sep\">{Note}</p>\r\n";
  }
  return t + "</body></html>\r\n";
}

// Parsing alone: each load goes into a new document; the tree of the
// previous one is freed outside the timed part.
void parse(benchmark::State& state) {
  const std::string text = makeLargeTemplate(static_cast<size_t>(state.range(0)) << 20);
  for (auto _ : state) {
    auto doc = std::make_unique<MarlDoc>();
    if (!doc->loadFile(text, "SOURCE_TYPE=1").empty()) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(doc->rootPart());
    state.PauseTiming();
    doc.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["template_MB"] = static_cast<double>(text.size()) / (1 << 20);
}
BENCHMARK(parse)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Loading again into the same document: parsing plus freeing the old tree.
void reload(benchmark::State& state) {
  const std::string text = makeLargeTemplate(static_cast<size_t>(state.range(0)) << 20);
  MarlDoc doc;
  for (auto _ : state) {
    if (!doc.loadFile(text, "SOURCE_TYPE=1").empty()) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(doc.rootPart());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(reload)->Arg(20)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// --------------------------------------------------------------- rendering

// One detail page written once in a neutral notation: $Name$ for a value,
// @ and ~ for the start and end of the repeated block.
const char* const kDetailSkeleton = R"(<!DOCTYPE html>
<html lang="ja"><head><meta charset="utf-8"><title>$Title$ - $Shop$</title>
<meta name="description" content="$Summary$">
<link rel="stylesheet" href="../css/site.css">
<style>
body { font-family: sans-serif; margin: 0; padding: 0; color: #333; background: #fff; }
#header { background: #3a5f8a; color: #fff; padding: 12px 24px; }
#header a { color: #fff; text-decoration: none; }
#main { width: 860px; margin: 16px auto; }
table.features { border-collapse: collapse; width: 100%; margin-top: 12px; }
table.features th, table.features td { border: 1px solid #ccc; padding: 4px 8px; text-align: left; }
.price { font-size: 1.4em; color: #b00; font-weight: bold; }
.note { font-size: 0.9em; color: #666; }
</style></head>
<body>
<div id="header"><a href="../Index.htm">$Shop$</a> &gt; <a href="$GroupPage$">$Group$</a> &gt; $Title$</div>
<div id="nav"><ul>
<li><a href="../Group_Pots.htm">Pots</a></li><li><a href="../Group_Cups.htm">Cups</a></li>
<li><a href="../Group_Plates.htm">Plates</a></li><li><a href="../Group_Bowls.htm">Bowls</a></li>
<li><a href="../Group_Vases.htm">Vases</a></li><li><a href="../Group_Boxes.htm">Boxes</a></li>
<li><a href="../Group_Trays.htm">Trays</a></li><li><a href="../Group_Sets.htm">Gift sets</a></li>
</ul></div>
<div id="main">
<h1>$Title$</h1>
<table class="item"><tr>
<td class="photo"><img src="../img/$Code$.jpg" alt="$Title$" width="240" height="240"></td>
<td class="facts">
<p>Item code: <b>$Code$</b></p>
<p>Maker: $Maker$</p>
<p class="price">$Price$ yen (tax included)</p>
<p>Stock: $Stock$</p>
<p class="note">$Note$</p>
</td></tr></table>
<h2>Features</h2>
<table class="features"><tr><th>Item</th><th>Value</th><th>Unit</th></tr>
@<tr><td>$FeatureName$</td><td>$FeatureValue$</td><td>$FeatureUnit$</td></tr>
~</table>
<h2>Description</h2>
<div class="desc">$Description$</div>
<p class="note">Prices and stock are those of the day this page was made. Please ask us before ordering
large quantities; we answer every mail within two working days.</p>
<p class="note">Every piece is made by hand, so colour and size differ a little from piece to piece and
from the photograph. Small dark spots in the glaze come from iron in the clay and are no fault. Wash by
hand with a soft sponge; the pieces go into a microwave oven but not into a dish washer.</p>
<p><a href="$GroupPage$">Back to $Group$</a> | <a href="../Index.htm">Back to the index</a></p>
</div>
<div id="footer" class="note">Updated $Updated$. Copyright 2026 $Shop$. All rights reserved.</div>
</body></html>
)";

const char* const kOuterNames[] = {"Title", "Shop", "Summary", "GroupPage", "Group", "Code",
                                   "Maker", "Price", "Stock", "Note", "Description", "Updated"};
const char* const kRowNames[] = {"FeatureName", "FeatureValue", "FeatureUnit"};
constexpr int kRows = 5;

std::string convert(const char* open, const char* close, const std::string& blockStart, const std::string& blockEnd) {
  std::string out;
  bool inName = false;
  for (const char* p = kDetailSkeleton; *p; ++p) {
    if (*p == '$') out += (inName = !inName) ? open : close;
    else if (*p == '@') out += blockStart;
    else if (*p == '~') out += blockEnd;
    else out += *p;
  }
  return out;
}

struct PageValues {
  std::vector<std::string> outer;
  std::vector<std::vector<std::string>> rows;
};

PageValues valuesFor(int page) {
  PageValues v;
  const std::string n = std::to_string(page);
  v.outer = {"Ceramic tea pot " + n, "Kobo Shop", "A hand-made tea pot, model " + n, "Group_Pots.htm", "Pots",
             "TP-" + n, "Seto Kiln", "4,800", "12", "Ships in 3 days", "Thrown by hand and fired twice. " + n,
             "2026-12-07"};
  const char* features[kRows][3] = {{"Height", "14", "cm"}, {"Width", "18", "cm"}, {"Volume", "600", "ml"},
                                    {"Weight", "520", "g"}, {"Colour", "blue", "-"}};
  for (auto& s : features) v.rows.push_back({s[0], s[1] + std::string(".") + n.substr(0, 1), s[2]});
  return v;
}

struct MarlPage {
  MarlDoc doc;
  MarlPart* head = nullptr;
  MarlPart* block = nullptr;
  MarlPart* tail = nullptr;
  std::vector<MarlVar*> outer;
  std::vector<MarlVar*> row;

  MarlPage() {
    const std::string text =
        convert("{", "}", "<!-- MARL:HtmlPart _KEY=\"Feature\" _POSITION=\"START\" -->",
                "<!-- MARL:HtmlPart _KEY=\"Feature\" _POSITION=\"END\" -->");
    if (!doc.loadFile(text, "SOURCE_TYPE=1").empty()) std::abort();
    const MarlPart& root = *doc.rootPart();
    head = root.parts().part(1).get();
    block = root.parts().part(2).get();
    tail = root.parts().part(3).get();
    for (const char* n : kOuterNames) outer.push_back(root.vars().find(n));
    for (const char* n : kRowNames) row.push_back(block->vars().find(n));
  }
  void render(const PageValues& v, std::string& out) {
    doc.rootPart()->vars().reset();
    block->vars().reset();
    for (size_t i = 0; i < outer.size(); ++i) outer[i]->replace(v.outer[i]);
    head->appendText(out);
    for (const auto& r : v.rows) {
      for (size_t i = 0; i < row.size(); ++i) row[i]->replace(r[i]);
      block->appendText(out);
    }
    tail->appendText(out);
  }
};

// As the generators do it: variables set by name, parts walked per page.
struct MarlByNamePage {
  MarlDoc doc;

  MarlByNamePage() {
    const std::string text =
        convert("{", "}", "<!-- MARL:HtmlPart _KEY=\"Feature\" _POSITION=\"START\" -->",
                "<!-- MARL:HtmlPart _KEY=\"Feature\" _POSITION=\"END\" -->");
    if (!doc.loadFile(text, "SOURCE_TYPE=1").empty()) std::abort();
  }
  static void setVar(MarlPart& part, std::string_view name, std::string_view value) {
    if (MarlVar* v = part.vars().find(name)) v->replace(value);
  }
  static void writeText(const MarlPart& part, std::string& out) {
    for (const auto& child : part.parts())
      if (child->isText()) child->appendText(out);
  }
  void render(const PageValues& v, std::string& out) {
    MarlPart& root = *doc.rootPart();
    root.vars().reset();
    for (size_t i = 0; i < v.outer.size(); ++i) setVar(root, kOuterNames[i], v.outer[i]);
    for (const auto& child : root.parts()) {
      if (child->isText()) {
        child->appendText(out);
      } else if (child->key() == "Feature") {
        for (const auto& r : v.rows) {
          child->vars().reset();
          for (size_t i = 0; i < r.size(); ++i) setVar(*child, kRowNames[i], r[i]);
          writeText(*child, out);
        }
      }
    }
  }
};

#ifdef HAVE_CTEMPLATE
struct CtemplatePage {
  CtemplatePage() {
    ctemplate::StringToTemplateCache("detail", convert("{{", "}}", "{{#Feature}}", "{{/Feature}}"), ctemplate::DO_NOT_STRIP);
  }
  void render(const PageValues& v, std::string& out) {
    ctemplate::TemplateDictionary dict("detail");
    for (size_t i = 0; i < v.outer.size(); ++i) dict.SetValue(kOuterNames[i], v.outer[i]);
    for (const auto& r : v.rows) {
      ctemplate::TemplateDictionary* row = dict.AddSectionDictionary("Feature");
      for (size_t i = 0; i < r.size(); ++i) row->SetValue(kRowNames[i], r[i]);
    }
    ctemplate::ExpandTemplate("detail", ctemplate::DO_NOT_STRIP, &dict, &out);
  }
};
#endif

#ifdef HAVE_MSTCH
struct MstchPage {
  std::string text = convert("{{{", "}}}", "{{#Feature}}", "{{/Feature}}");
  void render(const PageValues& v, std::string& out) {
    mstch::map context;
    for (size_t i = 0; i < v.outer.size(); ++i) context.emplace(kOuterNames[i], v.outer[i]);
    mstch::array rows;
    for (const auto& r : v.rows) {
      mstch::map row;
      for (size_t i = 0; i < r.size(); ++i) row.emplace(kRowNames[i], r[i]);
      rows.push_back(std::move(row));
    }
    context.emplace("Feature", std::move(rows));
    out += mstch::render(text, context);
  }
};
#endif

const std::vector<PageValues>& pages() {
  static const std::vector<PageValues> all = [] {
    std::vector<PageValues> p;
    for (int i = 0; i < 64; ++i) p.push_back(valuesFor(i));
    return p;
  }();
  return all;
}

// All renderers must write the same page.
bool samePages() {
  MarlPage marl;
  std::string reference;
  marl.render(pages()[7], reference);
  bool same = reference.size() > 2500;
  if (!same) std::fprintf(stderr, "page too short: %zu bytes\n", reference.size());
  MarlByNamePage byName;
  std::string b;
  byName.render(pages()[7], b);
  if (b != reference) std::fprintf(stderr, "rendering by name gives another page\n"), same = false;
#ifdef HAVE_CTEMPLATE
  CtemplatePage ct;
  std::string c;
  ct.render(pages()[7], c);
  if (c != reference) std::fprintf(stderr, "ctemplate renders another page\n"), same = false;
#endif
#ifdef HAVE_MSTCH
  MstchPage ms;
  std::string m;
  ms.render(pages()[7], m);
  if (m != reference) std::fprintf(stderr, "mstch renders another page\n"), same = false;
#endif
  return same;
}

double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// One renderer: writes `count` pages and returns the CPU time per page.
struct Renderer {
  const char* name;
  std::function<double(int count)> timePages;
  long batch = 0;  // pages per round, about 0.1 s of CPU time
};

template <class Page>
Renderer makeRenderer(const char* name) {
  auto page = std::make_shared<Page>();
  return {name, [page](int count) {
            std::string out;
            const double start = threadSeconds();
            for (int i = 0; i < count; ++i) {
              out.clear();
              page->render(pages()[static_cast<size_t>(i) & 63], out);
              benchmark::DoNotOptimize(out.data());
            }
            return (threadSeconds() - start) / count;
          }};
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double loadAverage() {
  double load = -1;
  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = -1;
    std::fclose(f);
  }
  return load;
}

void compareRendering(int rounds) {
  std::vector<Renderer> renderers = {makeRenderer<MarlByNamePage>("marl, by name"),
                                     makeRenderer<MarlPage>("marl, resolved once")};
#ifdef HAVE_CTEMPLATE
  renderers.push_back(makeRenderer<CtemplatePage>("ctemplate"));
#endif
#ifdef HAVE_MSTCH
  renderers.push_back(makeRenderer<MstchPage>("mstch"));
#endif
  for (Renderer& r : renderers) {
    r.timePages(200);  // warm up
    r.batch = std::max(100L, static_cast<long>(0.1 / r.timePages(500)));
  }
  const double loadBefore = loadAverage();
  std::vector<std::vector<double>> perPage(renderers.size());
  for (int round = 0; round < rounds; ++round)
    for (size_t k = 0; k < renderers.size(); ++k)
      perPage[k].push_back(renderers[k].timePages(static_cast<int>(renderers[k].batch)));

  std::printf("\nRendering one detail page (%d rounds, thread CPU time per page, load average %.1f before, %.1f "
              "after)\n",
              rounds, loadBefore, loadAverage());
  for (size_t k = 0; k < renderers.size(); ++k) {
    std::vector<double> v = perPage[k];
    std::sort(v.begin(), v.end());
    std::printf("%-22s median %8.0f ns/page  (range %.0f-%.0f)\n", renderers[k].name, median(v) * 1e9,
                v.front() * 1e9, v.back() * 1e9);
  }
  auto ratio = [&](size_t mine, size_t anchor) {
    if (anchor >= renderers.size()) return;
    std::vector<double> v;
    for (int i = 0; i < rounds; ++i) v.push_back(perPage[mine][i] / perPage[anchor][i]);
    std::sort(v.begin(), v.end());
    std::printf("%-20s / %-10s = %.3f  (median of the rounds; range %.3f-%.3f)\n", renderers[mine].name,
                renderers[anchor].name, median(v), v.front(), v.back());
  };
  for (size_t anchor = 2; anchor < renderers.size(); ++anchor) {
    ratio(0, anchor);
    ratio(1, anchor);
  }
  std::printf("(time ratios, below 1 is faster; mstch parses the template on every page, see above)\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (!samePages()) return 1;
  int rounds = 15;
  std::vector<char*> args = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else
      args.push_back(argv[i]);
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  compareRendering(rounds);
  return 0;
}
