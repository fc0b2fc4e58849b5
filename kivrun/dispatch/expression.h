// strace's -e expressions, the one word that reaches two settings: which
// calls the trace shows, and which calls are injected.
#pragma once

#include <string_view>

#include "dispatch/inject.h"
#include "dispatch/trace.h"
#include "support/result.h"

namespace kiv {

// Applies one expression: trace=CALLS (which turns the trace on) or
// inject=CALLS:WHAT[:when=EXPR]; a refused one changes nothing and says what
// is wrong with it.
Result<void> apply_expression(std::string_view expression, TraceSettings &trace, InjectionSettings &injection);

}  // namespace kiv
