#pragma once
// Colours and button styles shared by every page and dialog of the application.
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

extern const char* const main_button_style;         // enabled action button
extern const char* const main_button_style_no_file; // disabled action button
extern const char* const backGroud_style;           // footer bar and dialog headers
extern const char* const header_bar_style;          // grey strip with close and minimise
extern const char* const light_strip_style;         // strip under the heading of media and result pages
extern const char* const type_page_style;           // background of the file-type page
extern const char* const dialog_button_style;       // grey rounded buttons of the dialogs
extern const char* const check_box_style;           // category boxes on coloured backgrounds

extern const char* const kVersionText;

// Enables an action button with the main style, or disables it with the grey one.
void SetActionButtonEnabled(QPushButton* button, bool enabled);

// Text conversions for names that come from the engines.
QString FromAnsi(const char* text); // the program's 8-bit code page
QString FromWide(const wchar_t* text);
