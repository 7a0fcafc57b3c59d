#pragma once

#include "common/bookformat.h"

namespace qh::core {

using qh::BookFormat;
using qh::formatFromKey;
using qh::formatKey;

} // namespace qh::core
