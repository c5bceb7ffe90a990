#pragma once
// Widget tests: one QApplication (the Qt platform, offscreen unless told
// otherwise) for the whole test binary, so that tests list without one.
#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "qt_platform.h"

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        platform = std::make_unique<QtPlatform>(argc, argv);
    }
    void TearDown() override { platform.reset(); }

    static inline std::unique_ptr<QtPlatform> platform;
    static inline int argc = 1;
    static inline char arg0[] = "widget_test";
    static inline char* argv[] = {arg0, nullptr};
};
[[maybe_unused]] inline ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// The shown top-level window of a window definition, by its identity.
inline QWidget* shownTopLevel(const char* id)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(id) && w->isVisible())
            return w;
    return nullptr;
}
