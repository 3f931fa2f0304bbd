#include "UiTestSupport.h"

#include <QApplication>

#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

namespace fw::test {

namespace {

class WidgetsEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // No desktop named and no theme plug-in: what the tests see never
        // depends on the desktop they are run from.
        unsetenv("XDG_CURRENT_DESKTOP");
        unsetenv("QT_QPA_PLATFORMTHEME");
        static int argc = 1;
        static char name[] = "fw_window_tests";
        static char* argv[] = {name, nullptr};
        application_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { application_.reset(); }

private:
    std::unique_ptr<QApplication> application_;
};

const auto* const kWidgetsEnvironment = ::testing::AddGlobalTestEnvironment(new WidgetsEnvironment);

}  // namespace

void processEvents() { QApplication::processEvents(); }

}  // namespace fw::test
