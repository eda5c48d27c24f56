// Creation by programmatic identifier ("MarlEngine.MarlDoc",
// "cvSystemDB.cvDomDoc", "Quillant.clsSubject", ...). Each component library
// offers a function that registers its creatable classes; a program calls
// those it links at start-up. Identifiers are matched without regard to
// ASCII case.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch.h"

namespace quill {

class ObjectFactory {
 public:
  using Creator = std::function<ObjectRef()>;

  static ObjectFactory& instance();

  // Registers (or replaces) the creator of a programmatic identifier.
  void registerClass(std::string progId, Creator creator);
  bool isRegistered(std::string_view progId) const;
  // A new object; raises 429 "ActiveX component can't create object" with
  // the identifier as source when nothing is registered under it.
  ObjectRef create(std::string_view progId) const;
  std::vector<std::string> progIds() const;

 private:
  struct Entry {
    std::string progId;
    std::string folded;  // lower-case key
    Creator creator;
  };
  const Entry* findLocked(std::string_view folded) const;

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

// Convenience: ObjectFactory::instance().create(progId).
inline ObjectRef createObject(std::string_view progId) { return ObjectFactory::instance().create(progId); }

}  // namespace quill
