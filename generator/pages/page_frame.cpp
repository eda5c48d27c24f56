// A generator's pages are written one at a time: writePart() renders the
// template's tree into an in-memory page (text parts appended as they are,
// container parts handed to the generator's writeContainer, which sets their
// variables and recurses), and savePage() writes the finished page to its file
// in one call. The catalogue connection and the templates are the
// generator's own; nothing is shared between generator objects.
#include "generator/pages/page_frame.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/marl_doc.h"
#include "generator/pages/page_text.h"
#include "generator/report/progress.h"

namespace quill::pages {

PageGenerator::PageGenerator() = default;
PageGenerator::~PageGenerator() = default;

void PageGenerator::outputFile(std::string_view folder) {
  path_.assign(folder);
  escaping_ = ValueEscaping::forProject(path_);
  try {
    generate();
  } catch (const WorkCancelled&) {
    if (catalogue_) catalogue_->endRead();
    throw;  // the run stops the script; this is no failure of the pages
  } catch (const std::exception& e) {
    recordFailure(e);
  }
  if (catalogue_) catalogue_->endRead();
}

Catalogue& PageGenerator::catalogue() {
  if (!catalogue_) catalogue_ = std::make_unique<Catalogue>(path_ + std::string(kCatalogueFile));
  return *catalogue_;
}

std::shared_ptr<MarlPart> PageGenerator::loadTemplate(std::string_view relativePath) const {
  MarlDoc doc;
  const std::string file = path_ + std::string(relativePath);
  const std::string message = doc.loadFile(file);
  if (!message.empty()) throw PageError(PageError::Concern::Template, file, message);
  return doc.rootPart();
}

void PageGenerator::writePart(MarlPart& container) {
  for (const auto& child : container.parts()) {
    if (child->partType() == MarlPart::kText)
      child->appendText(page_);
    else if (child->partType() == MarlPart::kContainer)
      writeContainer(*child);
    if (endContainer_) {
      endContainer_ = false;
      return;
    }
  }
}

void PageGenerator::savePage(std::string_view fileName) const {
  const std::string file = path_ + "Output/" + std::string(fileName);
  std::FILE* f = std::fopen(file.c_str(), "wb");
  bool failed = f == nullptr;
  int error = errno;
  if (f) {
    if (OutputJournal* journal = OutputJournal::current()) journal->fileWritten(file);
    // The page is complete in memory: one write, no stream buffer.
    std::setvbuf(f, nullptr, _IONBF, 0);
    if (!page_.empty() && std::fwrite(page_.data(), 1, page_.size(), f) != page_.size()) {
      failed = true;
      error = errno;
    }
    if (std::fclose(f) != 0 && !failed) {
      failed = true;
      error = errno;
    }
  }
  if (failed)
    throw PageError(PageError::Concern::OutputFolder, file,
                    "Cannot write the page " + file + ": " + std::strerror(error));
}

void PageGenerator::checkPageName(std::string_view what, const std::string& value, bool allowEmpty) {
  if (const auto why = pageNameProblem(value, allowEmpty))
    throw PageError(PageError::Concern::Workbook, {},
                    "The " + std::string(what) + " \"" + value + "\" cannot name a page file: " + std::string(*why));
}

void PageGenerator::recordFailure(const std::exception& e) {
  errMsg_ = e.what();
  OutputJournal* journal = OutputJournal::current();
  if (!journal) return;
  if (const auto* page = dynamic_cast<const PageError*>(&e))
    journal->generatorFailed({page->concern(), page->file()});
  else if (dynamic_cast<const CatalogueError*>(&e))
    journal->generatorFailed({OutputJournal::Failure::Concern::Workbook, {}});
}

void PageGenerator::addDebugMsg(std::string_view text) {
  debugMsg_ += text;
  debugMsg_ += "\r\n";
}

void PageGenerator::addDebugKey(const std::string& key) {
  debugMsg_ += "Get Key";
  addDebugMsg(key);
}

}  // namespace quill::pages
