// Every window-system test opens windows, so each test process starts on its own X server.
#include "PrivateDisplay.h"

#include <gtest/gtest.h>

namespace
{

class PrivateDisplay : public ::testing::Environment
{
public:
    void SetUp() override { Vexel::Test::UsePrivateDisplay(); }
};

[[maybe_unused]] ::testing::Environment* const gDisplay =
    ::testing::AddGlobalTestEnvironment(new PrivateDisplay);

} // namespace
