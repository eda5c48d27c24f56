// The template document: loads a template (from a file or from text) into a
// part tree, converts HTML entities, and takes the page folder from a page
// host. Clients create it by the identifier "MarlEngine.MarlDoc".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/dispatch.h"
#include "engine/entities.h"
#include "engine/marl_part.h"
#include "engine/marl_vars.h"

namespace quill {

// What a page host hands to OnStartPage: it maps "." to the physical folder
// of the page being run.
class PageContext {
 public:
  virtual ~PageContext() = default;
  virtual std::string mapPath(std::string_view path) = 0;
};

class MarlDoc final : public Dispatch {
 public:
  MarlDoc();

  // Reads and parses one template. Returns "" on success (the new tree is
  // then rootPart()), else the messages: "Invalid path of "<path>"" when no
  // file is found, one "Without "END" definition of Key [<key>]" line (with
  // CR LF) per unclosed block, innermost first; on failure the previous
  // root stays. A malformed option raises run-time error 9 or 13.
  std::string loadFile(std::string_view src, std::string_view opt = {});

  // The root of the last template loaded without error, or nullptr.
  const std::shared_ptr<MarlPart>& rootPart() const noexcept { return rootPart_; }

  const std::string& appName() const noexcept { return appName_; }
  void setAppName(std::string prefix) { appName_ = std::move(prefix); }
  const std::string& varStartCode() const noexcept { return varStartCode_; }
  const std::string& varEndCode() const noexcept { return varEndCode_; }
  int32_t sourceType() const noexcept { return sourceType_; }
  const std::string& baseFolder() const noexcept { return baseFolder_; }
  bool debugFlag() const noexcept { return debugFlag_; }
  void setDebugFlag(bool on) noexcept { debugFlag_ = on; }
  static const char* version() noexcept { return "1.01"; }

  // Page hooks: the page folder becomes the second place where templates
  // given by a relative path are looked for.
  void onStartPage(PageContext& context);
  void onEndPage() {}

  const ClassInfo& classInfo() const override;

 private:
  void restoreDefaults();
  void parseOptions(std::string_view opt);

  std::shared_ptr<MarlPart> rootPart_;
  std::string appName_;
  std::string errorText_;
  std::string varStartCode_;
  std::string varEndCode_;
  int32_t sourceType_ = 0;
  std::string baseFolder_;
  bool debugFlag_ = false;
};

// Registers "MarlEngine.MarlDoc", "MarlEngine.MarlParts", "MarlEngine.MarlPart",
// "MarlEngine.MarlVars" and "MarlEngine.MarlVar" with the object factory.
void registerEngineClasses();

}  // namespace quill
