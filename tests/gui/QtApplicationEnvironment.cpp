#include <gtest/gtest.h>

#include <QApplication>

#include "Tesvano/App/Resources.h"

namespace {

// Widget tests need one application object for the whole run (offscreen, see the suite's
// environment); whichever test file's environment comes first makes it.
class QtApplicationEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        // Never on the user's screen, even where the suite's environment is not applied.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        if (QCoreApplication::instance() == nullptr) {
            static int argc = 1;
            static char name[] = "tesvano_gui_tests";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv);
        }
        tesvano::initResources();
    }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace
