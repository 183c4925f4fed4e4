// Assertions on the system layer's Status and Result that print the failure's message.
#pragma once

#include <gtest/gtest.h>

#include <utility>

#include "system/result.h"

namespace veldmoor::test {

inline ::testing::AssertionResult Done(const Status& status) {
    if (status) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << status.Message();
}

template <class T>
::testing::AssertionResult Done(const Result<T>& result) {
    return Done(result.Error());
}

// The value of a Result that the test expects to be there; a failure is recorded with its
// message and T's empty value returned.
template <class T>
T ValueOf(Result<T> result) {
    EXPECT_TRUE(Done(result));
    return result ? std::move(result).Value() : T();
}

}  // namespace veldmoor::test
