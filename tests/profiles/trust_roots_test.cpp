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
    EXPECT_EQ(TrustRootForGameRepository(c.address), c.builtIn ? "the root's bytes" : "");
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
    try {
        BuiltInTrustRoot();
        ADD_FAILURE() << "an unreadable root was taken";
    } catch (const std::runtime_error& failure) {
        EXPECT_NE(std::string(failure.what()).find(missing), std::string::npos) << failure.what();
    }
}

// The bytes compiled in are the root file's, exactly; none when the build names no root file.
TEST(BuiltInTrustRoot, TheBuildsRootIsTakenWithoutAnOverride) {
    ScopedEnv root(kTrustRootOverrideVariable, std::nullopt);
    const std::string file = VELDMOOR_TRUST_ROOT_FILE;
    std::ifstream stream(file, std::ios::binary);
    const std::string expected =
        file.empty() ? std::string() : std::string(std::istreambuf_iterator<char>(stream), {});
    EXPECT_EQ(BuiltInTrustRoot(), expected);
}

}  // namespace
}  // namespace veldmoor
