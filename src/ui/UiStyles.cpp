#include "ui/UiStyles.h"

#include "platform/TextCodec.h"

#include <QPushButton>

const char* const main_button_style =
    "QPushButton{background-color: rgb(16, 78, 159); color: white; border-radius: 10px;"
    " border: 2px groove white; border-style: outset;}"
    "QPushButton:hover{background-color: rgb(156, 156, 156);}"
    "QPushButton:pressed{background-color: rgb(156, 156, 156); border-style: inset;}";
const char* const main_button_style_no_file =
    "QPushButton{background-color: rgb(191, 191, 191); color: rgb(128, 128, 128); border-radius: 10px;"
    " border: 2px groove white; border-style: outset;}"
    "QPushButton:hover{background-color: rgb(156, 156, 156);}"
    "QPushButton:pressed{background-color: rgb(156, 156, 156); border-style: inset;}";
const char* const backGroud_style = "background-color: rgb(54, 100, 139);";
const char* const header_bar_style = "background-color: rgb(191, 191, 191);";
const char* const light_strip_style = "background-color: rgb(236, 246, 255);";
const char* const type_page_style = "background-color: rgb(74 ,112, 139);";
const char* const dialog_button_style =
    "QPushButton{background-color: rgb(191, 191, 191); border-radius: 10px; border: 2px groove white;"
    " border-style: outset; padding: 4px 16px;}"
    "QPushButton:hover{background-color: rgb(156, 156, 156);}"
    "QPushButton:pressed{background-color: rgb(156, 156, 156); border-style: inset;}";

const char* const check_box_style =
    "QCheckBox{background: transparent;}"
    "QCheckBox::indicator{width: 22px; height: 22px;}"
    "QCheckBox::indicator:unchecked{image: url(:/image/check_off.png);}"
    "QCheckBox::indicator:checked{image: url(:/image/check_on.png);}"
    "QCheckBox::indicator:indeterminate{image: url(:/image/check_part.png);}";

const char* const kVersionText = "Version 1.8.8.9";

void SetActionButtonEnabled(QPushButton* button, bool enabled) {
    if (!button) return;
    button->setStyleSheet(enabled ? main_button_style : main_button_style_no_file);
    button->setEnabled(enabled);
}

QString FromAnsi(const char* text) {
    if (!text || !*text) return QString();
    return QString::fromStdWString(Ansi2Unicode(text));
}

QString FromWide(const wchar_t* text) {
    if (!text) return QString();
    return QString::fromWCharArray(text);
}
