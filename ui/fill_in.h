// Values put into a translated text: "%1" to "%9" stand for them, so a translation may put them
// in another order than the German text does.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace veldmoor {

// `pattern` with each "%n" replaced by the n-th value (from 1); a "%n" without a value, and
// every other '%', stay as they are.
std::string FillIn(std::string_view pattern, std::initializer_list<std::string_view> values);

}  // namespace veldmoor
