// The engine's diagnostic trace. The launcher keeps no log: `trace` discards what it is given,
// and the calls stay in place so that a debugging build can route them somewhere. The one line
// the engine does write, a matching pass's ("Buckets: ..."), goes through the diagnostic hook,
// which writes it to standard output unless a caller routes it elsewhere.
#pragma once

#include <string_view>

namespace veldmoor {

template <typename... Args>
void trace(const char* /*format*/, const Args&... /*args*/) {}

// Takes each diagnostic line, with its line end.
using DiagnosticHook = void (*)(std::string_view line);

// Routes the diagnostic lines to `hook` (null: standard output) and returns the hook it
// replaces. Any thread may call it; a line being written goes to either.
DiagnosticHook setDiagnosticHook(DiagnosticHook hook);

// Hands one diagnostic line to the hook.
void traceDiagnostic(std::string_view line);

}  // namespace veldmoor
