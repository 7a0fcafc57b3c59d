#pragma once

#include "common/messagesink.h"

namespace qh::templates {

using MessageSink = qh::MessageSink;

} // namespace qh::templates
