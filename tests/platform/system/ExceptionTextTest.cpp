#include "platform/system/ExceptionText.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(ExceptionText, GivesTheMessageOfAStdExceptionAndUnknownErrorOtherwise)
{
    EXPECT_EQ(platform::exceptionText(nullptr), "unknown error");
    EXPECT_EQ(platform::exceptionText(std::make_exception_ptr(std::runtime_error("disk full"))), "disk full");
    EXPECT_EQ(platform::exceptionText(std::make_exception_ptr(42)), "unknown error");

    // A nested failure reads as its outermost message only.
    std::exception_ptr nested;
    try {
        try {
            throw std::invalid_argument("inner");
        } catch (...) {
            std::throw_with_nested(std::runtime_error("outer"));
        }
    } catch (...) {
        nested = std::current_exception();
    }
    EXPECT_EQ(platform::exceptionText(nested), "outer");
}
