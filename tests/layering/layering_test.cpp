// The layering check with the project's own rules: every way an include could be written to
// slip past a line-by-line pattern is refused where the rules forbid the header, and what the
// rules allow passes.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/layering/include_scan.h"
#include "tools/layering/layering_rules.h"

namespace veldmoor::layering {
namespace {

const LayeringRules& ProjectRules() {
    static const LayeringRules rules = [] {
        std::ifstream in(VELDMOOR_LAYERING_RULES, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        std::string problem;
        LayeringRules parsed = LayeringRules::Parse(text, problem);
        EXPECT_TRUE(!text.empty() && problem.empty()) << VELDMOOR_LAYERING_RULES << ": " << problem;
        return parsed;
    }();
    return rules;
}

struct Case {
    const char* why;
    const char* path;    // the file, from the project root
    const char* source;  // its text
    const char* named;   // what the one refusal names; empty: the file passes
    std::size_t line = 1;
};

class LayeringCheck : public ::testing::TestWithParam<Case> {};

TEST_P(LayeringCheck, RefusesWhatTheRulesDoNotAllow) {
    const Case& c = GetParam();
    const std::vector<std::string> problems = ProjectRules().Check(c.path, c.source);
    if (std::string(c.named).empty()) {
        EXPECT_TRUE(problems.empty()) << c.why << ": " << problems.front();
        return;
    }
    ASSERT_EQ(problems.size(), 1u) << c.why;
    const std::string at = std::string(c.path) + ":" + std::to_string(c.line) + ": ";
    EXPECT_EQ(problems[0].rfind(at, 0), 0u) << c.why << ": " << problems[0];
    EXPECT_NE(problems[0].find(c.named), std::string::npos) << c.why << ": " << problems[0];
}

INSTANTIATE_TEST_SUITE_P(
    Forms, LayeringCheck,
    ::testing::Values(
        Case{"a platform header spelt as Windows spells it", "sync/a.cpp", "#include <Windows.h>\n",
             "<Windows.h>"},
        Case{"a socket header above system/", "patch/a.cpp", "#include <winsock2.h>\n",
             "<winsock2.h>"},
        Case{"a resolver header above system/", "profiles/a.h",
             "#include <string>\n#include <netdb.h>\n", "<netdb.h>", 2},
        Case{"a POSIX header in system/'s portable part", "system/a.cpp", "#include <unistd.h>\n",
             "<unistd.h>"},
        Case{"an indented include", "ui/a.cpp", "  #include <unistd.h>\n", "<unistd.h>"},
        Case{"blanks between '#' and include", "app/a.cpp", "#  include\t<sys/stat.h>\n",
             "<sys/stat.h>"},
        Case{"the digraph for '#' behind a comment", "patch/a.cpp",
             "/* note */ %: include <fcntl.h>\n", "<fcntl.h>"},
        Case{"a directive continued over a line end", "patch/a.cpp", "#inc\\\nlude <dlfcn.h>\n",
             "<dlfcn.h>"},
        Case{"a header asked for in a condition", "sync/a.h",
             "#if __has_include(<unistd.h>)\n#endif\n", "<unistd.h>"},
        Case{"a project header in angle brackets", "patch/a.cpp", "#include <sync/repo_sync.h>\n",
             "as \"sync/repo_sync.h\""},
        Case{"libcurl in patch/", "patch/a.cpp", "#include <curl/curl.h>\n", "<curl/curl.h>"},
        Case{"libcurl in a public header of sync/", "sync/repo_sync.h", "#include <curl/curl.h>\n",
             "<curl/curl.h>"},
        Case{"a private header of sync/ in patch/", "patch/a.cpp",
             "#include \"sync/http_transfer.h\"\n", "\"sync/http_transfer.h\""},
        Case{"a layer above in a layer below", "sync/a.cpp", "#include \"patch/patch_run.h\"\n",
             "\"patch/patch_run.h\""},
        Case{"a header named through a macro", "sync/a.cpp", "#define H <unistd.h>\n#include H\n",
             "names no header", 2},
        Case{"a folder no rule covers", "elsewhere/a.cpp", "#include <string>\n", "no files rule"},
        Case{"an include after a comment that spans lines", "patch/a.cpp",
             "/* one\n   two */ #include <unistd.h>\n", "<unistd.h>", 2},
        // What the rules allow, and text that only looks like an include.
        Case{"platform headers in system/posix", "system/posix/a.cpp",
             "#include <unistd.h>\n#include <sys/stat.h>\n#include \"system/path.h\"\n", ""},
        Case{"libcurl in sync/'s transfers", "sync/http_transfer.h", "#include <curl/curl.h>\n",
             ""},
        Case{"an include in comments and strings", "patch/a.cpp",
             "// #include <unistd.h>\n/*\n#include <unistd.h>\n*/\n"
             "const char* a = \"#include <unistd.h>\";\nconst char* b = R\"x(\n"
             "#include <unistd.h>\n)x\";\nint c = 1'000;\n#include \"sync/repo_sync.h\"\n",
             ""}));

TEST(IncludeScan, FindsTheLineOfEachDirective) {
    const auto found =
        FindIncludedHeaders("#include <a>\n\n/*\n*/\n#in\\\nclude \"b\"\n#include <c>\n");
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].header, "<a>");
    EXPECT_EQ(found[1].header, "\"b\"");
    EXPECT_EQ(found[1].line, 5u);
    EXPECT_EQ(found[2].line, 7u);
}

TEST(LayeringRulesFile, SaysWhereItCannotBeRead) {
    for (const char* text :
         {"files : <a>\n", "group g nonsense\n", "files a/* : @missing\n", "allow <a>\n"}) {
        std::string problem;
        LayeringRules::Parse(text, problem);
        EXPECT_EQ(problem.rfind("line 1: ", 0), 0u) << text << " -> " << problem;
    }
}

}  // namespace
}  // namespace veldmoor::layering
