// The window's look in one place: colours and the style sheets shared by the
// pages and dialogs, so that every page looks the same.
#pragma once

namespace tessaroo::app::style
{
constexpr const char* WINDOW_BACKGROUND = "#F3F5F9";
constexpr const char* TITLE_BACKGROUND = "#1E3A5F";

// A button that can be disabled wears one of these two looks.
constexpr const char* BUTTON_ENABLED =
    "QPushButton { color: white; background-color: #1F56A8; border: none; border-radius: 10px;"
    " font-family: Arial; font-size: 11pt; font-weight: bold; padding: 0 18px; }"
    "QPushButton:hover { background-color: #2F6FD0; }"
    "QPushButton:pressed { background-color: #1E3A5F; }";
constexpr const char* BUTTON_DISABLED =
    "QPushButton { color: #9AA3AD; background-color: #E1E5EA; border: none; border-radius: 10px;"
    " font-family: Arial; font-size: 11pt; font-weight: bold; padding: 0 18px; }";

// Icon buttons of the title strip: no frame, a light disc under the pointer.
constexpr const char* TITLE_BUTTON =
    "QPushButton { border: none; background: transparent; border-radius: 12px; }"
    "QPushButton:hover { background-color: rgba(255, 255, 255, 40); }"
    "QPushButton:pressed { background-color: rgba(255, 255, 255, 70); }";

constexpr const char* TITLE_STRIP = "#titleStrip { background-color: #1E3A5F; }";
constexpr const char* BANNER = "color: white; font-family: Arial; font-size: 12pt; font-weight: bold;";
constexpr const char* VERSION_LABEL = "color: #8A94A0; font-family: Arial; font-size: 9pt;";
constexpr const char* HEADER_TEXT = "color: #1E3A5F; font-family: Arial; font-size: 11pt;";

// The six kind cards of page 1.
constexpr const char* KIND_CARD =
    "#kindCard { background-color: white; border: 1px solid #DDE3EA; border-radius: 12px; }";
constexpr const char* KIND_CHECK =
    "QCheckBox { color: #1E3A5F; font-family: Arial; font-size: 13pt; font-weight: bold; spacing: 10px; }"
    "QCheckBox::indicator { width: 20px; height: 20px; }";
constexpr const char* ALL_CHECK =
    "QCheckBox { color: #1E3A5F; font-family: Arial; font-size: 11pt; spacing: 8px; }"
    "QCheckBox::indicator { width: 18px; height: 18px; }";

constexpr const char* DISK_TREE =
    "QTreeWidget { background-color: white; border: 1px solid #DDE3EA; border-radius: 8px; color: #1E3A5F;"
    " outline: 0; }"
    "QTreeWidget::item:selected { background-color: #D6E4FA; color: #1E3A5F; }"
    "QHeaderView::section { background-color: #EEF2F7; color: #56657A; border: none;"
    " border-bottom: 1px solid #DDE3EA; padding: 6px; font-family: Arial; font-size: 10pt; font-weight: "
    "bold; }";

// Dialogs: a thin frame (they have no window decoration), a dark header
// with the title, body text.
constexpr const char* DIALOG_FRAME = "#%1 { background-color: #F3F5F9; border: 1px solid #1E3A5F; }";
constexpr const char* DIALOG_HEADER =
    "background-color: #1E3A5F; color: white; font-family: Arial; font-size: 11pt; font-weight: bold;";
constexpr const char* DIALOG_TITLE =
    "background-color: #1E3A5F; color: white; font-family: Arial; font-size: 10pt; font-weight: bold;";
constexpr const char* DIALOG_TEXT = "color: #1E3A5F; font-family: Arial; font-size: 10pt;";
constexpr const char* PROGRESS_BAR =
    "QProgressBar { border: 1px solid #C5CEDA; border-radius: 6px; background-color: white; color: #1E3A5F;"
    " text-align: center; font-family: Arial; font-size: 9pt; }"
    "QProgressBar::chunk { background-color: #2F6FD0; border-radius: 5px; }";

// Page 3.
constexpr const char* RESULT_TABLE =
    "QTableView, QTableWidget { background-color: white; border: 1px solid #DDE3EA; color: #1E3A5F;"
    " font-family: Arial; font-size: 10pt; selection-background-color: #D6E4FA; selection-color: #1E3A5F;"
    " outline: 0; }"
    "QHeaderView::section { background-color: #EEF2F7; color: #56657A; border: none;"
    " border-bottom: 1px solid #DDE3EA; padding: 4px; font-family: Arial; font-size: 9pt; font-weight: bold; "
    "}";
constexpr const char* PREVIEW_AREA =
    "#previewArea { background-color: white; border: 1px solid #DDE3EA; }"
    "QLabel { color: #8A94A0; font-family: Arial; font-size: 10pt; background-color: white; }"
    "QPlainTextEdit { color: #1E3A5F; background-color: white; border: 1px solid #DDE3EA; }";
constexpr const char* SELECTION_TEXT =
    "color: #1E3A5F; font-family: Arial; font-size: 10pt; font-weight: bold;";
} // namespace tessaroo::app::style
