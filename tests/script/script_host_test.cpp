#include "generator/script/script_host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/dispatch.h"
#include "common/object_factory.h"

using namespace quill;
using namespace quill::script;

namespace {

// A small scriptable class: a writable property, a read-only one, methods
// that report what they received, an indexed property and a failing method.
class Gadget : public Dispatch {
 public:
  std::string name = "gadget";
  std::vector<Variant> seen;

  const ClassInfo& classInfo() const override {
    static const ClassInfo info = [] {
      ClassInfo c("Gadget");
      c.property<Gadget>("Name", [](Gadget& g) { return Variant(g.name); },
                         [](Gadget& g, const Variant& v) { g.name = v.toText(); });
      c.property<Gadget>("Length", [](Gadget& g) { return Variant(int32_t(g.name.size())); });
      c.method<Gadget>("Kinds", 0, [](Gadget& g, Args a) {
        g.seen.assign(a.begin(), a.end());
        std::string kinds;
        for (const auto& v : a) kinds += std::to_string(int(v.type()));
        return Variant(kinds);
      });
      c.method<Gadget>("Echo", 1, [](Gadget&, Args a) { return a[0]; });
      c.method<Gadget>("Self", 0, [](Gadget& g, Args) { return Variant(g.shared_from_this()); });
      c.method<Gadget>("Names", 0, [](Gadget&, Args) { return Variant(std::vector<std::string>{"a", "b"}); });
      c.method<Gadget>("Nothing", 0, [](Gadget&, Args) { return Variant(Null{}); });
      c.indexedProperty<Gadget>("Item", 1, [](Gadget& g, Args a) { return Variant(g.name + ":" + a[0].toText()); });
      c.method<Gadget>("Fail", 0, [](Gadget&, Args) -> Variant {
        throw AutomationError(8003, "MarlParts.GetPart", "Wrong Index of 7");
      });
      return c;
    }();
    return info;
  }
};

class ScriptHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ObjectFactory::instance().registerClass("Test.Gadget", [] { return std::make_shared<Gadget>(); });
  }
  std::string text(std::string_view expr) { return host.eval(expr).toText(); }
  ScriptError errorOf(std::string_view code, std::string_view chunk = "Subject.lua") {
    try {
      host.addCode(code, chunk);
    } catch (const ScriptError& e) {
      return e;
    }
    ADD_FAILURE() << "no error from: " << code;
    return ScriptError(0, "", "");
  }
  ScriptHost host;
};

}  // namespace

TEST_F(ScriptHostTest, ResetGivesAFreshStateAndReleasesObjects) {
  auto gadget = std::make_shared<Gadget>();
  std::weak_ptr<Gadget> watch = gadget;
  host.setGlobal("g", Variant(gadget));
  gadget.reset();
  host.addCode("ErrMsg = 'stop'; string.upper = nil; kept = { g, g:Self() }", "a.lua");
  EXPECT_FALSE(watch.expired());
  host.reset();
  EXPECT_TRUE(watch.expired());
  EXPECT_TRUE(host.eval("ErrMsg").isEmpty());
  EXPECT_TRUE(host.eval("g").isEmpty());
  EXPECT_EQ(text("string.upper('x')"), "X");

  host.setGlobal("g", Variant(std::make_shared<Gadget>()));
  watch = std::dynamic_pointer_cast<Gadget>(host.eval("g").toObject());
  host.close();
  EXPECT_TRUE(watch.expired());
}

TEST_F(ScriptHostTest, PropertiesAreFieldsAndMethodsAreCalls) {
  auto gadget = std::make_shared<Gadget>();
  host.setGlobal("g", Variant(gadget));
  host.addCode(
      "g.name = 'widget'\n"
      "len = g.LENGTH\n"  // members are found without regard to case
      "item = g:Item('x')\n"
      "dotted = g.Item('y')\n"
      "same = g:Self() == g and rawequal(g:Self(), g)\n"
      "names = g:Names()\n"
      "first, count = names[1], #names\n"
      "made = CreateObject('test.gadget').Name\n",
      "t.lua");
  EXPECT_EQ(gadget->name, "widget");
  EXPECT_EQ(host.eval("len").toLong(), 6);
  EXPECT_EQ(text("item"), "widget:x");
  EXPECT_EQ(text("dotted"), "widget:y");
  EXPECT_TRUE(host.eval("same").toBool());
  EXPECT_EQ(text("first"), "a");
  EXPECT_EQ(host.eval("count").toLong(), 2);
  EXPECT_EQ(text("made"), "gadget");
}

TEST_F(ScriptHostTest, ArgumentsKeepTheirKinds) {
  auto gadget = std::make_shared<Gadget>();
  host.setGlobal("g", Variant(gadget));
  // Empty 0, Null 1, Boolean 2, Long 3, Double 4, String 5, Object 6, Array 7
  host.addCode("k = g:Kinds(nil, null, true, 2, 2.0, 2.5, '2', g, {1, 'x'}, 2^40)", "t.lua");
  EXPECT_EQ(text("k"), "0123345674");
  ASSERT_EQ(gadget->seen.size(), 10u);
  EXPECT_EQ(gadget->seen[5].toDouble(), 2.5);
  EXPECT_EQ(*gadget->seen[6].text(), "2");
  EXPECT_EQ(gadget->seen[7].toObject().get(), gadget.get());
  EXPECT_EQ(gadget->seen[8].toArray()[1].toText(), "x");
  gadget->seen.clear();  // it held the gadget itself
  // Results come back the same way.
  host.addCode(
      "n = g:Echo(7); isInt = math.type(n) == 'integer'\n"
      "s = g:Echo('7'); isText = type(s) == 'string'\n"
      "isNull = g:Nothing() == null and tostring(null) == 'null'\n",
      "t.lua");
  EXPECT_TRUE(host.eval("isInt").toBool());
  EXPECT_TRUE(host.eval("isText").toBool());
  EXPECT_TRUE(host.eval("isNull").toBool());
  EXPECT_TRUE(host.eval("null").isNull());
}

TEST_F(ScriptHostTest, LuaErrorsNameTheScriptAndLine) {
  ScriptError compile = errorOf("x = 1\nif then\n");
  EXPECT_EQ(compile.number(), kScriptSyntaxError);
  EXPECT_EQ(std::string(compile.description()).rfind("Subject.lua:2:", 0), 0u) << compile.description();

  ScriptError runtime = errorOf("\n\nfoo()\n");
  EXPECT_EQ(runtime.number(), kScriptRuntimeError);
  EXPECT_EQ(runtime.description(), "Subject.lua:3: attempt to call a nil value (global 'foo')");

  ScriptError odd = errorOf("error({})");
  EXPECT_EQ(odd.description(), "(error object is a table value)");
}

TEST_F(ScriptHostTest, AutomationErrorsCrossBothWays) {
  host.setGlobal("g", Variant(std::make_shared<Gadget>()));
  // Out of the host: number, source and description kept; location added.
  ScriptError e = errorOf("local a = 1\ng:Fail()\n", "Index.lua");
  EXPECT_EQ(e.number(), 8003);
  EXPECT_EQ(e.source(), "MarlParts.GetPart");
  EXPECT_EQ(e.description(), "Wrong Index of 7");
  EXPECT_EQ(e.location(), "Index.lua:2");
  // Inside a script: a table that pcall catches, whose tostring is the description.
  host.addCode(
      "local ok, err = pcall(function() return g:Fail() end)\n"
      "caught = not ok and err.number == 8003 and err.source == 'MarlParts.GetPart'\n"
      "message = tostring(err) .. '|' .. select(2, pcall(function() return g.Nope end)).number\n"
      "missing = select(2, pcall(function() return g:Echo() end)).number\n",
      "t.lua");
  EXPECT_TRUE(host.eval("caught").toBool());
  EXPECT_EQ(text("message"), "Wrong Index of 7|438");
  EXPECT_EQ(host.eval("missing").toLong(), kArgumentNotOptional);
  // Unknown identifiers and unconvertible arguments.
  const ScriptError unknown = errorOf("CreateObject('No.Such')");
  EXPECT_EQ(unknown.number(), kCannotCreateObject);
  EXPECT_EQ(unknown.source(), "No.Such");
  EXPECT_EQ(errorOf("g:Echo(print)").number(), kTypeMismatch);
  EXPECT_EQ(errorOf("local t = {}; t[1] = t; g:Echo(t)").number(), kTypeMismatch);
}

TEST_F(ScriptHostTest, ScriptsCannotStartProcessesExitOrLoadNativeCode) {
  host.addCode(
      "absent = os.execute == nil and os.exit == nil and io.popen == nil\n"
      "  and package.loadlib == nil and debug == nil and #package.searchers == 2\n"
      "  and package.cpath == '' and not pcall(require, 'debug')\n"
      "binary = select(2, load(string.dump(function() end)))\n"
      "stillThere = type(os.time()) == 'number' and type(io.open) == 'function'\n",
      "t.lua");
  EXPECT_TRUE(host.eval("absent").toBool());
  EXPECT_NE(text("binary").find("binary chunk"), std::string::npos) << text("binary");
  EXPECT_TRUE(host.eval("stillThere").toBool());
  EXPECT_NE(errorOf("require('socket.core')").description().find("module 'socket.core' not found"),
            std::string::npos);
}

TEST_F(ScriptHostTest, RequireFindsModulesInTheModuleFolder) {
  namespace fs = std::filesystem;
  const fs::path folder =
      fs::path(testing::TempDir()) / ("quill script;mods?" + std::to_string(::getpid()));
  fs::create_directories(folder / "lib");
  {
    std::ofstream(folder / "lib" / "helper.lua") << "return { twice = function(x) return 2 * x end }";
  }
  host.setModuleFolder(folder);
  host.reset();
  host.addCode("v = require('lib.helper').twice(21)", "t.lua");
  EXPECT_EQ(host.eval("v").toLong(), 42);
  fs::remove_all(folder);
}

namespace {
class HostResetter : public Dispatch {
 public:
  ScriptHost* host = nullptr;
  const ClassInfo& classInfo() const override {
    static const ClassInfo info = [] {
      ClassInfo c("HostResetter");
      c.method<HostResetter>("Reset", 0, [](HostResetter& r, Args) {
        r.host->reset();
        return Variant();
      });
      return c;
    }();
    return info;
  }
};
}  // namespace

TEST_F(ScriptHostTest, AnObjectCannotResetTheRunningScript) {
  auto resetter = std::make_shared<HostResetter>();
  resetter->host = &host;
  host.setGlobal("r", Variant(resetter));
  host.addCode("ok = pcall(function() r:Reset() end); after = 'still here'", "t.lua");
  EXPECT_FALSE(host.eval("ok").toBool());
  EXPECT_EQ(text("after"), "still here");
}

// The watch sees a long script from inside, and once it says stop, neither
// the script's own pcall nor a later call on the same state gets past it.
TEST_F(ScriptHostTest, AWatchSeesLongScriptsAndStopsThemForGood) {
  int calls = 0;
  int stopAt = -1;  // never
  host.setWatch([&] { return ++calls != stopAt; });
  host.reset();
  host.addCode("x = 0 for i = 1, 100000 do x = x + i end", "sum.lua");
  EXPECT_EQ(host.eval("x").toText(), "5000050000");
  EXPECT_GE(calls, 100000 * 3 / ScriptHost::kWatchInstructions);

  host.addCode("function f() while true do pcall(function() while true do end end) end end", "loop.lua");
  stopAt = calls + 3;
  EXPECT_THROW(host.executeStatement("f()"), ScriptStopped);
  EXPECT_THROW(host.eval("x"), ScriptStopped);

  // An ordinary error is no stop; the next state runs again.
  stopAt = -1;
  host.reset();
  EXPECT_EQ(errorOf("error('plain')").description(), "Subject.lua:1: plain");
  EXPECT_EQ(text("1 + 1"), "2");
}
