// The engine's diagnostic trace. The launcher keeps no log, so the hook discards what it is
// given; the calls stay in place so that a debugging build can route them somewhere.
#pragma once

namespace veldmoor {

template <typename... Args>
void trace(const char* /*format*/, const Args&... /*args*/) {}

}  // namespace veldmoor
