// What the framework's own classes need of Resources.cpp beyond Resources.h.
#pragma once

namespace tbm::ui {

// Forgets every picture drawn so far (the language library changed or
// goes).
void ForgetPictures();

}  // namespace tbm::ui
