#include "ExchangeStatus.h"

namespace tbm::sync {

ExchangeStatus ExchangeStatus::WithContext(std::string_view where) const {
  if (ok()) return *this;
  std::string message(where);
  message += ": ";
  message += message_;
  return ExchangeStatus(error_, std::move(message));
}

}  // namespace tbm::sync
