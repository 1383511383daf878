#include "HostSession.h"

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

void HostSession::EndSnapshots() {
  for (const auto& entry : open_) entry->database->EndSnapshot();
}

const TBHostServices* HostSession::Services() { return ServicesOver(this); }

}  // namespace tbm::tabulonpro
