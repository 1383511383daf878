#include "HostSession.h"

#include "ProgramLog.h"

namespace tbm::tabulonpro {

// HostServices.cpp: the table, with its calls turned to session.
const TBHostServices* ServicesOver(HostSession* session);

HostSession::HostSession(std::unique_ptr<HostTextForm> textForm) : textForm_(std::move(textForm)) {}

HostSession::~HostSession() { ServicesOver(nullptr); }

void HostSession::Add(std::unique_ptr<DesktopDatabase> database) {
  auto entry = std::make_unique<Open>();
  entry->database = std::move(database);
  if (current_ == nullptr) current_ = entry->database.get();
  open_.push_back(std::move(entry));
}

DesktopDatabase* HostSession::database(std::size_t index) const {
  return index < open_.size() ? open_[index]->database.get() : nullptr;
}

void HostSession::SetCurrent(DesktopDatabase* database) {
  if (DatabaseOf(database) != nullptr) current_ = database;
}

HostSession::Cursor* HostSession::CursorOf(const void* handle) {
  for (const auto& entry : open_) {
    if (entry->database.get() == handle) return &entry->cursor;
  }
  return nullptr;
}

DesktopDatabase* HostSession::DatabaseOf(const void* handle) {
  for (const auto& entry : open_) {
    if (entry->database.get() == handle) return entry->database.get();
  }
  return nullptr;
}

Status HostSession::EndPluginCalls() {
  Status first;
  for (const auto& entry : open_) {
    if (Status s = entry->database->EndBatch(); !s.ok()) {
      WriteLog("TabulonPro", LogLevel::kError,
               "the changes a plug-in made could not be saved: " + s.message());
      if (first.ok()) first = s;
    }
    entry->database->EndSnapshot();
  }
  return first;
}

const TBHostServices* HostSession::Services() { return ServicesOver(this); }

}  // namespace tbm::tabulonpro
