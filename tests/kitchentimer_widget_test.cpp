// The kitchen timer's windows as Qt shows them (offscreen): the main window's
// fixed frame, the About window's band and gradient, and its owner.
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "kitchentimer.h"
#include "program.h"
#include "qt_environment.h"
#include "runtime.h"
#include "test_env.h"

namespace {

class KitchenWidgetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        runtime = std::make_unique<Runtime>(*QtEnvironment::platform);
        const ProgramDefinition& p = thisProgram();
        runtime->loadDefinitions(p.windows, p.handlers, p.assets);
    }
    void TearDown() override
    {
        runtime->shutdownCleanup(false);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        runtime.reset();
    }
    std::unique_ptr<Runtime> runtime;
};

// Opens the modal About window with a press on its link in the main window,
// hands it to look while it is shown, then closes it with Escape.
void whileAboutIsOpen(QWidget* main, const std::function<void(QWidget*)>& look)
{
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (QWidget* about = shownTopLevel("aboutWindow")) {
            look(about);
            QTest::keyClick(about, Qt::Key_Escape);
        }
    });
    driver.start(20);
    QWidget* link = main->findChild<QWidget*>(QStringLiteral("标签5"));
    ASSERT_NE(link, nullptr);
    QTest::mousePress(main->windowHandle(), Qt::LeftButton, {}, link->mapTo(main, link->rect().center()));
}

TEST_F(KitchenWidgetTest, shouldKeepTheMainWindowAtItsFixedSizeWithoutMinimiseOrMaximise)
{
    ASSERT_TRUE(runtime->loadWindow(kitchenMainWindow, std::nullopt, false));
    QWidget* main = shownTopLevel("kitchenMainWindow");
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->size(), QSize(265, 213));
    EXPECT_EQ(main->minimumSize(), main->maximumSize());
    EXPECT_FALSE(main->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(main->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(main->windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST_F(KitchenWidgetTest, shouldPaintTheVioletBandAndTheThreeColourGradient)
{
    ASSERT_TRUE(runtime->loadWindow(aboutWindow, std::nullopt, false));
    QWidget* about = shownTopLevel("aboutWindow");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->size(), QSize(278, 115));
    EXPECT_TRUE(about->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(about->windowFlags() & Qt::WindowType_Mask, Qt::Tool) << "no task-bar button";
    EXPECT_FALSE(about->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));

    QImage image = about->grab().toImage();
    const QColor violet(144, 0, 255);
    for (QPoint p : {QPoint(0, 0), QPoint(277, 0), QPoint(10, 45), QPoint(270, 49), QPoint(22, 20)})
        EXPECT_EQ(image.pixelColor(p), violet) << p.x() << "," << p.y();
    EXPECT_NE(image.pixelColor(10, 50), violet) << "the band ends at 50 px";

    // The label at 23, 8, 233 x 32: two segments of 116 px, violet -> grey -> violet.
    struct Column {
        int x;
        QColor colour;
    } columns[] = {{0, violet}, {58, QColor(190, 118, 246)}, {116, QColor(236, 236, 236)}, {232, violet}};
    for (const Column& c : columns)
        for (int y : {0, 31})
            EXPECT_EQ(image.pixelColor(23 + c.x, 8 + y), c.colour) << c.x << "," << y;
    int dark = 0;
    for (int x = 23 + 40; x < 23 + 193; ++x)
        for (int y = 8; y < 40; ++y)
            dark += qGray(image.pixel(x, y)) < 60;
    EXPECT_GT(dark, 100) << "the studio name is drawn over the gradient";
}

TEST_F(KitchenWidgetTest, shouldGiveTheModalAboutWindowToTheMainWindow)
{
    ASSERT_TRUE(runtime->loadWindow(kitchenMainWindow, std::nullopt, false));
    QWidget* main = shownTopLevel("kitchenMainWindow");
    ASSERT_NE(main, nullptr);
    QWindow* owner = nullptr;
    whileAboutIsOpen(main, [&](QWidget* about) { owner = about->windowHandle()->transientParent(); });
    EXPECT_EQ(owner, main->windowHandle());
    EXPECT_EQ(shownTopLevel("aboutWindow"), nullptr);
    EXPECT_TRUE(main->isVisible());
}

// Also run on two screens whose primary one lies right of and below the other.
TEST_F(KitchenWidgetTest, shouldPlaceTheFramesOfBothWindowsCentredOnThePrimaryScreen)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    auto centred = [&](int width, int height) {
        return screen.topLeft() + QPoint((screen.width() - width) / 2, (screen.height() - height) / 2);
    };
    ASSERT_TRUE(runtime->loadWindow(kitchenMainWindow, std::nullopt, false));
    QWidget* main = shownTopLevel("kitchenMainWindow");
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->frameGeometry().topLeft(), centred(271, 238));
    QPoint about;
    whileAboutIsOpen(main, [&](QWidget* w) { about = w->frameGeometry().topLeft(); });
    EXPECT_EQ(about, centred(284, 140));
}

} // namespace
