// Generated and mutated templates, checked against a slow reference that
// follows the template rules literally with std::regex: same tree, same
// messages, same rendered text, for any input.
#include <random>
#include <regex>

#include "test_util.h"

using namespace quill;
using namespace quill::test;

namespace {

std::string escapeRegex(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

struct RefPart {
  int type = 1;
  std::string key, org;
  std::vector<std::pair<std::string, std::string>> attrs;
  std::vector<std::string> vars;
  std::vector<RefPart> kids;
};

struct Reference {
  std::string prefix = "MARL", start = "{", end = "}";
  std::string errors;

  static const std::string* find(const std::vector<std::pair<std::string, std::string>>& a, const std::string& k) {
    for (const auto& [n, v] : a)
      if (n == k) return &v;
    return nullptr;
  }
  static void addVar(std::vector<std::string>& vars, const std::string& name) {
    if (std::find(vars.begin(), vars.end(), name) == vars.end()) vars.push_back(name);
  }

  RefPart textPart(RefPart& c, const std::string& text) {
    RefPart t;
    t.type = 2;
    t.key = c.key;
    t.org = text;
    const std::regex ph(escapeRegex(start) + "\\w+?" + escapeRegex(end));
    for (std::sregex_iterator it(text.begin(), text.end(), ph), e; it != e; ++it) {
      const std::string m = it->str();
      const std::string name = m.substr(start.size(), m.size() - start.size() - end.size());
      addVar(c.vars, name);
      addVar(t.vars, name);
    }
    return t;
  }

  bool parse(RefPart& c, std::string& text) {
    static const std::regex attrRe("\\s*(\\w+)\\s*=\\s*\"([^\\n]*?)\"\\s*");
    const std::regex tagRe("<!--\\s*" + escapeRegex(prefix) + ":(\\w+)([\\s\\S]*?)-->");
    while (!text.empty()) {
      std::smatch m;
      const bool found = std::regex_search(text, m, tagRe);
      const std::string before = found ? m.prefix().str() : text;
      const std::string type = found ? m[1].str() : "";
      std::string attrText = found ? m[2].str() : "";
      text = found ? m.suffix().str() : "";
      if (!before.empty()) c.kids.push_back(textPart(c, before));
      if (!found) break;
      if (type != "HtmlPart") continue;
      for (size_t p; (p = attrText.find("\r\n")) != std::string::npos;) attrText.erase(p, 2);
      std::vector<std::pair<std::string, std::string>> attrs;
      for (std::smatch a; std::regex_search(attrText, a, attrRe); attrText = a.suffix().str()) {
        const std::string value = htmlEntitiesDecode(a[2].str());
        bool seen = false;
        for (auto& [n, v] : attrs)
          if (n == a[1].str()) v = value, seen = true;
        if (!seen) attrs.emplace_back(a[1].str(), value);
      }
      const std::string* position = find(attrs, "_POSITION");
      const std::string* key = find(attrs, "_KEY");
      if (position && *position == "START") {
        RefPart p;
        p.attrs = attrs;
        if (key) p.key = *key; else p.attrs.emplace_back("_KEY", "");
        if (parse(p, text)) c.kids.push_back(std::move(p));
        else errors += "Without \"END\" definition of Key [" + p.key + "]\r\n";
      } else if (position && *position == "END" && (key ? *key : "") == c.key) {
        return true;
      }
    }
    return false;
  }
};

void expectSameTree(const MarlPart& got, const RefPart& want, const std::string& where) {
  ASSERT_EQ(got.partType(), want.type) << where;
  ASSERT_EQ(got.key(), want.key) << where;
  ASSERT_EQ(got.orgText(), want.type == 2 ? want.org : "") << where;
  ASSERT_EQ(got.vars().varKeys(), want.vars) << where;
  ASSERT_EQ(static_cast<size_t>(got.attrCount()), want.attrs.size()) << where;
  for (size_t i = 0; i < want.attrs.size(); ++i) {
    ASSERT_EQ(got.attrName(static_cast<int64_t>(i + 1)), want.attrs[i].first) << where;
    ASSERT_EQ(got.getAttr(want.attrs[i].first), want.attrs[i].second) << where;
  }
  ASSERT_EQ(got.parts().size(), want.kids.size()) << where;
  for (size_t i = 0; i < want.kids.size(); ++i)
    expectSameTree(*got.parts().at(i), want.kids[i], where + "/" + std::to_string(i + 1));
}

// Renders every text part with random values and compares with the
// variable-by-variable replacement done by hand.
void expectSameRendering(const MarlPart& part, std::mt19937& rng, const std::vector<std::string>& values) {
  for (size_t i = 0; i < part.vars().size(); ++i) part.vars().at(i).replace(values[rng() % values.size()]);
  std::string containerText;
  for (const auto& c : part.parts()) {
    if (!c->isText()) {
      expectSameRendering(*c, rng, values);
      continue;
    }
    std::string want = c->orgText();
    for (size_t i = 0; i < c->vars().size(); ++i) {
      const MarlVar& v = c->vars().at(i);
      std::string out;
      size_t done = 0;
      for (size_t hit; (hit = want.find(v.placeholder(), done)) != std::string::npos; done = hit + v.placeholder().size())
        out += want.substr(done, hit - done) + v.value();
      want = out + want.substr(done);
    }
    ASSERT_EQ(c->getText(), want) << c->orgText();
    containerText += want;
  }
  ASSERT_EQ(part.getText(), containerText);
}

std::string generate(std::mt19937& rng, const Reference& r) {
  const std::string keys[] = {"A", "B", ""};
  const std::string pieces[] = {
      "text ", "\r\n", "{A}", "{B}", "{Na", "me}", "{", "}", "{x_1}", "<!--", "-->", "<!-- plain -->", "\"",
      "<!-- MARL :HtmlPart -->", "<!--MARL:Other _KEY=\"A\" _POSITION=\"START\"-->", "&amp;lt;", "é",
      "<!-- MARL:HtmlPart _POSITION=\"END\" -->", "<!--\r\n" + r.prefix + ":HtmlPart\r\n_KEY=\"A\"\r\n_POSITION=\"START\"-->",
      "<!--" + r.prefix + ":HtmlPart _KEY='B' _POSITION=\"START\" x=\"1\" x=\"2\"-->", r.start + "A" + r.end,
      r.start + "Na" + r.start + "v" + r.end + "me" + r.end};
  auto tag = [&](const std::string& k, const char* position) {
    return "<!-- " + r.prefix + ":HtmlPart _KEY=\"" + k + "\" _POSITION=\"" + position + "\" -->";
  };
  // Mostly balanced blocks, with stray END tags now and then.
  std::string t;
  std::vector<std::string> open;
  const int n = static_cast<int>(rng() % 40);
  for (int i = 0; i < n; ++i) {
    const unsigned roll = rng() % 8;
    if (roll < 2) {
      open.push_back(keys[rng() % 3]);
      t += tag(open.back(), "START");
    } else if (roll < 4 && !open.empty()) {
      t += tag(open.back(), "END");
      open.pop_back();
    } else if (roll == 4) {
      t += tag(keys[rng() % 3], "END");
    } else {
      t += pieces[rng() % std::size(pieces)];
    }
  }
  if (rng() % 4 != 0)
    for (; !open.empty(); open.pop_back()) t += tag(open.back(), "END");
  // Mutations: deleted, inserted and changed characters.
  const std::string alphabet = "<!->{}\"=:_ \r\nAMRLHtmlPart";
  for (int m = static_cast<int>(rng() % 4); m > 0 && !t.empty(); --m) {
    const size_t at = rng() % t.size();
    switch (rng() % 3) {
      case 0: t.erase(at, 1 + rng() % 3); break;
      case 1: t.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
      default: t[at] = alphabet[rng() % alphabet.size()];
    }
  }
  return t;
}

}  // namespace

TEST(Random, TemplatesMatchTheLiteralRules) {
  struct Codes {
    std::string prefix, start, end;
  };
  const Codes settings[] = {{"MARL", "{", "}"}, {"M", "[", "]"}, {" M", "|", "|"}, {"MARL", "a", "b"},
                            {"X", "{{", "}}"}, {"", "", "}"}};
  const std::vector<std::string> values = {"", "A", "Na", "{", "}", "{A}", "me}", "x{B}y", "{Na", "[A]", "|A|", "b"};
  std::mt19937 rng(20261207);
  int loaded = 0, withBlocks = 0;
  for (int round = 0; round < 3000; ++round) {
    const Codes& c = settings[round % 5 == 4 ? rng() % std::size(settings) : 0];
    Reference ref;
    ref.prefix = c.prefix;
    ref.start = c.start;
    ref.end = c.end;
    const std::string text = generate(rng, ref);
    const std::string opt = "MARL_ID=" + c.prefix + ";VAR_START_CODE=" + c.start + ";VAR_END_CODE=" + c.end;

    MarlDoc doc;
    const std::string message = loadText(doc, text, opt);
    RefPart want;
    std::string rest = text;
    ref.parse(want, rest);
    ASSERT_EQ(message, ref.errors) << text;
    if (!message.empty()) continue;
    ++loaded;
    withBlocks += std::any_of(want.kids.begin(), want.kids.end(), [](const RefPart& p) { return p.type == 1; });
    ASSERT_NO_FATAL_FAILURE(expectSameTree(*doc.rootPart(), want, text));
    ASSERT_NO_FATAL_FAILURE(expectSameRendering(*doc.rootPart(), rng, values));
  }
  // Both outcomes are well represented.
  EXPECT_GT(loaded, 1000);
  EXPECT_GT(withBlocks, 300);
  EXPECT_LT(loaded, 2900);
}
