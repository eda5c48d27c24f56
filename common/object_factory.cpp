#include "object_factory.h"

#include "common/ascii.h"

namespace quill {

ObjectFactory& ObjectFactory::instance() {
  static ObjectFactory factory;
  return factory;
}

const ObjectFactory::Entry* ObjectFactory::findLocked(std::string_view folded) const {
  for (const auto& e : entries_)
    if (e.folded == folded) return &e;
  return nullptr;
}

void ObjectFactory::registerClass(std::string progId, Creator creator) {
  std::lock_guard lock(mutex_);
  std::string folded = toLowerAscii(progId);
  for (auto& e : entries_) {
    if (e.folded == folded) {
      e.creator = std::move(creator);
      return;
    }
  }
  entries_.push_back({std::move(progId), std::move(folded), std::move(creator)});
}

bool ObjectFactory::isRegistered(std::string_view progId) const {
  std::lock_guard lock(mutex_);
  return findLocked(toLowerAscii(progId)) != nullptr;
}

ObjectRef ObjectFactory::create(std::string_view progId) const {
  Creator creator;
  {
    std::lock_guard lock(mutex_);
    if (const Entry* e = findLocked(toLowerAscii(progId))) creator = e->creator;
  }
  if (!creator) throw runtimeError(kCannotCreateObject, std::string(progId));
  return creator();
}

std::vector<std::string> ObjectFactory::progIds() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& e : entries_) out.push_back(e.progId);
  return out;
}

}  // namespace quill
