#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors/error_text.h"

namespace orvik::testing {

// Starts and ends every test with an empty error text, which is process-wide.
class ErrorTextTest : public ::testing::Test {
 protected:
  void SetUp() override { removeErrors(ErrorCategory::OK); }
  void TearDown() override { removeErrors(ErrorCategory::OK); }
};

// The lines of the error text, oldest first, as "category:text".
std::vector<std::string> errorLines();

}  // namespace orvik::testing
