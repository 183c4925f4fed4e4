#include "profiles/trust_roots.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "profiles/addresses.h"
#include "tests/profiles/temp_folder.h"
#include "tests/support/scoped_env.h"

namespace veldmoor {
namespace {

using testing::ScopedEnv;

struct AddressCase {
    const char* address;
    bool builtIn;
};

class GameRepositoryRoot : public ::testing::TestWithParam<AddressCase> {
protected:
    GameRepositoryRoot() { folder_.Write("1.root", "the root's bytes"); }

    testing::TempFolder folder_;
    ScopedEnv server_{kServerOverrideVariable, "http://127.0.0.1:8080"};
    ScopedEnv root_{kTrustRootOverrideVariable, folder_.Join("1.root")};
};

TEST_P(GameRepositoryRoot, OnlyTheBuiltInGameRepositoriesTakeTheBuiltInRoot) {
    const AddressCase& c = GetParam();
    EXPECT_EQ(IsBuiltInGameRepository(c.address), c.builtIn);
    const Result<std::string> root = TrustRootForGameRepository(c.address);
    ASSERT_TRUE(root.Ok()) << root.Message();
    EXPECT_EQ(root.Value(), c.builtIn ? "the root's bytes" : "");
}

INSTANTIATE_TEST_SUITE_P(Addresses, GameRepositoryRoot,
                         ::testing::Values(AddressCase{"http://127.0.0.1:8080/srv/", true},
                                           AddressCase{"HTTP://127.0.0.1:8080/BAU/", true},
                                           AddressCase{"http://127.0.0.1:8080/launcher/", false},
                                           AddressCase{"http://127.0.0.1:8081/srv/", false},
                                           AddressCase{"http://127.0.0.1:8080/srv/other/", false},
                                           AddressCase{"", false}));

TEST(BuiltInTrustRoot, AnUnreadableOverrideStopsInsteadOfLeavingTheRunUnchecked) {
    testing::TempFolder folder;
    const std::string missing = folder.Join("missing.root");
    ScopedEnv root(kTrustRootOverrideVariable, missing);
    const Result<std::string> taken = BuiltInTrustRoot();
    ASSERT_FALSE(taken.Ok()) << "an unreadable root was taken";
    EXPECT_NE(taken.Message().find(missing), std::string::npos) << taken.Message();
}

// The bytes compiled in are the root file's, exactly; none when the build names no root file.
TEST(BuiltInTrustRoot, TheBuildsRootIsTakenWithoutAnOverride) {
    ScopedEnv root(kTrustRootOverrideVariable, std::nullopt);
    const std::string file = VELDMOOR_TRUST_ROOT_FILE;
    std::ifstream stream(file, std::ios::binary);
    const std::string expected =
        file.empty() ? std::string() : std::string(std::istreambuf_iterator<char>(stream), {});
    const Result<std::string> builtIn = BuiltInTrustRoot();
    ASSERT_TRUE(builtIn.Ok()) << builtIn.Message();
    EXPECT_EQ(builtIn.Value(), expected);
}

}  // namespace
}  // namespace veldmoor
