// The floors of the start-up benchmark: a bare Qt window, and with "cjk" the
// same window showing one Chinese label in the programs' default face, which
// costs what any Chinese window pays for its font.
//   floor_window [cjk]
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <cstring>

int main(int argc, char** argv)
{
    const bool cjk = argc > 1 && std::strcmp(argv[1], "cjk") == 0;
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(cjk ? QStringLiteral("中文窗口") : QStringLiteral("bare window"));
    window.resize(400, 297);
    if (cjk) {
        QFont font(QStringLiteral("AR PL UMing CN"));
        font.setPixelSize(12);
        auto* label = new QLabel(QStringLiteral("倒计时提示"), &window);
        label->setFont(font);
        label->move(10, 10);
    }
    window.show();
    return app.exec();
}
