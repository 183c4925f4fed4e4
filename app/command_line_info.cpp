#include "app/command_line_info.h"

#include <array>
#include <cwctype>

#include "system/text_encoding.h"

namespace veldmoor {
namespace {

constexpr std::array<std::wstring_view, 6> kOptionNames = {
    L"instantpatch", L"noselfpatch", L"repair", L"rreg", L"rrights", L"rconfig"};

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool IsOptionName(std::wstring_view text) {
    for (const std::wstring_view name : kOptionNames) {
        if (EqualsNoCase(text, name)) {
            return true;
        }
    }
    return false;
}

}  // namespace

void CLauncherAppCommandLineInfo::ParseParam(std::wstring_view text, bool isFlag, bool /*isLast*/) {
    if (isFlag) {
        lastFlag = std::wstring(text.substr(0, kMaxFlagLength));
        int* const fields[] = {&instantPatch,   &noSelfPatch,  &repairMode,
                               &repairRegistry, &repairRights, &repairConfig};
        for (std::size_t i = 0; i < kOptionNames.size(); ++i) {
            if (EqualsNoCase(text, kOptionNames[i])) {
                *fields[i] = 1;
                break;
            }
        }
        return;
    }
    if (EqualsNoCase(lastFlag, L"repair")) {
        repairPath = text.size() <= kMaxRepairPathLength ? std::wstring(text) : std::wstring();
    }
}

void ParseCommandLine(CLauncherAppCommandLineInfo& info,
                      const std::vector<std::string>& arguments) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring text = WidenText(arguments[i]);
        const bool isLast = i + 1 == arguments.size();
        const std::wstring_view withoutPrefix =
            std::wstring_view(text).substr(text.empty() ? 0 : 1);
        const bool isFlag =
            !text.empty() &&
            (text.front() == L'-' || (text.front() == L'/' && IsOptionName(withoutPrefix)));
        info.ParseParam(isFlag ? withoutPrefix : std::wstring_view(text), isFlag, isLast);
    }
}

}  // namespace veldmoor
