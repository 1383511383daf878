// The owner of one open socket descriptor: closes it when it goes.
#pragma once

#include "UniqueFd.h"

namespace tbm::dde {

using Socket = UniqueFd;

}  // namespace tbm::dde
