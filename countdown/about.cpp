// The uses message, the "关于我们" link and the studio picture.
#include "countdown.h"
#include "framework.h"

namespace {
void showUses()
{
    (void)ShowMessageBox("此程序可以倒计时、建议一些用途如下：\r\n"
                         " 1.吃泡面、建议5分钟\r\n"
                         " 2.倒计时娱乐时间、避免浪费时间\r\n"
                         " 3.出门约定、见面、或约会\r\n"
                         " 4.睡午觉时间倒计时\r\n"
                         " 5.某些计划的需要、紧急倒计时",
                         0, Text("程序用途"));
}
} // namespace

void onPurposeLinkLabelLeftButtonDown(int, int, int) { showUses(); }
void onPurposeShortLinkLabelLeftButtonDown(int, int, int) { showUses(); }
void onAboutLinkLabelLeftButtonDown(int, int, int) { SetUnitProperty(mainWindow, "选择夹1", Prop::currentPage, 4); }
void onAboutBoardLeftButtonDown(int, int, int) { SetUnitProperty(mainWindow, "图片框1", Prop::visible, true); }
void onStudioNameLabelLeftButtonDown(int, int, int) { SetUnitProperty(mainWindow, "图片框1", Prop::visible, true); }
void onAboutPictureLeftButtonDown(int, int, int) { SetUnitProperty(mainWindow, "图片框1", Prop::visible, false); }
