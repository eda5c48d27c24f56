#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/object_factory.h"
#include "test_util.h"

using namespace quill;
using namespace quill::test;
namespace fs = std::filesystem;

namespace {

struct FixedFolder : PageContext {
  std::string folder, asked;
  std::string mapPath(std::string_view path) override { return asked = path, folder; }
};

// A script-side page context: any object with MapPath.
struct ScriptServer : Dispatch {
  std::string folder;
  const ClassInfo& classInfo() const override {
    static const ClassInfo info = ClassInfo("Server").method<ScriptServer>(
        "MapPath", 1, [](ScriptServer& s, Args a) { return Variant(a[0].toText() == "." ? s.folder : "?"); });
    return info;
  }
};

}  // namespace

TEST(Doc, EntitiesInTableOrder) {
  EXPECT_EQ(htmlEntitiesEncode("a<b & \"c\">"), "a&lt;b &amp; &quot;c&quot;&gt;");
  EXPECT_EQ(htmlEntitiesDecode("a&lt;b &amp; &quot;c&quot;&gt;"), "a<b & \"c\">");
  EXPECT_EQ(htmlEntitiesDecode("&amp;lt;"), "<");
  EXPECT_EQ(htmlEntitiesEncode("&lt;"), "&amp;lt;");
  EXPECT_EQ(htmlEntitiesDecode("&AMP; &#60; &nbsp; &amp"), "&AMP; &#60; &nbsp; &amp");
}

TEST(Doc, MembersByName) {
  registerEngineClasses();
  for (const char* id : {"MarlEngine.MarlParts", "MarlEngine.MarlPart", "MarlEngine.MarlVars", "MarlEngine.MarlVar"})
    EXPECT_TRUE(ObjectFactory::instance().isRegistered(id)) << id;
  auto doc = std::dynamic_pointer_cast<MarlDoc>(createObject("MarlEngine.MarlDoc"));
  ASSERT_TRUE(doc);
  EXPECT_EQ(invokeGet(*doc, "Version").toText(), "1.01");
  EXPECT_TRUE(invokeGet(*doc, "GetRootPart").isObject());
  EXPECT_FALSE(invokeGet(*doc, "GetRootPart").toObject());
  EXPECT_EQ(errorNumber([&] { invokeGet(*doc, "AppName"); }), kNoSuchMember);  // write-only
  invokeLet(*doc, "AppName", {}, Variant("X"));
  EXPECT_EQ(doc->appName(), "X");

  const std::vector<Variant> args{"a<!--X:HtmlPart _KEY=\"k\" _POSITION=\"START\"-->{b}", "SOURCE_TYPE=1"};
  EXPECT_EQ(invokeGet(*doc, "LoadFile", args).toText(), "");  // the prefix set before is gone
  const auto root = invokeGet(*doc, "GetRootPart").as<MarlPart>();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->parts().count(), 1);
  EXPECT_EQ(invokeGet(*doc, "HtmlEntitiesEncode", std::vector<Variant>{"<"}).toText(), "&lt;");
  EXPECT_EQ(invokeGet(*doc, "HtmlEntitiesDecode", std::vector<Variant>{"&gt;"}).toText(), ">");
  EXPECT_EQ(errorNumber([&] { invokeGet(*doc, "LoadFile", std::vector<Variant>{Variant(Null{})}); }),
            kInvalidUseOfNull);
}

TEST(Doc, RelativeTemplatesAreFoundUnderThePageFolder) {
  const fs::path dir = fs::temp_directory_path() / ("marl_page_" + std::to_string(::getpid()));
  fs::create_directories(dir / "Html");
  std::ofstream(dir / "Html" / "t.htm", std::ios::binary) << "page {x}";
  std::ofstream(dir / "empty.htm", std::ios::binary);

  MarlDoc doc;
  EXPECT_EQ(doc.loadFile("Html\\t.htm"), "Invalid path of \"Html/t.htm\"");  // no page folder yet
  FixedFolder context;
  context.folder = dir.string();
  doc.onStartPage(context);
  EXPECT_EQ(context.asked, ".");
  ASSERT_EQ(doc.loadFile("Html\\t.htm"), "");
  EXPECT_EQ(doc.rootPart()->getText(), "page ");
  ASSERT_EQ(doc.loadFile("empty.htm"), "");
  EXPECT_EQ(doc.rootPart()->parts().count(), 0);
  EXPECT_EQ(doc.loadFile("Html"), "Invalid path of \"Html\"");  // a folder is no template

  // A second start replaces the folder; a late-bound context works too.
  auto server = std::make_shared<ScriptServer>();
  server->folder = (dir / "Html").string();
  invokeGet(doc, "OnStartPage", std::vector<Variant>{Variant(server)});
  invokeGet(doc, "OnEndPage");
  EXPECT_EQ(doc.baseFolder(), server->folder);
  EXPECT_EQ(doc.loadFile("t.htm"), "");
  EXPECT_EQ(doc.loadFile("empty.htm"), "Invalid path of \"empty.htm\"");
  fs::remove_all(dir);
}
