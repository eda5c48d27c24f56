#include "engine/entities.h"

namespace quill {

namespace {
struct Entity {
  std::string_view entity;
  char character;
};
constexpr Entity kEntities[] = {{"&amp;", '&'}, {"&gt;", '>'}, {"&lt;", '<'}, {"&quot;", '"'}};
}  // namespace

std::string htmlEntitiesDecode(std::string_view text) {
  std::string work(text);
  if (text.find('&') == std::string_view::npos) return work;
  for (const Entity& e : kEntities) {
    size_t hit = work.find(e.entity);
    if (hit == std::string::npos) continue;
    std::string out;
    out.reserve(work.size());
    size_t done = 0;
    while (hit != std::string::npos) {
      out.append(work, done, hit - done).push_back(e.character);
      done = hit + e.entity.size();
      hit = work.find(e.entity, done);
    }
    out.append(work, done, std::string::npos);
    work.swap(out);
  }
  return work;
}

std::string htmlEntitiesEncode(std::string_view text) {
  // One pass per row gives the same result as this single pass: "&" is
  // encoded first, and the entities that later rows insert hold none of the
  // characters encoded after them.
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '>': out += "&gt;"; break;
      case '<': out += "&lt;"; break;
      case '"': out += "&quot;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

}  // namespace quill
