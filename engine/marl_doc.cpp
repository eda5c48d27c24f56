#include "engine/marl_doc.h"

#include <filesystem>
#include <fstream>
#include <utility>

#include "common/ascii.h"
#include "common/object_factory.h"
#include "common/ordered_map.h"
#include "engine/template_parser.h"

namespace fs = std::filesystem;

namespace quill {

namespace {

constexpr const char* kLoadSource = "MarlDoc.LoadFile";

#ifdef _WIN32
constexpr char kSeparator = '\\', kForeignSeparator = '/';
#else
constexpr char kSeparator = '/', kForeignSeparator = '\\';
#endif

bool fileExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  return fs::is_regular_file(fs::u8path(path), ec);
}

// The whole file as UTF-8 text, without a leading byte-order mark.
std::string readTemplate(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  if (!in) throw runtimeError(kPathFileAccess, kLoadSource);
  std::string text;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) throw runtimeError(kPathFileAccess, kLoadSource);
  if (size > 0) {
    text.resize(static_cast<size_t>(size));
    in.seekg(0, std::ios::beg);
    if (!in.read(text.data(), size)) throw runtimeError(kPathFileAccess, kLoadSource);
  }
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  return text;
}

}  // namespace

MarlDoc::MarlDoc() { restoreDefaults(); }

void MarlDoc::restoreDefaults() {
  appName_ = "MARL";
  varStartCode_ = "{";
  varEndCode_ = "}";
  // The entity table is fixed (entities.h); nothing to rebuild.
}

void MarlDoc::parseOptions(std::string_view opt) {
  restoreDefaults();
  if (opt.empty()) return;
  if (opt.back() == ';') opt.remove_suffix(1);

  OrderedMap<std::string, std::string> table;
  size_t p = 0;
  while (p < opt.size()) {
    const size_t semi = opt.find(';', p);
    const std::string_view item = opt.substr(p, semi == std::string_view::npos ? std::string_view::npos : semi - p);
    // An empty item or one without "=" has no value piece.
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos) throw runtimeError(kSubscriptOutOfRange, kLoadSource);
    const size_t eq2 = item.find('=', eq + 1);
    table.set(toUpperAscii(item.substr(0, eq)),
              std::string(item.substr(eq + 1, eq2 == std::string_view::npos ? std::string_view::npos : eq2 - eq - 1)));
    if (semi == std::string_view::npos) break;
    p = semi + 1;
    if (p == opt.size()) throw runtimeError(kSubscriptOutOfRange, kLoadSource);  // empty last item
  }

  for (const auto& [key, value] : table) {
    if (key == "SOURCE_TYPE") {
      try {
        sourceType_ = Variant(value).toLong();
      } catch (const AutomationError& e) {
        throw AutomationError(e.number(), kLoadSource, e.description());
      }
    } else if (key == "VAR_START_CODE") {
      varStartCode_ = value;
    } else if (key == "VAR_END_CODE") {
      varEndCode_ = value;
    } else if (key == "MARL_ID") {
      appName_ = value;
    }
  }
}

std::string MarlDoc::loadFile(std::string_view src, std::string_view opt) {
  parseOptions(opt);
  errorText_.clear();

  std::string text;
  if (sourceType_ == 0) {
    std::string path(src);
    if (!fileExists(path)) {
      for (char& c : path)
        if (c == kForeignSeparator) c = kSeparator;
      // Outside a page host there is no page folder and only the given path counts.
      std::string underBase = baseFolder_.empty() ? std::string() : baseFolder_ + kSeparator + path;
      if (fileExists(underBase))
        path = std::move(underBase);
      else
        errorText_ = "Invalid path of \"" + path + "\"";
    }
    if (errorText_.empty()) text = readTemplate(path);
  } else if (sourceType_ == 1) {
    text.assign(src.data(), src.size());
  }

  std::shared_ptr<MarlPart> root;
  if (errorText_.empty() && (sourceType_ == 0 || sourceType_ == 1)) {
    ParseSettings settings{appName_, varStartCode_, varEndCode_};
    ParseResult parsed = TemplateParser(settings).parse(std::move(text));
    errorText_ += parsed.errors;
    root = std::move(parsed.root);
  }
  if (errorText_.empty()) rootPart_ = root ? std::move(root) : std::make_shared<MarlPart>();
  return std::exchange(errorText_, {});
}

void MarlDoc::onStartPage(PageContext& context) { baseFolder_ = context.mapPath("."); }

const ClassInfo& MarlDoc::classInfo() const {
  static const ClassInfo info = [] {
    ClassInfo c("MarlDoc");
    c.method<MarlDoc>("LoadFile", 1, [](MarlDoc& d, Args a) {
      const std::string src = arg(a, 0).toText();
      const std::string opt = arg(a, 1).toText();
      return Variant(d.loadFile(src, opt));
    });
    c.method<MarlDoc>("GetRootPart", 0, [](MarlDoc& d, Args) { return Variant(d.rootPart()); });
    c.property<MarlDoc>("AppName", nullptr, [](MarlDoc& d, const Variant& v) { d.setAppName(v.toText()); });
    c.method<MarlDoc>("OnStartPage", 1, [](MarlDoc& d, Args a) {
      const ObjectRef context = arg(a, 0).toObject();
      if (!context) throw runtimeError(kObjectNotSet, "MarlDoc.OnStartPage");
      if (auto* native = dynamic_cast<PageContext*>(context.get())) {
        d.onStartPage(*native);
        return Variant();
      }
      // A late-bound context: any object with MapPath.
      struct Mapped : PageContext {
        Dispatch* target;
        explicit Mapped(Dispatch* t) : target(t) {}
        std::string mapPath(std::string_view path) override {
          const Variant args[] = {Variant(path)};
          return invokeGet(*target, "MapPath", args).toText();
        }
      } mapped(context.get());
      d.onStartPage(mapped);
      return Variant();
    });
    c.method<MarlDoc>("OnEndPage", 0, [](MarlDoc& d, Args) {
      d.onEndPage();
      return Variant();
    });
    c.method<MarlDoc>("HtmlEntitiesDecode", 1,
                      [](MarlDoc&, Args a) { return Variant(htmlEntitiesDecode(arg(a, 0).toText())); });
    c.method<MarlDoc>("HtmlEntitiesEncode", 1,
                      [](MarlDoc&, Args a) { return Variant(htmlEntitiesEncode(arg(a, 0).toText())); });
    c.property<MarlDoc>("DebugFlag", nullptr, [](MarlDoc& d, const Variant& v) { d.setDebugFlag(v.toBool()); });
    c.property<MarlDoc>("Version", [](MarlDoc&) { return Variant(MarlDoc::version()); });
    return c;
  }();
  return info;
}

void registerEngineClasses() {
  auto& factory = ObjectFactory::instance();
  factory.registerClass("MarlEngine.MarlDoc", [] { return std::make_shared<MarlDoc>(); });
  factory.registerClass("MarlEngine.MarlParts", [] { return std::make_shared<MarlParts>(); });
  factory.registerClass("MarlEngine.MarlPart", [] { return std::make_shared<MarlPart>(); });
  factory.registerClass("MarlEngine.MarlVars", [] { return std::make_shared<MarlVars>(); });
  factory.registerClass("MarlEngine.MarlVar", [] { return std::make_shared<MarlVar>(); });
}

}  // namespace quill
